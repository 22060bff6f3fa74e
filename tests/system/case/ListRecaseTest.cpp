#include "platform/common/Error.h"
#include "system/case/Case.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace orl::Case {
namespace {

// A list whose items are plain texts; it records each write by position and
// rejects positions outside 1 to count, as a list control would.
class RecordingListItems final : public ui::ListItems {
 public:
  explicit RecordingListItems(QStringList texts) : texts_(std::move(texts)) {}

  int count() const override { return static_cast<int>(texts_.size()); }
  QString text(int position) const override { return texts_.at(checked(position)); }
  void setText(int position, const QString& text) override {
    texts_[checked(position)] = text;
    written.push_back(position);
  }

  const QStringList& texts() const { return texts_; }
  std::vector<int> written;

 private:
  qsizetype checked(int position) const {
    if (position < 1 || position > count()) throw Error(ErrorNumber::InvalidCall, "Index out of bounds");
    return position - 1;
  }
  QStringList texts_;
};

using ListProcedure = void (*)(ui::ListItems&);
const ListProcedure allProcedures[] = {ListUpperCase, ListLowerCase, ListProperCase, ListSentenceCase};

int errorNumberOf(ListProcedure procedure, ui::ListItems& list) {
  try {
    procedure(list);
  } catch (const Error& error) {
    return error.number();
  }
  return 0;
}

QStringList numberedEntries(int count) {
  QStringList entries;
  for (int i = 1; i <= count; ++i) entries << QStringLiteral("eNTRY nUMBER %1").arg(i);
  return entries;
}

TEST(ListRecase, EachProcedureAppliesItsTransformToEveryItem) {
  const QStringList original = {"hELLO wORLD", "", " LEADING space"};
  struct Expected {
    ListProcedure procedure;
    QStringList texts;
  };
  const Expected cases[] = {
      {ListUpperCase, {"HELLO WORLD", "", " LEADING SPACE"}},
      {ListLowerCase, {"hello world", "", " leading space"}},
      {ListProperCase, {"Hello World", "", " Leading Space"}},
      {ListSentenceCase, {"Hello world", "", " leading space"}},
  };
  for (const Expected& expected : cases) {
    RecordingListItems list(original);
    expected.procedure(list);
    EXPECT_EQ(list.texts(), expected.texts);
    EXPECT_EQ(list.written, (std::vector<int>{1, 2, 3}));
  }
}

TEST(ListRecase, AHundredEntriesAreAllRecasedInOrder) {
  RecordingListItems list(numberedEntries(100));
  ListProperCase(list);
  ASSERT_EQ(list.count(), 100);
  EXPECT_EQ(list.texts().first(), "Entry Number 1");
  EXPECT_EQ(list.texts().last(), "Entry Number 100");
  ASSERT_EQ(list.written.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(list.written[i], i + 1);
}

TEST(ListRecase, EmptyListIsLeftAlone) {
  for (ListProcedure procedure : allProcedures) {
    RecordingListItems list({});
    EXPECT_EQ(errorNumberOf(procedure, list), 0);
    EXPECT_TRUE(list.written.empty());
  }
}

TEST(ListRecase, RecasingTwiceGivesTheSameAsOnce) {
  const QStringList original = {"o'NEIL", QStringLiteral("a\tb\rc\nd"), " JOHN", "3RD street"};
  for (ListProcedure procedure : allProcedures) {
    RecordingListItems list(original);
    procedure(list);
    const QStringList once = list.texts();
    procedure(list);
    EXPECT_EQ(list.texts(), once);
  }
}

TEST(ListRecase, FailureHalfWayKeepsEarlierItemsRecasedAndLaterOnesUnchanged) {
  QStringList entries = numberedEntries(100);
  entries[49] = QString(32767, u'X');
  RecordingListItems list(entries);

  EXPECT_EQ(errorNumberOf(ListProperCase, list), ErrorNumber::Overflow);

  EXPECT_EQ(list.texts()[48], "Entry Number 49");
  EXPECT_EQ(list.texts()[49], entries[49]);
  EXPECT_EQ(list.texts()[50], "eNTRY nUMBER 51");
  EXPECT_EQ(list.written.size(), 49u);
}

TEST(ListRecase, SixteenBitItemCountOverflows) {
  // 32,766 items fit; at 32,767 the position overflows after the last item;
  // a larger count does not fit at all and nothing is touched.
  RecordingListItems fits(QStringList(32766, "a"));
  EXPECT_EQ(errorNumberOf(ListUpperCase, fits), 0);
  EXPECT_EQ(fits.texts().last(), "A");

  RecordingListItems exact(QStringList(32767, "a"));
  EXPECT_EQ(errorNumberOf(ListUpperCase, exact), ErrorNumber::Overflow);
  EXPECT_EQ(exact.written.size(), 32767u);

  RecordingListItems larger(QStringList(32768, "a"));
  EXPECT_EQ(errorNumberOf(ListUpperCase, larger), ErrorNumber::Overflow);
  EXPECT_TRUE(larger.written.empty());
}

TEST(ListRecase, ListNameCaseAppliesNameCaseToEveryItemOnce) {
  RecordingListItems list({"o'BRIEN", "", "van der BERG", "henry viii"});
  ListNameCase(list);
  EXPECT_EQ(list.texts(), (QStringList{"O'Brien", "", "Van der Berg", "Henry VIII"}));
  EXPECT_EQ(list.written, (std::vector<int>{1, 2, 3, 4}));
  ListNameCase(list);
  EXPECT_EQ(list.texts(), (QStringList{"O'Brien", "", "Van der Berg", "Henry VIII"}));
}

}  // namespace
}  // namespace orl::Case

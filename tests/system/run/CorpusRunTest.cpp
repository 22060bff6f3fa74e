#include "platform/common/Error.h"
#include "platform/pdx/IndexBuild.h"
#include "platform/pdx/IndexCheck.h"
#include "platform/pdx/TableUpdate.h"
#include "system/case/Case.h"
#include "tools/pdxtool/Diff.h"
#include "tests/system/run/RunFixture.h"

#include <QDirIterator>

#include <sstream>

namespace orl::test {
namespace {

struct Choice {
  const char* text;
  QString (*transform)(const QString&);
};
const Choice Choices[] = {{"UPPER CASE", Case::Upper},
                          {"lower case", Case::Lower},
                          {"Proper Case", Case::ProperCase},
                          {"Sentence case", Case::SentenceCase}};

// Every readable corpus table, by its path below tables/.
QStringList readableCorpusTables() {
  QStringList tables;
  const QString root = QStringLiteral(ORLINTIDE_CORPUS_DIR "/tables/");
  QDirIterator walk(root, {QStringLiteral("*.db")}, QDir::Files, QDirIterator::Subdirectories);
  while (walk.hasNext()) {
    const QString path = walk.next();
    try {
      if (!pdx::Table::inspect(path.toStdString()).encrypted) tables << path.mid(root.size());
    } catch (const pdx::Error&) {
    }
  }
  tables.sort();
  return tables;
}

// A table file or memo file, by its extension in any letter case.
bool isTableOrMemoFile(const QString& name) {
  const QString extension = QFileInfo(name).suffix().toUpper();
  return extension == QStringLiteral("DB") || extension == QStringLiteral("MB");
}

// The index files (trees included) a change of field `number` (from 1)
// rebuilds, or nothing when one of them cannot be rebuilt exactly.
std::optional<QStringList> rebuiltIndexes(const std::string& tablePath, int number) {
  const pdx::TableHeader header = pdx::Table::inspect(tablePath);
  if (header.keyed() && number <= header.keyFieldCount && !pdx::sortOrderReproducible(header)) return std::nullopt;
  const pdx::IndexDescription indexes = pdx::describeIndexes(tablePath);
  QStringList files;
  for (const std::string& name : pdx::indexesInvolving(indexes, {number})) {
    try {
      pdx::checkRebuildable(tablePath, {name});
    } catch (const pdx::Error&) {
      return std::nullopt;
    }
    files << QString::fromStdString(name);
    for (const pdx::SecondaryIndex& index : indexes.secondary)
      if (index.indexFile == name && !index.treeFile.empty()) files << QString::fromStdString(index.treeFile);
  }
  return files;
}

// A table's rows as text, field `changed` as `expected` gives it; sorted
// when the run may have moved the records.
std::vector<QStringList> comparableRows(const std::vector<std::vector<ado::Value>>& rows, std::size_t changed,
                                        const std::function<QString(const ado::Value&)>& expected, bool sorted) {
  std::vector<QStringList> out;
  for (const auto& row : rows) {
    QStringList texts;
    for (std::size_t c = 0; c < row.size(); ++c) texts << (c == changed ? expected(row[c]) : Comparable(row[c]));
    out.push_back(texts);
  }
  if (sorted) std::sort(out.begin(), out.end());
  return out;
}

// For every alpha or memo field of every readable corpus table and each of
// the four cases: the table reads back with that field transformed and every
// other field as it was, the header and every family file but the table and
// its memo file stay byte for byte, the preview is re-cased and "Done." is
// shown once. A field a key or an index covers has that index rebuilt (the
// records re-sorted for a key) where its sort order is reproduced, and asks
// first otherwise; No changes nothing. Every table a run wrote passes the check.
TEST(CorpusRun, EveryTextFieldOfEveryTableInEveryCase) {
  const QStringList tables = readableCorpusTables();
  if (tables.isEmpty()) GTEST_SKIP() << "corpus absent";
  pdx::PosixFileOps files;
  int runs = 0;
  for (const QString& relative : tables) {
    const QString stem = QFileInfo(relative).completeBaseName();
    const TableContent original = ReadTable(QStringLiteral(ORLINTIDE_CORPUS_DIR "/tables/") + relative);
    for (std::size_t f = 0; f < original.fields.size(); ++f) {
      const pdx::Field& field = original.fields[f];
      if (field.type != pdx::FieldType::Alpha && field.type != pdx::FieldType::Memo) continue;
      for (const Choice& choice : Choices) {
        SCOPED_TRACE((relative + QStringLiteral(" ") + QString::fromStdString(field.name) + QStringLiteral(" ") +
                      QLatin1String(choice.text))
                         .toStdString());
        DataFolders folders;
        ASSERT_TRUE(folders.copyCorpusTable(relative));
        RecordingMessageBoxes boxes;
        FakeTime time(0);
        FakeRunWindow window;
        window.table = stem.toUpper();
        window.folder = folders.dataFolder();
        window.field = QString::fromStdString(field.name);
        window.choice = QLatin1String(choice.text);
        for (std::size_t r = 0; r < original.rows.size() && r < 100; ++r)
          window.previewList.items << Main::NullToDefault(original.rows[r][f], ado::Value::text(QString())).toText();
        const QStringList previewBefore = window.previewList.items;
        Run::RunServices services{boxes, time, time, folders.programFolder()};
        const auto copied = folders.snapshot();
        const std::string tablePath = folders.path(QFileInfo(relative).fileName()).toStdString();
        const pdx::FieldIndexes covering = pdx::indexesOfField(files, tablePath, f);
        const auto rebuilt = rebuiltIndexes(tablePath, static_cast<int>(f) + 1);
        ++runs;
        if (covering.any() && field.type == pdx::FieldType::Alpha && !rebuilt) {
          EXPECT_FALSE(Run::PushButton1_Click(window, services));
          EXPECT_EQ(boxes.questions().size(), 1);
          EXPECT_TRUE(boxes.informs().isEmpty());
          EXPECT_EQ(folders.snapshot(), copied);
          continue;
        }
        if (!Run::PushButton1_Click(window, services)) {
          // Only a new value that the table's code page cannot hold, or a new
          // key that two records would share, may stop the run, and then the
          // table stays exactly as it was.
          ASSERT_EQ(boxes.errorReports().size(), 1);
          const QString& report = boxes.errorReports().front();
          EXPECT_TRUE(report.contains(QStringLiteral("cannot hold")) ||
                      (covering.key && report.contains(QStringLiteral("must be unique"))))
              << report.toStdString();
          EXPECT_TRUE(boxes.errorReports().front().contains(QStringLiteral("at line 178")));
          EXPECT_EQ(folders.snapshot(), copied);
          continue;
        }
        EXPECT_EQ(boxes.informs(), QStringList{QStringLiteral("Done.")});
        // A value the transform cannot take (a memo of 32,767 characters or
        // more under Proper case) is reported once and left as it was.
        // A letter whose new case the code page lacks stays as it was.
        const pdx::CodePage codePage(
            pdx::Table::inspect(folders.path(QFileInfo(relative).fileName()).toStdString()).textCodePage());
        const auto expectedOf = [&](const ado::Value& value) {
          try {
            const QString text = choice.transform(value.toText());
            const auto kept = pdx::keepUnholdableLetters(value.toText().toStdString(), text.toStdString(), codePage);
            return Comparable(ado::Value::text(kept ? QString::fromStdString(*kept) : text));
          } catch (const Error&) {
            return Comparable(value);
          }
        };
        int untransformable = 0;
        QSet<QString> seen;
        for (const auto& row : original.rows) {
          const QString text = row[f].toText();
          if (seen.contains(text)) continue;
          seen.insert(text);
          try {
            choice.transform(text);
          } catch (const Error&) {
            ++untransformable;
          }
        }
        // The preview re-casing stops at such an entry and reports it too.
        bool previewFails = false;
        for (const QString& entry : previewBefore) {
          try {
            choice.transform(entry);
          } catch (const Error&) {
            previewFails = true;
          }
        }
        EXPECT_EQ(boxes.errorReports().size(), untransformable + (previewFails ? 1 : 0))
            << boxes.errorReports().join(QLatin1Char('\n')).toStdString();

        const auto written = folders.snapshot();
        ASSERT_EQ(written.size(), copied.size());
        for (const auto& [name, bytes] : copied) {
          if (!isTableOrMemoFile(name) && !(rebuilt && rebuilt->contains(name))) {
            EXPECT_EQ(written.at(name), bytes) << name.toStdString();
          }
        }
        const auto headerSize = pdx::Table::inspect(folders.path(QFileInfo(relative).fileName()).toStdString()).headerSize;
        EXPECT_EQ(written.at(QFileInfo(relative).fileName()).left(headerSize),
                  copied.at(QFileInfo(relative).fileName()).left(headerSize));
        EXPECT_EQ(pdx::checkTable(tablePath), std::vector<std::string>{});
        // pdxtool diff against the corpus original finds the changed values of the field and nothing else.
        std::ostringstream differences;
        pdxtool::writeDiff((QStringLiteral(ORLINTIDE_CORPUS_DIR "/tables/") + relative).toStdString(),
                           folders.path(QFileInfo(relative).fileName()).toStdString(), differences);
        std::istringstream lines(differences.str());
        // Records put in a new key order differ by place; the rows are compared below.
        for (std::string line; !covering.key && std::getline(lines, line);) {
          // A changed memo changes the bytes of the memo file where its text is.
          if (field.type == pdx::FieldType::Memo && line.rfind("family file .MB: ", 0) == 0) continue;
          // A rebuilt index is checked against the records above.
          if (rebuilt && !rebuilt->isEmpty() && line.rfind("family file .", 0) == 0) continue;
          EXPECT_EQ(line.rfind("record ", 0), 0u) << line;
          EXPECT_NE(line.find(", \"" + field.name + "\": "), std::string::npos) << line;
        }
        const TableContent after = ReadTable(folders.path(QFileInfo(relative).fileName()));
        // Records whose key changed lie in the new key's order.
        const bool moved = covering.key;
        const auto asRead = [](const ado::Value& value) { return Comparable(value); };
        EXPECT_EQ(comparableRows(after.rows, f, asRead, moved), comparableRows(original.rows, f, expectedOf, moved));
        if (!previewFails) {
          for (qsizetype i = 0; i < previewBefore.size(); ++i)
            EXPECT_EQ(window.previewList.items[i], choice.transform(previewBefore[i]));
        }
      }
    }
  }
  EXPECT_GT(runs, 0);
}

}  // namespace
}  // namespace orl::test

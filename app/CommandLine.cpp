#include "app/CommandLine.h"

#include "platform/ado/RecordSet.h"
#include "platform/common/Error.h"
#include "platform/common/TimeOfDayClock.h"
#include "platform/fso/PosixFileSystem.h"
#include "platform/ui/QtEventPump.h"
#include "system/case/Case.h"
#include "system/main/Main.h"
#include "system/paradox/Paradox.h"
#include "system/paradox/TableListing.h"
#include "system/run/CaseChangeRun.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

#include <cmath>

namespace orl::app {

namespace {

constexpr int Succeeded = 0;
constexpr int Failed = 1;
constexpr int Misused = 2;
constexpr int PreviewEntries = 100;

void print(std::FILE* stream, const QString& text) {
  const QByteArray bytes = text.toUtf8();
  std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
}

// Error reports to standard error, plain messages to standard output; a
// question is answered No, since nobody is there to answer it.
class TerminalMessageBoxes final : public ui::MessageBoxes {
 public:
  TerminalMessageBoxes(std::FILE* output, std::FILE* errors, bool answerYes = false)
      : output_(output), errors_(errors), answerYes_(answerYes) {}
  void showErrorReport(const QString& text) override {
    ++reports;
    // The report separates its parts with carriage returns, which a terminal would overprint.
    print(errors_, QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n')) +
                       QLatin1Char('\n'));
  }
  void inform(const QString& text) override { print(output_, text + QLatin1Char('\n')); }
  bool askYesNo(const QString& text) override {
    print(errors_, text + (answerYes_ ? QStringLiteral(" (answered Yes: --drop-indexes)\n")
                                      : QStringLiteral(" (answered No: nothing was changed; --drop-indexes answers Yes)\n")));
    return answerYes_;
  }
  int reports = 0;

 private:
  std::FILE* output_;
  std::FILE* errors_;
  bool answerYes_;
};

class TextList final : public ui::ListItems {
 public:
  int count() const override { return static_cast<int>(items.size()); }
  QString text(int position) const override { return items.at(position - 1); }
  void setText(int position, const QString& text) override { items[position - 1] = text; }
  QStringList items;
};

// The main window as the command line stands in for it.
class TerminalWindow final : public Run::RunWindow {
 public:
  TerminalWindow(QString table, QString folder, QString field, int fieldCount, QString choice, TextList& preview,
                 std::FILE* progress)
      : table_(std::move(table)),
        folder_(std::move(folder)),
        field_(std::move(field)),
        fieldCount_(fieldCount),
        choice_(std::move(choice)),
        preview_(preview),
        progress_(progress) {}

  QString selectedTable() const override { return table_; }
  QString selectedTableFolder() const override { return folder_; }
  QString selectedField() const override { return field_; }
  int fieldCount() const override { return fieldCount_; }
  QString caseChoice() const override { return choice_; }
  ui::ListItems& preview() override { return preview_; }
  void setProgressValue(double percent) override {
    if (!progress_) return;
    const int shown = static_cast<int>(std::floor(percent));
    if (shown == lastShown_) return;
    lastShown_ = shown;
    std::fprintf(progress_, "\rChanging case: %3d%%", shown);
    std::fflush(progress_);
  }
  void setProgressText(const QString&) override {
    if (progress_ && lastShown_ >= 0) std::fputc('\n', progress_);
    lastShown_ = -1;
  }
  void setMousePointer(int) override {}

 private:
  QString table_, folder_, field_;
  int fieldCount_;
  QString choice_;
  TextList& preview_;
  std::FILE* progress_;
  int lastShown_ = -1;
};

// "orders.db" and "orders" name the table the table list shows as ORDERS.
QString tableNameOf(QString text) {
  if (text.endsWith(QStringLiteral(".db"), Qt::CaseInsensitive)) text.chop(3);
  return Case::Upper(text);
}

// The case-choice text for a case word, or the choice text itself.
std::optional<QString> caseChoiceOf(const QString& word) {
  static const QStringList Choices = {QStringLiteral("UPPER CASE"), QStringLiteral("lower case"),
                                      QStringLiteral("Proper Case"), QStringLiteral("Sentence case")};
  static const QStringList Words = {QStringLiteral("upper"), QStringLiteral("lower"), QStringLiteral("proper"),
                                    QStringLiteral("sentence")};
  for (qsizetype i = 0; i < Words.size(); ++i)
    if (word.compare(Words[i], Qt::CaseInsensitive) == 0 || word == Choices[i]) return Choices[i];
  return std::nullopt;
}

struct TableField {
  QString name;
  int type;
};

std::vector<TableField> fieldsOf(const QString& folder, const QString& table, const ado::Seams& seams) {
  ado::Connection connection(seams);
  ado::RecordSet records;
  connection.setMode(ado::adModeReadWrite);
  connection.open(Paradox::ParadoxConnectionString(folder));
  records.open(QStringLiteral("SELECT * FROM `") + table + QLatin1Char('`'), connection, ado::adOpenStatic,
               ado::adLockOptimistic);
  std::vector<TableField> fields;
  for (int i = 0; i < records.fields().count(); ++i)
    fields.push_back({records.fields().item(i).name(), records.fields().item(i).type()});
  records.close();
  connection.close();
  return fields;
}

QStringList previewOf(const QString& folder, const QString& table, const QString& field, const ado::Seams& seams) {
  ado::Connection connection(seams);
  ado::RecordSet records;
  connection.setMode(ado::adModeReadWrite);
  connection.open(Paradox::ParadoxConnectionString(folder));
  records.open(QStringLiteral("SELECT `") + field + QStringLiteral("` FROM `") + table + QLatin1Char('`'), connection,
               ado::adOpenStatic, ado::adLockOptimistic);
  QStringList entries;
  const ado::Value empty = ado::Value::text(QString());
  while (!records.eof() && entries.size() < PreviewEntries) {
    const ado::Value& value = records.fields().item(0).value();
    entries << (value.kind() == ado::Value::Kind::Bytes ? QStringLiteral("(%1 bytes)").arg(value.asBytes().size())
                                                         : Main::NullToDefault(value, empty).toText());
    records.moveNext();
  }
  records.close();
  connection.close();
  return entries;
}

QString usage() {
  return QStringLiteral(
      "Usage:\n"
      "  orlintide --folder DIR --table T --field F --case upper|lower|proper|sentence\n"
      "  orlintide --folder DIR --list-tables\n"
      "  orlintide --folder DIR --table T --list-fields\n"
      "  orlintide --folder DIR --table T --field F --preview\n"
      "\n"
      "Rewrites the letter case of every value of field F of the Paradox table T\n"
      "(the file T.db in DIR, any letter case), as the main window's \"Start\n"
      "Changing Case\" command does. The case may also be given as the window's\n"
      "choice text: \"UPPER CASE\", \"lower case\", \"Proper Case\", \"Sentence case\".\n"
      "The table is replaced only once the new one has been read back and checked.\n"
      "\n"
      "  --list-tables  the tables of DIR, as the table list names them\n"
      "  --list-fields  the fields of T with their data types\n"
      "  --preview      the first 100 entries of field F\n"
      "  --drop-indexes when F is a key or indexed field whose sort order or\n"
      "                 index a run cannot rebuild exactly, let the table lose\n"
      "                 that index (or, for a key field, its key and every\n"
      "                 index); without it such a run changes nothing and exits\n"
      "                 with status 1\n"
      "  --help         this text\n"
      "\n"
      "Error reports go to standard error. The exit status is 0 on success, 1\n"
      "after any reported error, 2 when the arguments are wrong.\n");
}

}  // namespace

int RunCommandLine(const QStringList& arguments, const QString& programFolder, std::FILE* output,
                   std::FILE* errors, bool errorsIsTerminal) {
  QCommandLineParser parser;
  const QCommandLineOption folderOption(QStringLiteral("folder"), QString(), QStringLiteral("DIR"));
  const QCommandLineOption tableOption(QStringLiteral("table"), QString(), QStringLiteral("T"));
  const QCommandLineOption fieldOption(QStringLiteral("field"), QString(), QStringLiteral("F"));
  const QCommandLineOption caseOption(QStringLiteral("case"), QString(), QStringLiteral("CASE"));
  const QCommandLineOption listTables(QStringLiteral("list-tables"));
  const QCommandLineOption listFields(QStringLiteral("list-fields"));
  const QCommandLineOption preview(QStringLiteral("preview"));
  const QCommandLineOption help(QStringLiteral("help"));
  const QCommandLineOption dropIndexes(QStringLiteral("drop-indexes"));
  parser.addOptions({folderOption, tableOption, fieldOption, caseOption, listTables, listFields, preview, help,
                     dropIndexes});
  const auto misuse = [&](const QString& why) {
    print(errors, why + QStringLiteral("\n\n") + usage());
    return Misused;
  };
  if (!parser.parse(arguments)) return misuse(parser.errorText());
  if (parser.isSet(help)) {
    print(output, usage());
    return Succeeded;
  }
  if (!parser.positionalArguments().isEmpty())
    return misuse(QStringLiteral("Unexpected argument: %1").arg(parser.positionalArguments().front()));
  if (!parser.isSet(folderOption)) return misuse(QStringLiteral("--folder is needed."));
  const QString folder = parser.value(folderOption);
  const QString table = tableNameOf(parser.value(tableOption));
  const ado::Seams seams;

  try {
    if (parser.isSet(listTables)) {
      if (!QFileInfo(folder).isDir()) throw Error::pathNotFound(folder);
      fso::PosixFileSystem fileSystem;
      QStringList tables = Paradox::TableNamesInFolder(folder, fileSystem);
      tables.sort(Qt::CaseInsensitive);
      for (const QString& name : tables) print(output, name + QLatin1Char('\n'));
      return Succeeded;
    }
    if (table.isEmpty()) return misuse(QStringLiteral("--table is needed."));
    const std::vector<TableField> fields = fieldsOf(folder, table, seams);
    if (parser.isSet(listFields)) {
      for (const TableField& field : fields)
        print(output, field.name + QLatin1Char('\t') +
                          Paradox::AdoTypeName(static_cast<std::int16_t>(field.type)) + QLatin1Char('\n'));
      return Succeeded;
    }
    if (!parser.isSet(fieldOption)) return misuse(QStringLiteral("--field is needed."));
    // The field as the driver reports it, found without regard to letter case.
    QString field;
    for (const TableField& candidate : fields)
      if (candidate.name.compare(parser.value(fieldOption), Qt::CaseInsensitive) == 0) field = candidate.name;
    if (field.isEmpty())
      throw Error::provider(QStringLiteral("The table '%1' has no field '%2'.").arg(table, parser.value(fieldOption)));

    TextList entries;
    entries.items = previewOf(folder, table, field, seams);
    if (parser.isSet(preview)) {
      for (const QString& entry : entries.items) print(output, entry + QLatin1Char('\n'));
      return Succeeded;
    }
    if (!parser.isSet(caseOption)) return misuse(QStringLiteral("--case is needed."));
    const auto choice = caseChoiceOf(parser.value(caseOption));
    if (!choice) return misuse(QStringLiteral("Unknown case: %1").arg(parser.value(caseOption)));

    TerminalMessageBoxes boxes(output, errors, parser.isSet(dropIndexes));
    ui::QtEventPump pump;
    SystemTimeOfDayClock clock;
    TerminalWindow window(table, folder, field, static_cast<int>(fields.size()), *choice, entries,
                          errorsIsTerminal ? errors : nullptr);
    Run::RunServices services{boxes, pump, clock, programFolder, seams};
    const bool done = Run::PushButton1_Click(window, services);
    return done && boxes.reports == 0 ? Succeeded : Failed;
  } catch (const Error& error) {
    print(errors, error.description() + QLatin1Char('\n'));
    return Failed;
  }
}

}  // namespace orl::app

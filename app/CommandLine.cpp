#include "app/CommandLine.h"

#include "platform/ado/RecordSet.h"
#include "platform/common/Error.h"
#include "platform/ado/ParadoxFolderDriver.h"
#include "platform/common/TimeOfDayClock.h"
#include "platform/pdx/WorkingNames.h"
#include "platform/fso/PosixFileSystem.h"
#include "platform/ui/QtEventPump.h"
#include "platform/ui/QtSettingsStore.h"
#include "system/case/Case.h"
#include "system/main/Main.h"
#include "system/paradox/Paradox.h"
#include "system/paradox/TableHistory.h"
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
  TerminalMessageBoxes(std::FILE* output, std::FILE* errors, bool answerYes = false,
                       QString yesOption = QStringLiteral("--drop-indexes"))
      : output_(output), errors_(errors), answerYes_(answerYes), yesOption_(std::move(yesOption)) {}
  void showErrorReport(const QString& text) override {
    ++reports;
    // The report separates its parts with carriage returns, which a terminal would overprint.
    print(errors_, QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n')) +
                       QLatin1Char('\n'));
  }
  void inform(const QString& text) override { print(output_, text + QLatin1Char('\n')); }
  void notify(const QString& text) override { inform(text); }
  bool askYesNo(const QString& text) override {
    print(errors_, text + (answerYes_ ? QStringLiteral(" (answered Yes: %1)\n").arg(yesOption_)
                                      : QStringLiteral(" (answered No: nothing was changed; %1 answers Yes)\n")
                                            .arg(yesOption_)));
    return answerYes_;
  }
  int reports = 0;

 private:
  std::FILE* output_;
  std::FILE* errors_;
  bool answerYes_;
  QString yesOption_;
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
  TerminalWindow(QString table, QString folder, QString field, QString choice, TextList& preview, std::FILE* progress)
      : table_(std::move(table)),
        folder_(std::move(folder)),
        field_(std::move(field)),
        choice_(std::move(choice)),
        preview_(preview),
        progress_(progress) {}

  // The command line names its table and field outright.
  bool tableShownSelected() const override { return true; }
  bool fieldShownSelected() const override { return true; }
  QString selectedTable() const override { return table_; }
  QString selectedTableFolder() const override { return folder_; }
  QString selectedField() const override { return field_; }
  QString caseChoice() const override { return choice_; }
  ui::ListItems& preview() override { return preview_; }
  void setProgressValue(double percent) override {
    if (!progress_) return;
    const int shown = static_cast<int>(std::floor(percent));
    if (shown == lastShown_) return;
    // The bar empties once the run is over; the line then ends.
    if (shown == 0 && lastShown_ > 0) {
      std::fputc('\n', progress_);
      lastShown_ = -1;
      return;
    }
    lastShown_ = shown;
    std::fprintf(progress_, "\rChanging case: %3d%%", shown);
    std::fflush(progress_);
  }
  void setProgressText(const QString&) override {}
  void setMousePointer(int) override {}

 private:
  QString table_, folder_, field_;
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

const QCommandLineOption FolderOption(QStringLiteral("folder"), QString(), QStringLiteral("DIR"));
const QCommandLineOption TableOption(QStringLiteral("table"), QString(), QStringLiteral("T"));
const QCommandLineOption FieldOption(QStringLiteral("field"), QString(), QStringLiteral("F"));
const QCommandLineOption CaseOption(QStringLiteral("case"), QString(), QStringLiteral("CASE"));
const QCommandLineOption ListTablesOption(QStringLiteral("list-tables"));
const QCommandLineOption ListFieldsOption(QStringLiteral("list-fields"));
const QCommandLineOption PreviewOption(QStringLiteral("preview"));
const QCommandLineOption HelpOption(QStringLiteral("help"));
const QCommandLineOption DropIndexesOption(QStringLiteral("drop-indexes"));
const QCommandLineOption HistoryOption(QStringLiteral("history"));
const QCommandLineOption RestoreOption(QStringLiteral("restore"), QString(), QStringLiteral("N"));
const QCommandLineOption EvenIfChangedOption(QStringLiteral("even-if-changed"));
const QCommandLineOption HistoryEntriesOption(QStringLiteral("history-entries"), QString(), QStringLiteral("N"));

QString usage() {
  return QStringLiteral(
      "Usage:\n"
      "  orlintide --folder DIR --table T --field F --case upper|lower|proper|sentence\n"
      "  orlintide --folder DIR --list-tables\n"
      "  orlintide --folder DIR --table T --list-fields\n"
      "  orlintide --folder DIR --table T --field F --preview\n"
      "  orlintide --folder DIR --table T --history\n"
      "  orlintide --folder DIR --table T --restore N\n"
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
      "  --history      the history of T: each run or restore that replaced it,\n"
      "                 numbered from 1 (the latest), with date and time,\n"
      "                 field, case and rows\n"
      "  --restore N    puts T back as it was before history entry N; the table\n"
      "                 it replaces becomes an entry itself\n"
      "  --even-if-changed  lets --restore go on when another program changed\n"
      "                 T since that entry; without it such a restore changes\n"
      "                 nothing and exits with status 1\n"
      "  --history-entries N  how many entries a run or restore keeps of T\n"
      "                 (0: none), instead of the setting HistoryEntries\n"
      "                 (default 10)\n"
      "  --help         this text\n"
      "\n"
      "Give one of --case, --list-tables, --list-fields, --preview, --history\n"
      "and --restore.\n"
      "Error reports go to standard error. The exit status is 0 on success, 1\n"
      "after any reported error, 2 when the arguments are wrong.\n");
}

// Arguments that do not make a whole request; the usage follows the reason.
struct Misuse {
  QString reason;
};

// One start of the command line: its arguments and where its output goes.
struct Invocation {
  const QCommandLineParser& parser;
  QString programFolder;
  std::FILE* output;
  std::FILE* errors;
  bool errorsIsTerminal;

  QString folder() const { return parser.value(FolderOption); }
  // The table as the table list names it; raises Misuse when none is given.
  QString table() const {
    const QString table = tableNameOf(parser.value(TableOption));
    if (table.isEmpty()) throw Misuse{QStringLiteral("--table is needed.")};
    return table;
  }
  // The field as the driver reports it, found without regard to letter case.
  QString field(const std::vector<TableField>& fields) const {
    if (!parser.isSet(FieldOption)) throw Misuse{QStringLiteral("--field is needed.")};
    const QString asked = parser.value(FieldOption);
    for (const TableField& candidate : fields)
      if (candidate.name.compare(asked, Qt::CaseInsensitive) == 0) return candidate.name;
    throw Error::provider(QStringLiteral("The table '%1' has no field '%2'; --list-fields shows its fields.")
                              .arg(tableNameOf(parser.value(TableOption)), asked));
  }
  // How many history entries a run or restore keeps: the option, or the setting.
  int historyEntries() const {
    if (!parser.isSet(HistoryEntriesOption)) {
      ui::QtSettingsStore settings;
      return Paradox::HistoryEntriesSetting(settings);
    }
    bool isNumber = false;
    const int entries = parser.value(HistoryEntriesOption).toInt(&isNumber);
    if (!isNumber || entries < 0)
      throw Misuse{QStringLiteral("--history-entries needs a whole number from 0: %1")
                       .arg(parser.value(HistoryEntriesOption))};
    return entries;
  }
};

int ListTables(const Invocation& call) {
  const QString folder = call.folder();
  if (!QFileInfo(folder).isDir()) throw Error::pathNotFound(folder);
  fso::PosixFileSystem fileSystem;
  QStringList leftAlone;
  QStringList tables = Paradox::TableNamesInFolder(folder, fileSystem, &leftAlone);
  tables.sort(Qt::CaseInsensitive);
  for (const QString& name : tables) print(call.output, name + QLatin1Char('\n'));
  for (const QString& line : leftAlone) print(call.errors, line + QLatin1Char('\n'));
  return Succeeded;
}

int ListFields(const Invocation& call) {
  for (const TableField& field : fieldsOf(call.folder(), call.table(), ado::Seams{}))
    print(call.output, field.name + QLatin1Char('\t') + Paradox::AdoTypeName(static_cast<std::int16_t>(field.type)) +
                           QLatin1Char('\n'));
  return Succeeded;
}

int Preview(const Invocation& call) {
  const QString table = call.table();
  const QString field = call.field(fieldsOf(call.folder(), table, ado::Seams{}));
  for (const QString& entry : previewOf(call.folder(), table, field, ado::Seams{}))
    print(call.output, entry + QLatin1Char('\n'));
  return Succeeded;
}

int ChangeCase(const Invocation& call) {
  const QString table = call.table();
  const QString folder = call.folder();
  const QString field = call.field(fieldsOf(folder, table, ado::Seams{}));
  if (!call.parser.isSet(CaseOption)) throw Misuse{QStringLiteral("--case is needed.")};
  const auto choice = caseChoiceOf(call.parser.value(CaseOption));
  if (!choice) throw Misuse{QStringLiteral("Unknown case: %1").arg(call.parser.value(CaseOption))};

  // The preview the run re-cases, as the window would show it.
  TextList entries;
  entries.items = previewOf(folder, table, field, ado::Seams{});
  TerminalMessageBoxes boxes(call.output, call.errors, call.parser.isSet(DropIndexesOption));
  ui::QtEventPump pump;
  SystemTimeOfDayClock clock;
  TerminalWindow window(table, folder, field, *choice, entries, call.errorsIsTerminal ? call.errors : nullptr);
  Run::RunServices services{boxes, pump, clock, call.programFolder, ado::Seams{}};
  services.historyEntries = call.historyEntries();
  const bool done = Run::PushButton1_Click(window, services);
  return done && boxes.reports == 0 ? Succeeded : Failed;
}

// --history: the table's history entries, the latest first.
int History(const Invocation& call) {
  const QString table = call.table();
  const auto entries = Paradox::HistoryOf(call.folder(), table);
  for (const auto& entry : entries)
    print(call.output, QStringLiteral("%1\t%2\t%3\t%4\t%5\n")
                           .arg(entry.number)
                           .arg(QString::fromStdString(entry.facts.when))
                           .arg((entry.facts.kind == "restore" ? QStringLiteral("undo of ") : QString()) +
                                QString::fromStdString(entry.facts.field))
                           .arg(QString::fromStdString(entry.facts.caseName))
                           .arg(entry.facts.rows));
  if (entries.empty()) print(call.errors, QStringLiteral("The table %1 has no history.\n").arg(table));
  const Paradox::HistoryPlaces places = Paradox::HistoryPlacesOf(call.folder(), table);
  if (places.elsewhere)
    print(call.errors, QStringLiteral("The history is kept in %1.\n").arg(places.entries));
  for (const QString& place : places.untrusted)
    print(call.errors, QStringLiteral("The entries in %1 are not listed: another user made that folder, others may "
                                      "write in it or it is a link, so they could not be restored.\n")
                           .arg(place));
  return Succeeded;
}

// --restore N: the table as it was before entry N.
int Restore(const Invocation& call) {
  const QString table = call.table();
  bool isNumber = false;
  const int entry = call.parser.value(RestoreOption).toInt(&isNumber);
  if (!isNumber || entry < 1)
    throw Misuse{QStringLiteral("--restore needs an entry number from 1: %1").arg(call.parser.value(RestoreOption))};
  TerminalMessageBoxes boxes(call.output, call.errors, call.parser.isSet(EvenIfChangedOption),
                             QStringLiteral("--even-if-changed"));
  switch (Paradox::RestoreTable(call.folder(), table, entry, call.historyEntries(), boxes)) {
    case Paradox::RestoreOutcome::Restored:
      print(call.output, QStringLiteral("Restored %1 as it was before entry %2.\n").arg(table).arg(entry));
      return Succeeded;
    case Paradox::RestoreOutcome::AlreadyAsBefore:
      print(call.output, QStringLiteral("%1 is already as it was before entry %2.\n").arg(table).arg(entry));
      return Succeeded;
    case Paradox::RestoreOutcome::Declined:
      return Failed;
  }
  return Failed;
}

// Every mode reads its tables from --folder: a history or working folder of
// this program is refused before anything is read or changed there.
void RequireTableFolder(const QString& folder) {
  const std::string working = pdx::workingFolderOn(QFile::encodeName(folder).toStdString());
  if (!working.empty()) throw Error::provider(ado::WorkingFolderRefusal(folder, QFile::decodeName(working.c_str())));
}

// The modes, each picked by its own option; a start names at most one.
// Without any, the arguments are taken as a case change that lacks its case.
struct Mode {
  const QCommandLineOption& option;
  int (*run)(const Invocation&);
};
const Mode Modes[] = {
    {CaseOption, ChangeCase},
    {ListTablesOption, ListTables},
    {ListFieldsOption, ListFields},
    {PreviewOption, Preview},
    {HistoryOption, History},
    {RestoreOption, Restore},
};

const Mode& ModeOf(const QCommandLineParser& parser) {
  const Mode* picked = nullptr;
  for (const Mode& mode : Modes) {
    if (!parser.isSet(mode.option)) continue;
    if (picked)
      throw Misuse{QStringLiteral("--%1 and --%2 cannot be given together.")
                       .arg(picked->option.names().front(), mode.option.names().front())};
    picked = &mode;
  }
  return picked ? *picked : Modes[0];
}

}  // namespace

int RunCommandLine(const QStringList& arguments, const QString& programFolder, std::FILE* output,
                   std::FILE* errors, bool errorsIsTerminal) {
  QCommandLineParser parser;
  parser.addOptions({FolderOption, TableOption, FieldOption, CaseOption, ListTablesOption, ListFieldsOption,
                     PreviewOption, HelpOption, DropIndexesOption, HistoryOption, RestoreOption,
                     EvenIfChangedOption, HistoryEntriesOption});
  try {
    if (!parser.parse(arguments)) throw Misuse{parser.errorText()};
    if (parser.isSet(HelpOption)) {
      print(output, usage());
      return Succeeded;
    }
    if (!parser.positionalArguments().isEmpty())
      throw Misuse{QStringLiteral("Unexpected argument: %1").arg(parser.positionalArguments().front())};
    const Mode& mode = ModeOf(parser);
    if (!parser.isSet(FolderOption)) throw Misuse{QStringLiteral("--folder is needed.")};
    RequireTableFolder(parser.value(FolderOption));
    return mode.run(Invocation{parser, programFolder, output, errors, errorsIsTerminal});
  } catch (const Misuse& misuse) {
    print(errors, misuse.reason + QStringLiteral("\n\n") + usage());
    return Misused;
  } catch (const Error& error) {
    print(errors, error.description() + QLatin1Char('\n'));
    return Failed;
  }
}

}  // namespace orl::app

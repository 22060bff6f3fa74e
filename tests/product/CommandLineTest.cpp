// The command line on what it must refuse, run in-process on real tables.

#include "app/CommandLine.h"
#include "tests/support/DataAccessFixtures.h"
#include "tests/support/TableFiles.h"

#include <gtest/gtest.h>

#include <QDirIterator>
#include <QFile>

#include <cstdio>
#include <map>

namespace orl::test {
namespace {

struct Outcome {
  int status;
  QString output, errors;
};

QString readBack(std::FILE* stream) {
  std::rewind(stream);
  QByteArray bytes;
  char chunk[4096];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, stream)) > 0;)
    bytes.append(chunk, static_cast<qsizetype>(n));
  std::fclose(stream);
  return QString::fromUtf8(bytes);
}

Outcome runCommandLine(const DataFolders& folders, const QStringList& arguments) {
  std::FILE* output = std::tmpfile();
  std::FILE* errors = std::tmpfile();
  const int status = app::RunCommandLine(QStringList{QStringLiteral("orlintide")} + arguments,
                                         folders.programFolder(), output, errors, false);
  return {status, readBack(output), readBack(errors)};
}

// Every file below the data folder, by path, with its bytes.
std::map<QString, QByteArray> treeBytes(const DataFolders& folders) {
  std::map<QString, QByteArray> files;
  QDirIterator entries(folders.dataFolder(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (entries.hasNext()) {
    QFile file(entries.next());
    if (file.open(QIODevice::ReadOnly)) files[file.fileName()] = file.readAll();
  }
  return files;
}

QStringList changeArguments(const QString& folder) {
  return {QStringLiteral("--folder"), folder, QStringLiteral("--table"), QStringLiteral("people"),
          QStringLiteral("--field"), QStringLiteral("Name"), QStringLiteral("--case"), QStringLiteral("upper")};
}

void writePeople(const DataFolders& folders) {
  WriteTable(folders.path(QStringLiteral("PEOPLE.db")), {{"Name", pdx::FieldType::Alpha, 20}},
             {{std::string("ann")}, {std::string("bob")}});
}

// A run leaves the table it replaced in the history folder beside it. Every
// command given a folder inside that history (or a link to it, or another
// user's history) refuses it and changes nothing there.
TEST(CommandLine, RefusesEveryFolderInsideAHistory) {
  DataFolders folders;
  writePeople(folders);
  const Outcome run = runCommandLine(folders, changeArguments(folders.dataFolder()));
  ASSERT_EQ(run.status, 0) << run.errors.toStdString();
  const QString history = folders.path(QStringLiteral(".orlintide-history"));
  QDirIterator backups(history, {QStringLiteral("PEOPLE.db")}, QDir::Files, QDirIterator::Subdirectories);
  ASSERT_TRUE(backups.hasNext());
  const QString entryFolder = QFileInfo(backups.next()).absolutePath();
  QDir().mkpath(folders.path(QStringLiteral(".orlintide-history-1000/PEOPLE.db/000001")));
  QFile::copy(entryFolder + QStringLiteral("/PEOPLE.db"),
              folders.path(QStringLiteral(".orlintide-history-1000/PEOPLE.db/000001/PEOPLE.db")));
  ASSERT_TRUE(QFile::link(entryFolder, folders.path(QStringLiteral("backup"))));
  const auto before = treeBytes(folders);

  for (const QString& folder : {entryFolder, folders.path(QStringLiteral(".orlintide-history-1000/PEOPLE.db/000001")),
                                folders.path(QStringLiteral("backup"))}) {
    SCOPED_TRACE(folder.toStdString());
    for (const QStringList& mode :
         {QStringList{QStringLiteral("--case"), QStringLiteral("upper")}, QStringList{QStringLiteral("--preview")},
          QStringList{QStringLiteral("--list-fields")}, QStringList{QStringLiteral("--list-tables")},
          QStringList{QStringLiteral("--history")}, QStringList{QStringLiteral("--restore"), QStringLiteral("1")}}) {
      SCOPED_TRACE(mode.front().toStdString());
      const Outcome refused =
          runCommandLine(folders, QStringList{QStringLiteral("--folder"), folder, QStringLiteral("--table"),
                                              QStringLiteral("people"), QStringLiteral("--field"),
                                              QStringLiteral("Name")} +
                                      mode);
      EXPECT_EQ(refused.status, 1);
      EXPECT_TRUE(refused.output.isEmpty()) << refused.output.toStdString();
      EXPECT_TRUE(refused.errors.contains(QStringLiteral("where this program keeps the history and working files")))
          << refused.errors.toStdString();
      EXPECT_TRUE(refused.errors.contains(QStringLiteral("Choose the folder the table itself is in.")));
    }
  }
  EXPECT_EQ(treeBytes(folders), before);
  // The table's own folder is read as before: the history is not listed as a table.
  const Outcome listed = runCommandLine(folders, {QStringLiteral("--folder"), folders.dataFolder(),
                                                  QStringLiteral("--list-tables")});
  EXPECT_EQ(listed.output, QStringLiteral("PEOPLE\n"));
}

}  // namespace
}  // namespace orl::test

#pragma once

#include "platform/ado/Connection.h"
#include "platform/ado/Provider.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <map>

namespace orl::test {

// Every statement the providers receive, in order.
class StatementRecorder final : public ado::StatementLog {
 public:
  void received(const QString& connectionString, const QString& statement) override {
    const bool scratch = connectionString.startsWith(QStringLiteral("PROVIDER="), Qt::CaseInsensitive);
    (scratch ? scratchStatements : paradoxStatements) << statement;
    all << statement;
  }
  QStringList all, scratchStatements, paradoxStatements;
};

// A program folder of its own with an empty scratch database, and a
// Paradox folder beside it.
class DataFolders {
 public:
  DataFolders() {
    QDir(root_.path()).mkpath(QStringLiteral("program"));
    QDir(root_.path()).mkpath(QStringLiteral("data"));
    sqlite3* db = nullptr;
    const QByteArray file = scratchFile().toUtf8();
    EXPECT_EQ(sqlite3_open(file.constData(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "CREATE TABLE made(x); DROP TABLE made;", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }
  QString programFolder() const { return root_.filePath(QStringLiteral("program")); }
  QString dataFolder() const { return root_.filePath(QStringLiteral("data")); }
  QString scratchFile() const { return programFolder() + QStringLiteral("/dbTemp.mdb"); }
  QString path(const QString& name) const { return dataFolder() + QLatin1Char('/') + name; }

  // Copies a corpus table's family (the .db file and every file of the same
  // stem) into the data folder, writable; false when the corpus is absent.
  bool copyCorpusTable(const QString& relativeDbPath) const {
    const QFileInfo source(QStringLiteral(ORLINTIDE_CORPUS_DIR "/tables/") + relativeDbPath);
    if (!source.exists()) return false;
    for (const QFileInfo& member : source.dir().entryInfoList(QDir::Files)) {
      if (member.completeBaseName().compare(source.completeBaseName(), Qt::CaseInsensitive) != 0) continue;
      const QString target = path(member.fileName());
      QFile::remove(target);
      if (!QFile::copy(member.filePath(), target)) return false;
      QFile(target).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    }
    return true;
  }

  // Every file of the data folder with its bytes, hidden ones included.
  std::map<QString, QByteArray> snapshot() const {
    std::map<QString, QByteArray> files;
    for (const QFileInfo& info : QDir(dataFolder()).entryInfoList(QDir::Files | QDir::Hidden)) {
      QFile file(info.filePath());
      if (file.open(QIODevice::ReadOnly)) files[info.fileName()] = file.readAll();
    }
    return files;
  }

  // The tables the scratch database holds.
  QStringList scratchTables() const {
    sqlite3* db = nullptr;
    const QByteArray file = scratchFile().toUtf8();
    EXPECT_EQ(sqlite3_open_v2(file.constData(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* query = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type = 'table'", -1, &query, nullptr),
              SQLITE_OK);
    QStringList tables;
    while (sqlite3_step(query) == SQLITE_ROW)
      tables << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(query, 0)));
    sqlite3_finalize(query);
    sqlite3_close(db);
    return tables;
  }

  // Runs statements, separated by semicolons, through a connection of this
  // program, as the run sends its updates: the write-back sees them as its own.
  void scratchStatements(const char* statements) const {
    ado::Connection connection;
    connection.setMode(ado::adModeReadWrite);
    connection.open(QStringLiteral("PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=") + scratchFile() +
                    QStringLiteral(";JET OLEDB:Database Password="));
    QString statement;
    for (const QString& piece : QString::fromUtf8(statements).split(QLatin1Char(';'))) {
      statement += statement.isEmpty() ? piece.trimmed() : QStringLiteral(";") + piece;
      // A trigger's body holds semicolons of its own.
      const bool inTrigger = statement.startsWith(QStringLiteral("CREATE TRIGGER"), Qt::CaseInsensitive) &&
                             !statement.trimmed().endsWith(QStringLiteral("END"), Qt::CaseInsensitive);
      if (inTrigger) continue;
      if (!statement.isEmpty()) connection.execute(statement.trimmed());
      statement.clear();
    }
    connection.close();
  }

  // Runs statements on the scratch database directly, as another program
  // (or another run) would: the write-back does not see them as its own.
  void scratchSql(const char* sql) const {
    sqlite3* db = nullptr;
    const QByteArray file = scratchFile().toUtf8();
    ASSERT_EQ(sqlite3_open(file.constData(), &db), SQLITE_OK);
    char* message = nullptr;
    const int result = sqlite3_exec(db, sql, nullptr, nullptr, &message);
    EXPECT_EQ(result, SQLITE_OK) << (message ? message : "");
    sqlite3_free(message);
    sqlite3_close(db);
  }

 private:
  QTemporaryDir root_;
};

}  // namespace orl::test

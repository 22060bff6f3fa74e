#pragma once

#include "platform/ado/Provider.h"
#include "platform/pdx/FileOps.h"

#include <QString>

#include <memory>

namespace orl::ado {

// ADO's numbers for the settings the program uses.
inline constexpr int adUseServer = 2;
inline constexpr int adUseClient = 3;
inline constexpr int adModeReadWrite = 3;
inline constexpr int adOpenStatic = 3;
inline constexpr int adLockOptimistic = 3;
inline constexpr int adSchemaTables = 20;
inline constexpr int adStateClosed = 0;
inline constexpr int adStateOpen = 1;

// What a connection hands to the provider it opens, so that tests can hear
// and steer it.
struct Seams {
  StatementLog* statements = nullptr;
  // Every change the Paradox side makes to the user's folder goes through
  // this; the real file system when it is not set.
  pdx::FileOps* files = nullptr;
};

// A connection to one store, chosen by its connection string: the Paradox
// folder driver or the scratch database.
class Connection {
 public:
  explicit Connection(Seams seams = {});
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void setCursorLocation(int location);
  int cursorLocation() const { return cursorLocation_; }
  void setMode(int mode);

  void open(const QString& connectionString);
  // Carries out a statement; its rows, if any, are dropped.
  void execute(const QString& statement);
  int state() const { return provider_ ? adStateOpen : adStateClosed; }
  void close();

  // For the record set and the schema query.
  std::unique_ptr<Rows> query(const QString& statement);
  std::unique_ptr<Rows> openSchema(int schema);

  // The open provider, for callers that need what only one provider offers.
  Provider& provider();

 private:
  Seams seams_;
  int cursorLocation_ = adUseServer;
  int mode_ = 0;
  QString connectionString_;
  std::unique_ptr<Provider> provider_;
};

}  // namespace orl::ado

#include "platform/ado/Connection.h"

#include "platform/ado/ParadoxFolderDriver.h"
#include "platform/ado/ScratchDatabase.h"
#include "platform/common/Error.h"

namespace orl::ado {

namespace {

Error closedObject() {
  return Error::provider(QStringLiteral("Internal error: a connection was used while it was closed."));
}

}  // namespace

Connection::Connection(Seams seams) : seams_(seams) {}

Connection::~Connection() = default;

void Connection::setCursorLocation(int location) {
  if (location != adUseServer && location != adUseClient)
    throw Error(ErrorNumber::InvalidCall, QStringLiteral("Cursor location %1 is not known.").arg(location));
  cursorLocation_ = location;
}

void Connection::setMode(int mode) {
  if (provider_)
    throw Error::provider(QStringLiteral("Internal error: the mode of an open connection was set."));
  mode_ = mode;
}

void Connection::open(const QString& connectionString) {
  if (provider_)
    throw Error::provider(QStringLiteral("Internal error: an open connection was opened again."));
  if (ParadoxFolderDriver::accepts(connectionString))
    provider_ = std::make_unique<ParadoxFolderDriver>(connectionString, seams_);
  else if (ScratchDatabase::accepts(connectionString))
    provider_ = std::make_unique<ScratchDatabase>(connectionString, seams_);
  else
    throw Error::provider(QStringLiteral("Internal error: no data source of this program takes the connection "
                                         "asked for."));
  connectionString_ = connectionString;
}

void Connection::execute(const QString& statement) { query(statement); }

std::unique_ptr<Rows> Connection::query(const QString& statement) {
  if (!provider_) throw closedObject();
  if (seams_.statements) seams_.statements->received(connectionString_, statement);
  return provider_->execute(statement);
}

std::unique_ptr<Rows> Connection::openSchema(int schema) {
  if (!provider_) throw closedObject();
  return provider_->openSchema(schema);
}

Provider& Connection::provider() {
  if (!provider_) throw closedObject();
  return *provider_;
}

void Connection::close() {
  if (!provider_) throw closedObject();
  // Released whether or not closing completes; a failure is still reported.
  const std::unique_ptr<Provider> provider = std::move(provider_);
  connectionString_.clear();
  provider->close();
}

}  // namespace orl::ado

#include "platform/common/Error.h"

namespace orl {

Error::Error(int number, const QString& description)
    : std::runtime_error(description.toStdString()), number_(number), description_(description) {}

Error Error::overflow() { return Error(ErrorNumber::Overflow, QStringLiteral("Overflow")); }

Error Error::permissionDenied(const QString& path) {
  return Error(ErrorNumber::PermissionDenied, QStringLiteral("Permission denied: %1").arg(path));
}

Error Error::pathNotFound(const QString& path) {
  return Error(ErrorNumber::PathNotFound, QStringLiteral("Path not found: %1").arg(path));
}

Error Error::fileNotFound(const QString& path) {
  return Error(ErrorNumber::FileNotFound, QStringLiteral("File not found: %1").arg(path));
}

Error Error::provider(const QString& description) {
  return Error(ErrorNumber::ProviderFailure, description);
}

}  // namespace orl

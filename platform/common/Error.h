#pragma once

#include <QString>

#include <stdexcept>

namespace orl {

// Error numbers the program and its reports rely on. They are the numbers
// a user sees in an error report, so they never change.
namespace ErrorNumber {
inline constexpr int InvalidCall = 5;
inline constexpr int Overflow = 6;
inline constexpr int OutOfMemory = 7;
inline constexpr int SubscriptOutOfRange = 9;
inline constexpr int InternalError = 51;
inline constexpr int FileNotFound = 53;
inline constexpr int FileAlreadyExists = 58;
inline constexpr int DiskFull = 61;
inline constexpr int PermissionDenied = 70;
inline constexpr int PathFileAccessError = 75;
inline constexpr int PathNotFound = 76;
inline constexpr int ObjectNotSet = 91;
inline constexpr int InvalidPropertyValue = 380;
// Failures of a data provider (driver, scratch database, table file).
inline constexpr int ProviderFailure = -2147467259;
}  // namespace ErrorNumber

// A failure with a number and a description, raised by every layer of the
// program and shown by the error report.
class Error : public std::runtime_error {
 public:
  Error(int number, const QString& description);

  int number() const { return number_; }
  const QString& description() const { return description_; }

  static Error overflow();
  static Error permissionDenied(const QString& path);
  static Error pathNotFound(const QString& path);
  static Error fileNotFound(const QString& path);
  static Error provider(const QString& description);

 private:
  int number_;
  QString description_;
};

}  // namespace orl

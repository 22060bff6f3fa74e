#include "system/main/ErrorReport.h"

#include "system/main/BuildSettings.h"

namespace orl {

QString ErrorReportText(const QString& description, const QString& location, int line) {
  return description + QStringLiteral("\r\n") + location + QStringLiteral("at line ") +
         QString::number(line) + QStringLiteral("\r\r") +
         QStringLiteral("Please email screenshot of this message to ") + QStringLiteral(ORLINTIDE_SUPPORT_EMAIL);
}

ErrorReport::ErrorReport(const QString& projectTag, const QString& moduleName,
                         const QString& procedureName, ui::MessageBoxes& boxes)
    : location_(QStringLiteral("in ") + projectTag + QStringLiteral("2021/08/31.") + moduleName +
                QLatin1Char('.') + procedureName + QLatin1Char(' ')),
      boxes_(boxes) {}

void ErrorReport::report(int line, const Error& error) {
  boxes_.showErrorReport(ErrorReportText(error.description(), location_, line));
}

void ErrorReport::report(int line, std::exception_ptr failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const Error& error) {
    report(line, error);
  } catch (const std::bad_alloc&) {
    report(line, Error(ErrorNumber::OutOfMemory, QStringLiteral("Out of memory")));
  } catch (const std::exception& other) {
    report(line, Error(ErrorNumber::InternalError,
                       QStringLiteral("Internal error: ") + QString::fromUtf8(other.what())));
  }
}

}  // namespace orl

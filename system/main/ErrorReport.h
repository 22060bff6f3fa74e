#pragma once

#include "platform/common/Error.h"
#include "platform/ui/MessageBoxes.h"

#include <QString>

#include <exception>
#include <utility>

namespace orl {

// The text of an error report: what failed, where, at which step, and whom to tell.
QString ErrorReportText(const QString& description, const QString& location, int line);

// The error report of a procedure that numbers its steps. A failing step is
// reported with its number and the procedure goes on with the next one; the
// step numbers are what the report shows as "at line".
class ErrorReport {
 public:
  // The project tag is "Brennick" for the windows and "Pellitor" for the folder walk.
  ErrorReport(const QString& projectTag, const QString& moduleName, const QString& procedureName,
              ui::MessageBoxes& boxes);

  // "in <tag>2021/08/31.<module>.<procedure> ", with its trailing space.
  const QString& location() const { return location_; }

  // Runs one step. Returns true when it completed, false when it failed and was reported.
  template <class Body>
  bool step(int line, Body&& body) {
    try {
      std::forward<Body>(body)();
      return true;
    } catch (...) {
      report(line, std::current_exception());
      return false;
    }
  }

  // Evaluates the test of a conditional. A test that fails is reported and
  // counts as passed, so the procedure goes on inside the guarded branch.
  template <class Condition>
  bool test(int line, Condition&& condition) {
    try {
      return static_cast<bool>(std::forward<Condition>(condition)());
    } catch (...) {
      report(line, std::current_exception());
      return true;
    }
  }

  // Reports a failure caught by the procedure itself.
  void report(int line, const Error& error);

 private:
  void report(int line, std::exception_ptr failure);

  QString location_;
  ui::MessageBoxes& boxes_;
};

}  // namespace orl

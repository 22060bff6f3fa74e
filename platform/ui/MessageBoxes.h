#pragma once

#include <QString>

namespace orl::ui {

// Every message box the program shows goes through this seam; the windows
// get the Qt one, tests a recorder.
class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  // The error report: titled "Application Error", one OK button, the warning icon, modal.
  virtual void showErrorReport(const QString& text) = 0;
  // A plain message titled with the application title, one OK button, no icon;
  // returns once the user has confirmed it.
  virtual void inform(const QString& text) = 0;
  // The same message, but the caller does not wait for the OK: whatever
  // is going on carries on while it is shown.
  virtual void notify(const QString& text) = 0;
  // A question titled with the application title; true when the user answers Yes.
  virtual bool askYesNo(const QString& text) = 0;
};

}  // namespace orl::ui

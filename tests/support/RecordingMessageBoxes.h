#pragma once

#include "platform/ui/MessageBoxes.h"

#include <QString>
#include <QStringList>

#include <deque>

namespace orl::test {

// Records every message box instead of showing it; questions are answered
// from a queue of prepared answers (No when it runs dry).
class RecordingMessageBoxes final : public ui::MessageBoxes {
 public:
  struct Shown {
    enum Kind { ErrorReport, Inform, Notice, Question } kind;
    QString text;
  };

  void showErrorReport(const QString& text) override { shown.push_back({Shown::ErrorReport, text}); }
  void inform(const QString& text) override { shown.push_back({Shown::Inform, text}); }
  void notify(const QString& text) override { shown.push_back({Shown::Notice, text}); }
  bool askYesNo(const QString& text) override {
    shown.push_back({Shown::Question, text});
    if (answers.empty()) return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }

  QStringList errorReports() const { return textsOf(Shown::ErrorReport); }
  QStringList informs() const { return textsOf(Shown::Inform); }
  QStringList notices() const { return textsOf(Shown::Notice); }
  QStringList questions() const { return textsOf(Shown::Question); }

  std::deque<Shown> shown;
  std::deque<bool> answers;

 private:
  QStringList textsOf(Shown::Kind kind) const {
    QStringList texts;
    for (const Shown& s : shown)
      if (s.kind == kind) texts << s.text;
    return texts;
  }
};

}  // namespace orl::test

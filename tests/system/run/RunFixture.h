#pragma once

#include "system/main/Main.h"
#include "system/run/CaseChangeRun.h"
#include "tests/support/DataAccessFixtures.h"
#include "tests/support/FakeTime.h"
#include "tests/support/RecordingMessageBoxes.h"
#include "tests/support/TableFiles.h"

#include <QRegularExpression>

#include <functional>

#include <gtest/gtest.h>

namespace orl::test {

class ListOfTexts final : public ui::ListItems {
 public:
  int count() const override { return static_cast<int>(items.size()); }
  QString text(int position) const override { return items.at(position - 1); }
  void setText(int position, const QString& text) override { items[position - 1] = text; }
  QStringList items;
};

// The main window as the run sees it.
class FakeRunWindow final : public Run::RunWindow {
 public:
  QString selectedTable() const override { return table; }
  QString selectedTableFolder() const override { return folder; }
  QString selectedField() const override { return field; }
  bool tableShownSelected() const override { return tableChosen; }
  bool fieldShownSelected() const override { return fieldChosen; }
  QString caseChoice() const override { return choice; }
  ui::ListItems& preview() override { return previewList; }
  void setProgressValue(double percent) override {
    progress.push_back(percent);
    if (onProgress) onProgress(percent);
  }
  void setProgressText(const QString& text) override { progressText = text; }
  void setMousePointer(int style) override { pointers.push_back(style); }

  QString table, folder, field, choice = QStringLiteral("UPPER CASE");
  bool tableChosen = true;
  bool fieldChosen = true;
  ListOfTexts previewList;
  std::vector<double> progress;
  QString progressText;
  std::vector<int> pointers;
  std::function<void(double)> onProgress;  // what another program does at that moment of the run
};

// Hears the statements with the fake clock's time at each.
class TimedRecorder final : public ado::StatementLog {
 public:
  explicit TimedRecorder(FakeTime& time) : time_(time) {}
  void received(const QString& connectionString, const QString& statement) override {
    recorder.received(connectionString, statement);
    if (statement.startsWith(QStringLiteral("update ["))) updateTimes.push_back(time_.now());
    if (onStatement) onStatement(statement);
  }
  QStringList updates() const { return recorder.scratchStatements.filter(QRegularExpression(QStringLiteral("^update \\["))); }
  StatementRecorder recorder;
  std::vector<double> updateTimes;
  std::function<void(const QString&)> onStatement;

 private:
  FakeTime& time_;
};

class RunTest : public ::testing::Test {
 protected:
  bool run() {
    Run::RunServices services{boxes, time, time, folders.programFolder(), ado::Seams{&statements, nullptr}};
    return Run::PushButton1_Click(window, services);
  }
  void useTable(const QString& table, const QString& field) {
    window.table = table;
    window.field = field;
    window.folder = folders.dataFolder();
  }
  DataFolders folders;
  FakeTime time{1000};
  TimedRecorder statements{time};
  RecordingMessageBoxes boxes;
  FakeRunWindow window;
};

}  // namespace orl::test

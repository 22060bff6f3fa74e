#pragma once

#include "platform/ui/Window.h"
#include "system/forms/Services.h"
#include "system/run/CaseChangeRun.h"

namespace orl::ui {
class DropDown;
class Frame;
class ListView;
class ProgressBar;
class PushButton;
}  // namespace orl::ui

namespace orl::forms {

class Form1;

// The main window: the folder's tables, the chosen table's fields, a preview
// of the chosen field, the case choice and the command that starts a run.
class Form2 final : public ui::Window {
  Q_OBJECT

 public:
  Form2(const Services& services, Form1& setupWindow);

  // The table list was clicked: list the selected table's fields, then preview the selected field.
  void Listview1_Click();
  // The field list was clicked: preview the first 100 entries of the selected field.
  void Listview2_Click();
  // "Start Changing Case".
  void PushButton1_Click();
  // "Select All Fields".
  void PushButton2_Click();
  // "Unselect All Fields".
  void PushButton3_Click();
  // "Setup Paradox Connection".
  void PushButton5_Click();

  bool runInProgress() const { return runInProgress_; }

 protected:
  void load() override;
  bool mayUnload() override;
  void unload() override;
  void showingAgain() override;

 private:
  // What the run sees of this window.
  class RunView final : public Run::RunWindow {
   public:
    explicit RunView(Form2& window) : window_(window) {}
    bool tableShownSelected() const override;
    bool fieldShownSelected() const override;
    QString selectedTable() const override;
    QString selectedTableFolder() const override;
    QString selectedField() const override;
    QString caseChoice() const override;
    ui::ListItems& preview() override;
    void setProgressValue(double percent) override;
    void setProgressText(const QString& text) override;
    void setMousePointer(int style) override;

   private:
    Form2& window_;
  };

  void hover(int style);
  // Lists the tables of the folder the setup window names.
  void listTables();
  // While a run goes on, nothing that would look like a change of it takes input.
  void holdForRun(bool held);
  // The folder of the selected table; the folder box's when no table is selected.
  QString selectedTableFolder() const;

  Services services_;
  Form1& setupWindow_;
  // The folder text the table list was last built from.
  QString listedFolderText_;
  // Counts the listings begun: a listing that a later one overtook while it
  // walked the folders leaves the list to the later one.
  int listings_ = 0;
  bool runInProgress_ = false;
  RunView runView_{*this};
  ui::PushButton& pushButton1_;
  ui::PushButton& pushButton5_;
  ui::ProgressBar& progressBar1_;
  ui::ListView& listView1_;
  ui::ListView& listView2_;
  ui::Frame& frame1_;
  ui::DropDown& combo1_;
  ui::PushButton& pushButton2_;
  ui::PushButton& pushButton3_;
  ui::ListView& listView3_;
};

}  // namespace orl::forms

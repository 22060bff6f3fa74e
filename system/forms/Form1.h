#pragma once

#include "platform/ui/SkinFramework.h"
#include "platform/ui/Window.h"
#include "system/forms/Services.h"

namespace orl::ui {
class Frame;
class Label;
class PushButton;
class TextBox;
}  // namespace orl::ui

namespace orl::forms {

// The setup window: where the Paradox folder is typed, browsed for, replaced
// by the samples, tested and confirmed. Its load is the program's start-up.
// Its folder box holds the current Paradox folder for the whole program.
class Form1 final : public ui::Window {
  Q_OBJECT

 public:
  explicit Form1(const Services& services);

  // The main window that "Next >" and the start-up show.
  void setMainWindow(ui::Window& mainWindow) { mainWindow_ = &mainWindow; }

  // The folder box's text, as typed.
  QString folderText() const;

  // Browse "...".
  void PushButton5_Click();
  // "Load Sample/Example Database".
  void PushButton1_Click();
  // "Test Connection".
  void PushButton2_Click();
  // "Next >".
  void PushButton3_Click();

 protected:
  // The program's start-up.
  void load() override;
  bool mayUnload() override { return true; }
  void unload() override;

 private:
  void Text1_Change();
  void Text1_GotFocus();
  void hover(int style);
  void offerSpaceFreeFolder(bool sample);
  ui::Window& mainWindow();

  Services services_;
  ui::Window* mainWindow_ = nullptr;
  ui::SkinFramework skinFramework1_;
  ui::Frame& frame1_;
  ui::Label& label2_;
  ui::TextBox& text1_;
  ui::PushButton& pushButton5_;
  ui::PushButton& pushButton1_;
  ui::PushButton& pushButton2_;
  ui::PushButton& pushButton3_;
};

}  // namespace orl::forms

#pragma once

#include "platform/ado/Connection.h"
#include "platform/common/Progress.h"
#include "platform/common/TimeOfDayClock.h"
#include "platform/ui/EventPump.h"
#include "platform/ui/ListItems.h"
#include "platform/ui/MessageBoxes.h"

#include <QString>

namespace orl::Run {

// Mouse pointer styles the run sets.
inline constexpr int DefaultPointer = 0;
inline constexpr int HourglassPointer = 11;

// The shares of the progress bar that the three stretches of a run fill,
// in fractions of the whole bar: the copy into the scratch database, the
// update loop, and the write-back. The bar shows at once that a run has begun.
inline constexpr double StagingBegins = 0.01;
inline constexpr double StagingEnds = 0.2;
inline constexpr double UpdatesEnd = 0.8;

// What the run sees of the main window.
class RunWindow {
 public:
  virtual ~RunWindow() = default;
  // Whether the table list shows an entry as chosen (highlighted); a run
  // never changes a table the window does not show as chosen.
  virtual bool tableShownSelected() const = 0;
  // Whether the field list shows its selected item as chosen (highlighted).
  virtual bool fieldShownSelected() const = 0;
  // The text of the table list's selected entry; raises orl::Error when none is selected.
  virtual QString selectedTable() const = 0;
  // The folder that holds the selected table's file.
  virtual QString selectedTableFolder() const = 0;
  // The text of the field list's selected item; raises orl::Error when none is selected.
  virtual QString selectedField() const = 0;
  virtual QString caseChoice() const = 0;
  virtual ui::ListItems& preview() = 0;
  virtual void setProgressValue(double percent) = 0;
  virtual void setProgressText(const QString& text) = 0;
  virtual void setMousePointer(int style) = 0;
};

// What the run reaches besides the window.
struct RunServices {
  ui::MessageBoxes& boxes;
  ui::EventPump& pump;
  TimeOfDayClock& clock;
  QString programFolder;  // holds dbTemp.mdb
  ado::Seams seams = {};
};

// The "Start Changing Case" command: stages the selected table, rewrites the
// selected field with one update per distinct value, writes the table back
// and re-cases the preview. Without a table or a field shown as chosen it
// only says so ("Please select a table.", "Please select a field."). Every
// failing step is shown in the error report
// "in Brennick2021/08/31.Form2.PushButton1_Click " with its step number.
// The progress bar rises through the staging, the loop and the write-back
// (each its share), is full when the table is replaced, and is empty again
// once the run is over. A failed staging or write-back ends the run with
// the folder as it was and without "Done."; true when the run ended with "Done.".
bool PushButton1_Click(RunWindow& window, RunServices& services);

}  // namespace orl::Run

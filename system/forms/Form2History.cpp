// The main window's way back: the table list's context menu of restores.

#include "platform/common/Error.h"
#include "platform/ui/ListView.h"
#include "platform/ui/MessageBoxes.h"
#include "system/forms/Form2.h"
#include "system/paradox/TableHistory.h"

#include <QMenu>

namespace orl::forms {

namespace {

// The last change and this many older ones are offered.
constexpr int OlderEntriesOffered = 4;

}  // namespace

std::unique_ptr<QMenu> Form2::tableHistoryMenu(int position) {
  auto menu = std::make_unique<QMenu>(this);
  const QString table = listView1_.text(position);
  std::vector<pdx::HistoryEntry> entries;
  try {
    entries = Paradox::HistoryOf(listView1_.folder(position), table);
  } catch (const Error& error) {
    menu->addAction(QStringLiteral("The history of %1 cannot be read: %2").arg(table, error.description()))
        ->setEnabled(false);
    return menu;
  }
  if (entries.empty()) {
    menu->addAction(QStringLiteral("No case change of %1 to undo").arg(table))->setEnabled(false);
    return menu;
  }
  for (const pdx::HistoryEntry& entry : entries) {
    if (entry.number > 1 + OlderEntriesOffered) break;
    const QString text =
        entry.number == 1
            ? QStringLiteral("Restore %1 as before the last case change (%2)...").arg(table, Paradox::DescribeEntry(entry))
            : QStringLiteral("Restore %1 as before the change of %2...").arg(table, Paradox::DescribeEntry(entry));
    if (entry.number == 2) menu->addSeparator();
    const int number = entry.number;
    connect(menu->addAction(text), &QAction::triggered, this, [this, position, number] { restoreTable(position, number); });
  }
  return menu;
}

void Form2::showTableHistoryMenu(int position, const QPoint& globalPosition) {
  if (position == 0) return;
  // While a run works the table list takes no input.
  if (runInProgress_) return;
  tableHistoryMenu(position)->exec(globalPosition);
}

void Form2::restoreTable(int position, int number) {
  // While a run works the table list takes no input.
  if (runInProgress_) return;
  const QString table = listView1_.text(position);
  const QString folder = listView1_.folder(position);
  try {
    switch (Paradox::RestoreTable(folder, table, number, Paradox::HistoryEntriesSetting(services_.settings),
                                  services_.boxes)) {
      case Paradox::RestoreOutcome::Restored:
        services_.boxes.inform(QStringLiteral("%1 is restored.").arg(table));
        break;
      case Paradox::RestoreOutcome::AlreadyAsBefore:
        services_.boxes.inform(QStringLiteral("%1 was already as it was then; nothing was changed.").arg(table));
        return;
      case Paradox::RestoreOutcome::Declined:
        return;
    }
  } catch (const Error& error) {
    services_.boxes.inform(QStringLiteral("%1 was not restored: %2").arg(table, error.description()));
    return;
  }
  const bool selected = listView1_.selectedItemText() == table && listView1_.selectedItemFolder() == folder;
  if (selected) Listview1_Click();
}

}  // namespace orl::forms

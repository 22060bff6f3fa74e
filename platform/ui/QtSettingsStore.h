#pragma once

#include "platform/ui/SettingsStore.h"

#include <QSettings>

namespace orl::ui {

// The settings as an INI file, by default Tamberlyn/Orlintide.ini under the
// user's configuration folder, group Orlintide. Every write reaches the file
// at once, so the next start reads it back even after a crash.
class QtSettingsStore final : public SettingsStore {
 public:
  QtSettingsStore();
  explicit QtSettingsStore(const QString& iniFile);

  QString read(const QString& key, const QString& fallback) override;
  void write(const QString& key, const QString& value) override;

 private:
  QSettings settings_;
};

}  // namespace orl::ui

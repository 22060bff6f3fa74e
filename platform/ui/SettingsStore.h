#pragma once

#include <QString>

namespace orl::ui {

// The per-user store of the program's string settings (application
// Tamberlyn, section Orlintide).
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  virtual QString read(const QString& key, const QString& fallback) = 0;
  virtual void write(const QString& key, const QString& value) = 0;
};

}  // namespace orl::ui

#include "platform/ui/QtSettingsStore.h"

namespace orl::ui {
namespace {

const QString Section = QStringLiteral("Orlintide");

QString keyInSection(const QString& key) { return Section + QLatin1Char('/') + key; }

}  // namespace

QtSettingsStore::QtSettingsStore()
    : settings_(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tamberlyn"), Section) {}

QtSettingsStore::QtSettingsStore(const QString& iniFile) : settings_(iniFile, QSettings::IniFormat) {}

QString QtSettingsStore::read(const QString& key, const QString& fallback) {
  return settings_.value(keyInSection(key), fallback).toString();
}

void QtSettingsStore::write(const QString& key, const QString& value) {
  settings_.setValue(keyInSection(key), value);
  settings_.sync();
}

}  // namespace orl::ui

#include "common/settings.h"

#include "common/program.h"

#include <QSettings>

#include <optional>

namespace {

QSettings *storeOverride = nullptr;

QString groupName(const QString &section)
{
    return section.isEmpty() ? Program::Title : section;
}

// The store set, or else the user's file, opened into file.
QSettings &openStore(std::optional<QSettings> &file)
{
    if (storeOverride)
        return *storeOverride;
    return file.emplace(QSettings::NativeFormat, QSettings::UserScope, Program::CompanyName);
}

} // namespace

void setSettingsStore(QSettings *store)
{
    storeOverride = store;
}

QString sysGetSetting(const QString &key, const QString &defaultValue, const QString &section)
{
    std::optional<QSettings> file;
    QSettings &settings = openStore(file);
    settings.beginGroup(groupName(section));
    const QString value = settings.value(key).toString();
    settings.endGroup();
    return value.isEmpty() ? defaultValue : value;
}

void sysSaveSetting(const QString &key, const QString &value, const QString &section)
{
    std::optional<QSettings> file;
    QSettings &settings = openStore(file);
    settings.beginGroup(groupName(section));
    settings.setValue(key, value);
    settings.endGroup();
    // Written at once, so that a program ended without unwinding keeps it.
    settings.sync();
}

#include "common/settings.h"

#include "common/program.h"

#include <QSettings>

namespace {

QString groupName(const QString &section)
{
    return section.isEmpty() ? Program::Title : section;
}


} // namespace

QString sysGetSetting(const QString &key, const QString &defaultValue, const QString &section)
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, Program::CompanyName);
    settings.beginGroup(groupName(section));
    const QString value = settings.value(key).toString();
    return value.isEmpty() ? defaultValue : value;
}

void sysSaveSetting(const QString &key, const QString &value, const QString &section)
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, Program::CompanyName);
    settings.beginGroup(groupName(section));
    settings.setValue(key, value);
    settings.endGroup();
    // Written at once, so that a program ended without unwinding keeps it.
    settings.sync();
}

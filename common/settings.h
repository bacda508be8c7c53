#pragma once

#include <QString>

// The per-user settings store: QSettings in its native format under the
// company name, so the file is "~/.config/Brenholt EDV-Beratung.conf" (or
// under $XDG_CONFIG_HOME). A section is a group; the empty section stands for
// the program title.
//
// A missing key and an empty stored value both read as the default.
QString sysGetSetting(const QString &key, const QString &defaultValue, const QString &section);
void sysSaveSetting(const QString &key, const QString &value, const QString &section);

class QSettings;
// While set, both read and write store instead of the user's file (nullptr
// returns to the file). The settings fuzzer reads each input's file into one
// store instead of opening the file again for every key.
void setSettingsStore(QSettings *store);

// Section that holds the program's own preferences.
inline const QString SettingsSection = QStringLiteral("Velantor");
// Section that maps "COM" + n to a device path.
inline const QString PortsSection = QStringLiteral("Ports");

#include "dashboard/kzvelantor.h"

#include "common/messagebox.h"
#include "common/program.h"
#include "common/settings.h"
#include "dashboard/locopanel.h"
#include "roster/roster.h"
#include "roster/rosterdialog.h"
#include "throttleserver/phonethrottles.h"

#include <QDir>

// The main window's side of the roster: the folder it is read from, the
// panels and phones that show it, the dialog "Fahrzeuge" and the boxes for
// what is wrong in its files.

namespace {

const QString RosterSection = QStringLiteral("Fahrzeuge");
const QString RosterFolderKey = QStringLiteral("Ordner");

// [Fahrzeuge] Ordner= names a folder holding roster.xml (a JMRI profile's,
// say); without it the program's own data folder.
QString rosterFolderSetting()
{
    QString folder = sysGetSetting(RosterFolderKey, QString(), RosterSection).trimmed();
    if (folder.isEmpty())
        return Roster::defaultFolder();
    if (folder == QLatin1String("~") || folder.startsWith(QLatin1String("~/")))
        folder = QDir::homePath() + folder.mid(1);
    return QDir::cleanPath(QDir::fromNativeSeparators(folder));
}

} // namespace

void kzVelantor::setUpRoster()
{
    m_roster = new Roster(this);
    connect(m_roster, &Roster::problemsFound, this, [this](const QList<RosterFiles::Problem> &problems) {
        showMessageBox(BoxIcon::Warning, BoxButtons::Ok, BoxAnswer::Ok, Program::Title,
                       Roster::problemsText(m_roster->folder(), problems));
    });
    m_phones->attachRoster(m_roster);
    for (LocoPanel *panel : m_locoPanels)
        panel->setRoster(m_roster);
}

void kzVelantor::loadRoster()
{
    m_roster->setFolder(rosterFolderSetting());
}

void kzVelantor::showRoster()
{
    const QList<RosterEntry> before = m_roster->entries();
    RosterDialog dialog(before, this);
    if (runModal(&dialog) != QDialog::Accepted)
        return;
    const QList<RosterFiles::Problem> problems = m_roster->save(before, dialog.entries());
    if (!problems.isEmpty())
        showMessageBox(BoxIcon::Warning, BoxButtons::Ok, BoxAnswer::Ok, Program::Title,
                       Roster::saveProblemsText(problems));
}

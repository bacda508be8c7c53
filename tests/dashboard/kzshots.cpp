// Renders the main window (before and after a check against the virtual
// command station), the options dialog, the dialog "Handregler" with the web
// throttle's QR code, the dialog "Fahrzeuge" and the about window to PNG
// files,
// so that they can be looked at without a display:
//
//     QT_QPA_PLATFORM=offscreen kzshots DIRECTORY

#include "about/kzinfo.h"
#include "common/settings.h"
#include "dashboard/kzoptions.h"
#include "dashboard/kzvelantor.h"
#include "dashboard/locopanel.h"
#include "dashboard/throttledialog.h"
#include "link/commands.h"
#include "roster/roster.h"
#include "roster/rosterdialog.h"
#include "tests/support/copyfolder.h"
#include "tests/support/stationrig.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTextStream>
#include <QToolButton>

namespace {

bool save(QWidget &widget, const QDir &directory, const QString &name)
{
    const QString path = directory.filePath(name);
    // Let the layouts settle after showing.
    QApplication::processEvents();
    if (!widget.grab().save(path)) {
        QTextStream(stderr) << "cannot write " << path << '\n';
        return false;
    }
    QTextStream(stdout) << path << '\n';
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    // Never the user's settings: the pictures start from a fresh store.
    QTemporaryDir configDir;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configDir.path()));
    QTemporaryDir dataDir;
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataDir.path()));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    if (argc < 2) {
        QTextStream(stderr) << "usage: kzshots DIRECTORY\n";
        return 2;
    }
    QDir directory(QString::fromLocal8Bit(argv[1]));
    if (!directory.mkpath(QStringLiteral("."))) {
        QTextStream(stderr) << "cannot create " << directory.path() << '\n';
        return 1;
    }

    StationRig rig(1);
    rig.station.setFirmware(5, 2, 3);
    rig.station.setLayout(BoardLayout::Mega);
    rig.station.setTrackOutput(TrackOutput::PowerOn);
    rig.station.setLocos({{3, LocoFlags::Steps28}, {300, LocoFlags::Steps126},
                          {1024, LocoFlags::Steps14}, {4, LocoFlags::Steps28}});
    sysSaveSetting(QStringLiteral("SignalOutputTo"), QStringLiteral("COM1"), SettingsSection);
    sysSaveSetting(QStringLiteral("Slider00"), QStringLiteral("3"), SettingsSection);
    sysSaveSetting(QStringLiteral("Slider01"), QStringLiteral("300"), SettingsSection);
    sysSaveSetting(QStringLiteral("Slider02"), QStringLiteral("1024"), SettingsSection);

    // The roster of the roster's tests as the program's own (V 60 is loco 3).
    bool ok = copyFolder(QStringLiteral(ROSTER_TEST_DATA "/decoderpro"),
                         dataDir.filePath(QStringLiteral("velantor")));
    {
        kzVelantor window(&rig.port);
        window.setModalRunner([](QDialog *) { return 0; });
        window.startUp(false);
        window.show();
        ok &= save(window, directory, QStringLiteral("kzvelantor-unchecked.png"));

        window.txtControllerNr()->setText(QStringLiteral("1"));
        window.btnCheck()->click();
        window.locoPanel(0)->kzSlider()->setValue(165);
        window.locoPanel(0)->chkLight()->click();
        window.locoPanel(0)->tlbFunctionKeys()->button(QStringLiteral("F3"))->click();
        window.locoPanel(1)->kzDirection()->click();
        window.locoPanel(1)->kzSlider()->setValue(55);
        ok &= save(window, directory, QStringLiteral("kzvelantor.png"));
        window.hide();
    }
    {
        kzOptions options;
        options.show();
        ok &= save(options, directory, QStringLiteral("kzoptions.png"));
    }
    {
        // A fixed address, so that the picture does not depend on the network
        // of the machine that builds it.
        PhoneThrottleSettings settings;
        settings.enabled = true;
        settings.webEnabled = true;
        ThrottleDialog throttles(settings, {QStringLiteral("192.168.1.20")});
        throttles.setDevices({{QStringLiteral("Pixel 7"), QStringLiteral("192.168.1.31")},
                              {QStringLiteral("Browser"), QStringLiteral("192.168.1.40")}});
        throttles.show();
        ok &= save(throttles, directory, QStringLiteral("handregler.png"));
    }
    {
        // The JMRI-shaped roster of the roster's tests, BR 218 chosen.
        Roster roster;
        roster.setFolder(QStringLiteral(ROSTER_TEST_DATA "/decoderpro"));
        RosterDialog dialog(roster.entries());
        dialog.show();
        ok &= save(dialog, directory, QStringLiteral("fahrzeuge.png"));
    }
    {
        kzInfo info;
        info.show();
        ok &= save(info, directory, QStringLiteral("kzinfo.png"));
    }
    return ok && rig.boxes.count() == 0 ? 0 : 1;
}

// The main window against the virtual command station in memory, with the web
// throttle switched on at a free port, for a browser test to drive; with
// "--roster DIR" the roster is the one in DIR. It speaks a line protocol on
// stdin and stdout:
//
//   printed at start     URL http://127.0.0.1:<port>/
//   frames               every frame the station received since the last
//                        call, one a line: command P1 P2 P3; then OK
//   panel <n>            loco=<n> speed=<0-255> forward=<0|1> light=<0|1>
//                        functions=<n,n,…>; then OK
//   panel-speed <n> <v>  moves panel n's slider to v (0-255); then OK
//   web-stop, web-start  switches the web throttle off and on again; then OK
//   app-port             the phone apps' port (the server runs too); then OK
//   clients              how many apps and browsers are connected; then OK
//   quit                 ends the program
//
// A command it does not know is answered with ERR and the line.

#include "common/settings.h"
#include "dashboard/dashboardlogic.h"
#include "dashboard/kzvelantor.h"
#include "dashboard/locopanel.h"
#include "link/commands.h"
#include "tests/support/stationrig.h"
#include "throttleserver/phonethrottles.h"

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QHostAddress>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QToolButton>

#include <cstdio>
#include <unistd.h>

namespace {

void reply(const QByteArray &text)
{
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fflush(stdout);
}

quint16 freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

QByteArray panelText(LocoPanel *panel)
{
    QByteArrayList functions;
    for (int n = 1; n <= Limits::MaxFunction; ++n) {
        if (panel->tlbFunctionKeys()->button(functionKey(n))->isChecked())
            functions << QByteArray::number(n);
    }
    return "loco=" + panel->kzSliderNo()->currentText().toUtf8()
           + " speed=" + QByteArray::number(panel->kzSlider()->value())
           + " forward=" + QByteArray(panel->kzDirection()->isChecked() ? "1" : "0")
           + " light=" + QByteArray(panel->chkLight()->isChecked() ? "1" : "0")
           + " functions=" + functions.join(',') + '\n';
}

class Rig
{
public:
    Rig(StationRig &station, kzVelantor &window, quint16 port)
        : m_station(station), m_window(window), m_port(port)
    {
    }

    // One command line; false for quit.
    bool run(const QByteArray &line)
    {
        const QByteArrayList words = line.simplified().split(' ');
        const QByteArray &command = words.value(0);
        auto panel = [&]() -> LocoPanel * {
            bool ok = false;
            const int n = words.value(1).toInt(&ok);
            return ok && n >= 0 && n < kzVelantor::PanelCount ? m_window.locoPanel(n) : nullptr;
        };
        if (command == "quit")
            return false;
        if (command == "frames") {
            QByteArray text;
            for (const CommandBuffer &frame : m_station.takeRequests()) {
                text += QByteArray::number(frame.command) + ' ' + QByteArray::number(frame.p1) + ' '
                        + QByteArray::number(frame.p2) + ' ' + QByteArray::number(frame.p3) + '\n';
            }
            reply(text + "OK\n");
        } else if (command == "panel" && panel()) {
            reply(panelText(panel()) + "OK\n");
        } else if (command == "panel-speed" && panel() && words.size() == 3) {
            panel()->kzSlider()->setValue(words.at(2).toInt());
            reply("OK\n");
        } else if (command == "web-stop") {
            stopWeb();
            reply("OK\n");
        } else if (command == "web-start") {
            startWeb();
            reply("OK\n");
        } else if (command == "app-port") {
            reply(QByteArray::number(m_window.phoneThrottles().port()) + "\nOK\n");
        } else if (command == "clients") {
            reply(QByteArray::number(m_window.phoneThrottles().clientCount()) + "\nOK\n");
        } else {
            reply("ERR " + line + '\n');
        }
        return true;
    }

    void startWeb() { m_window.phoneThrottles().startWeb(m_port); }
    void stopWeb() { m_window.phoneThrottles().stopWeb(); }

private:
    StationRig &m_station;
    kzVelantor &m_window;
    quint16 m_port;
};

} // namespace

int main(int argc, char *argv[])
{
    // Never the user's settings.
    QTemporaryDir configDir;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configDir.path()));
    QTemporaryDir dataDir;
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataDir.path()));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    StationRig rig(1);
    rig.station.setFirmware(5, 2, 3);
    rig.station.setLayout(BoardLayout::Uno);
    rig.station.setTrackOutput(TrackOutput::PowerOn);
    rig.station.setLocos({{3, LocoFlags::Steps28}, {300, LocoFlags::Steps126}});
    const quint16 port = freePort();
    quint16 appPort = freePort();
    while (appPort == port)
        appPort = freePort();
    sysSaveSetting(PortSettingKey, QStringLiteral("COM1"), SettingsSection);
    sysSaveSetting(locoPanelKey(0), QStringLiteral("3"), SettingsSection);
    // Switched on as the "Handregler" dialog leaves it: started with the window.
    sysSaveSetting(QStringLiteral("WebEnabled"), QStringLiteral("1"), QStringLiteral("Handregler"));
    sysSaveSetting(QStringLiteral("WebPort"), QString::number(port), QStringLiteral("Handregler"));
    sysSaveSetting(QStringLiteral("Enabled"), QStringLiteral("1"), QStringLiteral("Handregler"));
    sysSaveSetting(QStringLiteral("Port"), QString::number(appPort), QStringLiteral("Handregler"));
    const QStringList arguments = app.arguments();
    const qsizetype roster = arguments.indexOf(QStringLiteral("--roster"));
    if (roster > 0 && roster + 1 < arguments.size())
        sysSaveSetting(QStringLiteral("Ordner"), arguments.at(roster + 1), QStringLiteral("Fahrzeuge"));

    kzVelantor window(&rig.port);
    window.setModalRunner([](QDialog *) { return 0; });
    window.startUp(false);
    if (!window.phoneThrottles().isWebRunning() || !window.phoneThrottles().isRunning()) {
        std::fprintf(stderr, "webrig: the web throttle or the apps' server does not listen\n");
        return 1;
    }
    window.show();
    window.txtControllerNr()->setText(QStringLiteral("1"));
    window.btnCheck()->click();
    if (!window.ControllerFrame()->isVisible() || rig.boxes.count() != 0) {
        std::fprintf(stderr, "webrig: the controller check failed\n");
        return 1;
    }
    rig.takeRequests();
    Rig commands(rig, window, port);
    reply("URL http://127.0.0.1:" + QByteArray::number(port) + "/\n");

    QByteArray input;
    QSocketNotifier notifier(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [&] {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            app.quit();
            return;
        }
        input.append(buffer, n);
        qsizetype end;
        while ((end = input.indexOf('\n')) >= 0) {
            const QByteArray line = input.left(end);
            input.remove(0, end + 1);
            if (!commands.run(line)) {
                app.quit();
                return;
            }
        }
    });
    return app.exec();
}

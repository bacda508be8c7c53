#pragma once

#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

// What the dialog "Handregler" decides; the window acts on it.
struct PhoneThrottleSettings
{
    bool enabled = false;
    quint16 port = 12090;
    bool webEnabled = false;
    quint16 webPort = 12080;
    // Functions on only while the key is pressed; F2, the horn, by default.
    QList<int> momentary{2};
    // Apps and browsers from outside the home network too; off by default.
    bool allNetworks = false;
};

// A connected phone as the dialog lists it.
struct PhoneDevice
{
    QString name;
    QString address;
};

// The dialog "Handregler": switching the phone-throttle server and the web
// throttle on and off, their ports, the addresses to type into the app, the
// page's address with its QR code, and the connected devices. It does no I/O:
// "Alle trennen" is handed to the window by signal, which then gives the
// dialog the new list.
class ThrottleDialog final : public QDialog
{
    Q_OBJECT

public:
    // hostAddresses: this machine's addresses in the local network, the
    // first one the QR code's.
    ThrottleDialog(const PhoneThrottleSettings &settings, const QStringList &hostAddresses,
                   QWidget *parent = nullptr);

    void setDevices(const QList<PhoneDevice> &devices);
    // Valid after the dialog was accepted.
    PhoneThrottleSettings settings() const;

    QCheckBox *chkEnabled() const { return m_enabled; }
    QLineEdit *txtPort() const { return m_port; }
    QLineEdit *txtMomentary() const { return m_momentary; }
    QLabel *lblAddresses() const { return m_addresses; }
    QCheckBox *chkWebEnabled() const { return m_webEnabled; }
    QLineEdit *txtWebPort() const { return m_webPort; }
    QLabel *lblWebAddresses() const { return m_webAddresses; }
    QLabel *picQrCode() const { return m_qrCode; }
    QCheckBox *chkAllNetworks() const { return m_allNetworks; }
    QListWidget *lstDevices() const { return m_devices; }
    QPushButton *btnDisconnectAll() const { return m_disconnectAll; }
    QPushButton *btnOk() const { return m_ok; }

    void accept() override;

signals:
    void disconnectAllRequested();

private:
    void showAddresses();

    QStringList m_hosts;
    QCheckBox *m_enabled;
    QLineEdit *m_port;
    QLineEdit *m_momentary;
    QLabel *m_addresses;
    QCheckBox *m_webEnabled;
    QLineEdit *m_webPort;
    QLabel *m_webAddresses;
    QLabel *m_qrCode;
    QCheckBox *m_allNetworks;
    QListWidget *m_devices;
    QPushButton *m_disconnectAll;
    QPushButton *m_ok;
};

// The text of one device in the list: "Pixel (192.168.1.31)", or the address
// alone before the app told its name.
QString phoneDeviceText(const PhoneDevice &device);
// The rule of the port field.
QString phonePortRule();
QString webPortRule();
// The box when the web throttle's port is the apps' port.
QString samePortsText();
// "Adresse: 192.168.1.20  Port: 12090" for every address.
QStringList appAddressLines(const QStringList &hosts, quint16 port);
// "http://192.168.1.20:12080/" for every address.
QStringList webAddressLines(const QStringList &hosts, quint16 port);
// The rule of the field "Tastfunktionen": function numbers 1-12, divided by
// commas or blanks, or none.
QString momentaryFunctionsRule();
// The functions of such a text, ascending, each once; nothing when the text
// breaks the rule (a hand-edited setting).
std::optional<QList<int>> momentaryFunctions(const QString &text);
// "2, 3"; empty for none.
QString momentaryFunctionsText(const QList<int> &functions);

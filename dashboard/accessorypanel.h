#pragma once

#include "common/rules.h"
#include "link/commands.h"

#include <QGroupBox>

#include <array>

class QLineEdit;
class QPushButton;

// One accessory panel ("Zubehör-Steuerung"): the decoder id and an ON and an
// OFF button for each of the decoder's four ports. Port k on the wire is the
// one labelled "Port k+1".
class AccessoryPanel final : public QGroupBox
{
    Q_OBJECT

public:
    static constexpr int PortCount = 4;
    static inline const QString DecoderIdRule = numberRangeRule(
        QStringLiteral("Die Decoder-ID"), Limits::MinDecoderId, Limits::MaxDecoderId);

    AccessoryPanel(int index, QWidget *parent = nullptr);

    int index() const { return m_index; }
    QLineEdit *kzAccessory() const { return m_decoderId; }
    QPushButton *onButton(int port) const { return m_on.at(port); }
    QPushButton *offButton(int port) const { return m_off.at(port); }

signals:
    void portClicked(int port, bool on);

private:
    int m_index;
    QLineEdit *m_decoderId;
    std::array<QPushButton *, PortCount> m_on{};
    std::array<QPushButton *, PortCount> m_off{};
};

// A filled circle that shows a state by its colour.
class CircuitLamp final : public QWidget
{
    Q_OBJECT

public:
    explicit CircuitLamp(QWidget *parent = nullptr);

    QColor colour() const { return m_colour; }
    void setColour(const QColor &colour);

    QSize sizeHint() const override { return {18, 18}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_colour;
};

#include "dashboard/accessorypanel.h"

#include "common/validation.h"
#include "dashboard/dashboardlogic.h"
#include "dashboard/pictures.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

AccessoryPanel::AccessoryPanel(int index, QWidget *parent)
    : QGroupBox(QStringLiteral("Zubehör-Steuerung"), parent)
    , m_index(index)
{
    setObjectName(QStringLiteral("fraAccessory") + QString::number(index));
    const QString where = QStringLiteral(" (Zubehör-Steuerung %1)").arg(index + 1);

    auto *idLabel = new QLabel(QStringLiteral("Decoder-ID"), this);
    m_decoderId = new QLineEdit(QString::number(index + 1), this);
    m_decoderId->setObjectName(QStringLiteral("kzAccessory"));
    m_decoderId->setAlignment(Qt::AlignCenter);
    m_decoderId->setFixedWidth(56);
    m_decoderId->setAccessibleName(QStringLiteral("Decoder-ID") + where);
    idLabel->setBuddy(m_decoderId);
    setRule(m_decoderId, DecoderIdRule);

    auto *idColumn = new QVBoxLayout;
    idColumn->setSpacing(2);
    idColumn->addWidget(idLabel);
    idColumn->addWidget(m_decoderId);
    idColumn->addStretch(1);

    auto *ports = new QGridLayout;
    ports->setHorizontalSpacing(3);
    ports->setVerticalSpacing(3);
    for (int port = 0; port < PortCount; ++port) {
        const QString caption = QStringLiteral("Port ") + QString::number(port + 1);
        auto *label = new QLabel(caption, this);
        auto *on = new QPushButton(QStringLiteral("ON"), this);
        auto *off = new QPushButton(QStringLiteral("OFF"), this);
        on->setObjectName(QStringLiteral("btnPort%1On").arg(port));
        off->setObjectName(QStringLiteral("btnPort%1Off").arg(port));
        on->setAccessibleName(caption + QStringLiteral(" ON") + where);
        off->setAccessibleName(caption + QStringLiteral(" OFF") + where);
        // A click takes the focus, as on any command button, so that the
        // field it leaves sees its focus go first.
        for (QPushButton *button : {on, off}) {
            button->setFixedWidth(38);
            button->setFocusPolicy(Qt::StrongFocus);
        }
        setButtonColour(on, StatusColour::Success);
        setButtonColour(off, StatusColour::Failure);
        // Ports 1 and 2 on the left, 3 and 4 on the right.
        const int row = port % 2;
        const int column = (port / 2) * 4;
        ports->addWidget(label, row, column);
        ports->addWidget(on, row, column + 1);
        ports->addWidget(off, row, column + 2);
        if (port < 2)
            ports->setColumnMinimumWidth(column + 3, 8);
        connect(on, &QPushButton::clicked, this, [this, port] { emit portClicked(port, true); });
        connect(off, &QPushButton::clicked, this, [this, port] { emit portClicked(port, false); });
        m_on[port] = on;
        m_off[port] = off;
    }

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 4, 6, 6);
    layout->addLayout(idColumn);
    layout->addSpacing(6);
    layout->addLayout(ports);
}

CircuitLamp::CircuitLamp(QWidget *parent)
    : QWidget(parent)
    , m_colour(Qt::black)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void CircuitLamp::setColour(const QColor &colour)
{
    if (m_colour == colour)
        return;
    m_colour = colour;
    update();
}

void CircuitLamp::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(m_colour);
    const int side = qMin(width(), height()) - 2;
    painter.drawEllipse(QRectF((width() - side) / 2.0, (height() - side) / 2.0, side, side));
}

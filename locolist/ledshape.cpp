#include "locolist/ledshape.h"

#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>

LedShape::LedShape(QWidget *parent)
    : QWidget(parent)
{
    setFixedSize(sizeHint());
}

void LedShape::setColor(const QColor &color)
{
    if (m_color == color)
        return;
    m_color = color;
    update();
}

void LedShape::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(128, 128, 128), 1.5));
    painter.setBrush(m_color);
    painter.drawEllipse(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5));
}

SpinButtons::SpinButtons(const QString &fieldName, QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (const bool up : {true, false}) {
        auto *button = new QToolButton(this);
        button->setObjectName(up ? QStringLiteral("up") : QStringLiteral("down"));
        button->setArrowType(up ? Qt::UpArrow : Qt::DownArrow);
        button->setFixedSize(16, 12);
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoRepeat(true);
        layout->addWidget(button);
        connect(button, &QToolButton::clicked, this, [this, up] { emit stepped(up); });
    }
    setFieldName(fieldName);
}

void SpinButtons::setFieldName(const QString &fieldName)
{
    for (QToolButton *button : findChildren<QToolButton *>(Qt::FindDirectChildrenOnly)) {
        const bool up = button->objectName() == QLatin1String("up");
        const QString name = fieldName + (up ? QStringLiteral(" erhöhen") : QStringLiteral(" verringern"));
        button->setAccessibleName(name);
        button->setToolTip(name);
    }
}

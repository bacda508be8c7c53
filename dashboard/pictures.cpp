#include "dashboard/pictures.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>
#include <QWidget>
#include <QtMath>

namespace {

constexpr int IconSize = 32;

QPixmap blankPixmap(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void drawLetterDisc(QPainter &painter, const QColor &colour, const QString &letter)
{
    painter.setPen(QPen(colour.darker(140), 1.5));
    painter.setBrush(colour);
    painter.drawEllipse(QRectF(2.5, 2.5, 27, 27));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(20);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(0, 0, IconSize, IconSize), Qt::AlignCenter, letter);
}

void drawGear(QPainter &painter)
{
    const QPointF centre(16, 16);
    QPainterPath gear;
    constexpr int Teeth = 8;
    for (int i = 0; i < Teeth * 2; ++i) {
        const double angle = (i * 180.0 / Teeth) * M_PI / 180.0;
        const double radius = (i % 2 == 0) ? 14.0 : 10.5;
        const double spread = 0.18;
        const QPointF a = centre + QPointF(radius * std::cos(angle - spread),
                                           radius * std::sin(angle - spread));
        const QPointF b = centre + QPointF(radius * std::cos(angle + spread),
                                           radius * std::sin(angle + spread));
        if (i == 0)
            gear.moveTo(a);
        else
            gear.lineTo(a);
        gear.lineTo(b);
    }
    gear.closeSubpath();
    gear.addEllipse(centre, 4.5, 4.5);
    gear.setFillRule(Qt::OddEvenFill);
    painter.setPen(QPen(QColor(60, 60, 70), 1.2));
    painter.setBrush(QColor(140, 145, 160));
    painter.drawPath(gear);
}

void drawExit(QPainter &painter)
{
    // A door frame with an arrow leaving it.
    painter.setPen(QPen(QColor(90, 60, 30), 2));
    painter.setBrush(QColor(200, 160, 110));
    painter.drawRect(QRectF(4, 3, 14, 26));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(200, 30, 30));
    QPainterPath arrow;
    arrow.moveTo(12, 13);
    arrow.lineTo(21, 13);
    arrow.lineTo(21, 8);
    arrow.lineTo(30, 16);
    arrow.lineTo(21, 24);
    arrow.lineTo(21, 19);
    arrow.lineTo(12, 19);
    arrow.closeSubpath();
    painter.drawPath(arrow);
}

QPixmap arrowPixmap(bool up)
{
    constexpr int Size = 24;
    QPixmap pixmap = blankPixmap(Size);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath arrow;
    // Drawn pointing up, turned for down.
    arrow.moveTo(12, 2);
    arrow.lineTo(22, 12);
    arrow.lineTo(16, 12);
    arrow.lineTo(16, 22);
    arrow.lineTo(8, 22);
    arrow.lineTo(8, 12);
    arrow.lineTo(2, 12);
    arrow.closeSubpath();
    if (!up) {
        QTransform flip;
        flip.translate(0, Size);
        flip.scale(1, -1);
        arrow = flip.map(arrow);
    }
    painter.setPen(QPen(QColor(0, 60, 0), 1));
    painter.setBrush(up ? QColor(0, 150, 0) : QColor(0, 90, 170));
    painter.drawPath(arrow);
    return pixmap;
}

} // namespace

QString toolBarThemeName(const QString &key)
{
    if (key.compare(QLatin1String("btnOptions"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("preferences-system");
    if (key.compare(QLatin1String("btnHelp"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("help-contents");
    if (key.compare(QLatin1String("btnInfo"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("help-about");
    if (key.compare(QLatin1String("btnThrottles"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("phone");
    if (key.compare(QLatin1String("btnRoster"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("x-office-address-book");
    if (key.compare(QLatin1String("btnClose"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("application-exit");
    return QString();
}

QIcon bundledToolBarIcon(const QString &key)
{
    QPixmap pixmap = blankPixmap(IconSize);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QString theme = toolBarThemeName(key);
    if (theme == QLatin1String("preferences-system"))
        drawGear(painter);
    else if (theme == QLatin1String("help-contents"))
        drawLetterDisc(painter, QColor(30, 110, 200), QStringLiteral("?"));
    else if (theme == QLatin1String("help-about"))
        drawLetterDisc(painter, QColor(30, 150, 90), QStringLiteral("i"));
    else if (theme == QLatin1String("phone"))
        drawLetterDisc(painter, QColor(200, 120, 20), QStringLiteral("H"));
    else if (theme == QLatin1String("x-office-address-book"))
        drawLetterDisc(painter, QColor(120, 60, 170), QStringLiteral("F"));
    else
        drawExit(painter);
    painter.end();
    return QIcon(pixmap);
}

QIcon toolBarIcon(const QString &key)
{
    return QIcon::fromTheme(toolBarThemeName(key), bundledToolBarIcon(key));
}

QIcon directionIcon(bool up)
{
    const QPixmap pixmap = arrowPixmap(up);
    QIcon icon;
    for (const QIcon::State state : {QIcon::Off, QIcon::On}) {
        icon.addPixmap(pixmap, QIcon::Normal, state);
        icon.addPixmap(pixmap, QIcon::Disabled, state);
        icon.addPixmap(pixmap, QIcon::Active, state);
    }
    return icon;
}

void setButtonColour(QWidget *button, const QColor &colour)
{
    if (!colour.isValid()) {
        // An empty palette inherits everything again: the system's face.
        button->setPalette(QPalette());
        return;
    }
    QPalette palette = button->palette();
    palette.setColor(QPalette::Button, colour);
    palette.setColor(QPalette::Window, colour);
    // White text on dark colours (red, green), black on light ones (yellow).
    const double luminance = 0.299 * colour.red() + 0.587 * colour.green() + 0.114 * colour.blue();
    palette.setColor(QPalette::ButtonText, luminance < 150 ? Qt::white : Qt::black);
    button->setPalette(palette);
}

QColor buttonColour(const QWidget *button)
{
    return button->palette().color(QPalette::Button);
}

#include "locolist/operationdisplay.h"

#include "common/commandbutton.h"
#include "locolist/ledshape.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

OperationDisplay::OperationDisplay(const QString &nameInfix, QWidget *parent) : QWidget(parent)
{
    const auto name = [&nameInfix](const char *kind, const char *rest) -> QString {
        return QLatin1String(kind) + nameInfix + QLatin1String(rest);
    };
    const char *ledNames[] = {"Lampe: läuft", "Lampe: fehlgeschlagen", "Lampe: erfolgreich"};
    for (int i = 0; i < 3; ++i) {
        m_led[i] = new LedShape(this);
        m_led[i]->setObjectName(name("led", "") + QString::number(i));
        m_led[i]->setAccessibleName(QString::fromUtf8(ledNames[i]));
    }
    m_status = new QLabel(QStringLiteral("Zur Programmierung das Programmiergleis verwenden"), this);
    m_status->setObjectName(name("lbl", "Status"));
    QFont bold = m_status->font();
    bold.setBold(true);
    m_status->setFont(bold);
    m_status->setWordWrap(true);
    m_status->setMinimumHeight(2 * m_status->fontMetrics().height());

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(name("ssp", "ProgressPanel"));
    m_progress->setAccessibleName(QStringLiteral("Fortschritt"));
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setTextVisible(true);
    m_progress->setFixedHeight(18);

    m_elapsed = new QLabel(QStringLiteral("0 ms"), this);
    m_elapsed->setObjectName(name("lbl", "ElapsedTime"));
    m_elapsed->setAccessibleName(QStringLiteral("Dauer"));
    m_elapsed->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_elapsed->setMinimumWidth(70);

    // Shown only while an operation can be aborted; its place stays free.
    m_break = new QPushButton(QStringLiteral("&Abbruch"), this);
    m_break->setObjectName(name("cmd", "Break"));
    m_break->setAutoDefault(false);
    pressOnEnter(m_break);
    QSizePolicy keepSpace = m_break->sizePolicy();
    keepSpace.setRetainSizeWhenHidden(true);
    m_break->setSizePolicy(keepSpace);
    m_break->hide();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    auto *statusRow = new QHBoxLayout;
    for (LedShape *led : m_led)
        statusRow->addWidget(led, 0, Qt::AlignTop);
    statusRow->addSpacing(6);
    statusRow->addWidget(m_status, 1);
    layout->addLayout(statusRow);
    auto *progressRow = new QHBoxLayout;
    progressRow->addWidget(m_progress, 1);
    progressRow->addWidget(m_elapsed);
    progressRow->addWidget(m_break);
    layout->addLayout(progressRow);
}

void OperationDisplay::light(Lamp lamp)
{
    const QColor colours[] = {Blue, Red, Green};
    for (int i = 0; i < 3; ++i)
        m_led[i]->setColor(i == int(lamp) ? colours[i] : QColor(Qt::black));
}

void OperationDisplay::setStatus(const QColor &color, const QString &text)
{
    QPalette palette = m_status->palette();
    palette.setColor(QPalette::WindowText, color);
    m_status->setPalette(palette);
    m_status->setText(text);
}

void OperationDisplay::setStatusText(const QString &text)
{
    m_status->setText(text);
}

void OperationDisplay::showProgress(int percent)
{
    // Painted at once: the operations run without returning to the event
    // loop between their steps.
    m_progress->setValue(percent);
    m_progress->repaint();
}

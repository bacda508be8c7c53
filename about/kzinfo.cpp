#include "about/kzinfo.h"

#include "common/errors.h"
#include "common/program.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QTimer>

// The logo lives in a static library; its resource must be pulled in by name.
static void loadAboutResources()
{
    Q_INIT_RESOURCE(about);
}

namespace {

// Positions in pixels (the window was laid out in twips, 15 to the pixel).
constexpr QRect LogoRect(24, 24, kzInfo::LogoWidth, kzInfo::LogoHeight);
constexpr QRect ProductNameRect(32, 128, 265, 27);
constexpr QRect VersionRect(264, 128, 249, 27);
constexpr QRect CopyrightRect(32, 176, 481, 20);
constexpr QRect LegalInfoRect(32, 206, 481, 64);
constexpr QRect BuildRect(440, 280, 73, 19);
constexpr QSize WindowSize(545, 304);

QLabel *makeLabel(QWidget *parent, const QString &name, const QRect &rect, const QFont &font,
                  const QColor &colour, Qt::Alignment alignment)
{
    auto *label = new QLabel(parent);
    label->setObjectName(name);
    label->setGeometry(rect);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    label->setAlignment(alignment | Qt::AlignVCenter);
    return label;
}

} // namespace

kzInfo::kzInfo(QWidget *parent)
    : QDialog(parent)
    , m_timer(new QTimer(this))
{
    loadAboutResources();
    setWindowTitle(QStringLiteral("Info"));
    setFixedSize(WindowSize);
    setAutoFillBackground(true);
    QPalette background = palette();
    background.setColor(QPalette::Window, Qt::white);
    setPalette(background);

    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &QDialog::accept);

    m_logo = new QLabel(this);
    m_logo->setObjectName(QStringLiteral("piclogo"));
    m_logo->setGeometry(LogoRect);
    m_logo->setPixmap(QPixmap(QStringLiteral(":/about/logo.png")));
    m_logo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_logo->setToolTip(QStringLiteral("Klicken Sie das Fenster an, um es wieder zu schliessen"));
    m_logo->setAccessibleName(Program::MakerName);
    m_logo->hide();

    QFont large(QStringLiteral("Arial"));
    large.setPointSizeF(18);
    large.setBold(true);
    large.setItalic(true);
    QFont small(QStringLiteral("Arial"));
    small.setPointSizeF(8.25);
    QFont text(QStringLiteral("Arial"));
    text.setPointSizeF(9);

    const QColor navy(0, 0, 128);
    const QColor grey(128, 128, 128);
    m_productName = makeLabel(this, QStringLiteral("lblProductName"), ProductNameRect, large,
                              navy, Qt::AlignLeft);
    m_version =
        makeLabel(this, QStringLiteral("lblVersion"), VersionRect, large, navy, Qt::AlignRight);
    m_copyright = makeLabel(this, QStringLiteral("lblCopyright"), CopyrightRect, text,
                            Qt::black, Qt::AlignLeft);
    m_legalInfo = makeLabel(this, QStringLiteral("lblLegalInfo"), LegalInfoRect, small, grey,
                            Qt::AlignLeft);
    m_legalInfo->setWordWrap(true);
    m_build = makeLabel(this, QStringLiteral("lblBuild"), BuildRect, small, grey, Qt::AlignRight);

    m_productName->setText(Program::ProductName);
    // Both numbers end with a blank, so the right-aligned text keeps one
    // blank's distance from the edge.
    m_version->setText(QStringLiteral("Version ") + QString::number(Program::VersionMajor) + u'.'
                       + QString::number(Program::VersionMinor) + u' ');
    m_build->setText(QStringLiteral("(build ") + QString::number(Program::VersionRevision)
                     + QStringLiteral(") "));
    m_copyright->setText(CopyrightNotice + QStringLiteral(" by ") + Program::CompanyName);
    m_legalInfo->setText(LegalNotice);

    // A click on a text does nothing; one on the logo closes like one on the
    // free area.
    for (QLabel *label : {m_logo, m_productName, m_version, m_build, m_copyright, m_legalInfo})
        label->installEventFilter(this);
}

void kzInfo::setTimerInterval(int ms)
{
    m_timer->stop();
    m_timer->setInterval(qMax(0, ms));
    if (ms > 0)
        m_timer->start();
}

int kzInfo::timerInterval() const
{
    return m_timer->interval();
}

bool kzInfo::timerActive() const
{
    return m_timer->isActive();
}

void kzInfo::done(int result)
{
    // Closed early: the timer must not fire into a later opening.
    m_timer->stop();
    QDialog::done(result);
}

void kzInfo::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        accept();
        return;
    default:
        // Esc included: only Enter and the space bar close the window.
        event->accept();
        return;
    }
}

void kzInfo::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    m_pressed = event->button() == Qt::LeftButton;
}

void kzInfo::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    const bool click = m_pressed && event->button() == Qt::LeftButton
                       && rect().contains(event->position().toPoint());
    m_pressed = false;
    if (click)
        accept();
}

void kzInfo::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    // The logo's area reaches across the whole window; its picture stays at
    // its own size.
    if (m_logo->width() != frameGeometry().width())
        m_logo->resize(frameGeometry().width(), m_logo->height());
    m_logo->show();
}

void kzInfo::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    sysCenterForm(this);
}

bool kzInfo::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick
        || type == QEvent::MouseButtonRelease) {
        // The logo closes like the free area; the texts take no click.
        if (watched == m_logo && type != QEvent::MouseButtonDblClick) {
            auto *mouse = static_cast<QMouseEvent *>(event);
            const QPoint inWindow = m_logo->mapTo(this, mouse->position().toPoint());
            QMouseEvent moved(type, inWindow, mouse->globalPosition(), mouse->button(),
                              mouse->buttons(), mouse->modifiers());
            if (type == QEvent::MouseButtonPress)
                mousePressEvent(&moved);
            else
                mouseReleaseEvent(&moved);
        }
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

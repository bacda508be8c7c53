#include "common/inputdialog.h"

#include "common/commandbutton.h"
#include "common/errors.h"
#include "common/program.h"
#include "common/validation.h"

#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace {

// Twips of the dialog's design, 15 to the pixel; the heights are a little
// larger than designed so that the toolkit's fonts fit.
constexpr int ClientWidth = 324;   // 4860 twips
constexpr int ClientHeight = 94;   // 1350 twips, plus room for the buttons
constexpr int Left = 8;            // 120 twips
constexpr int FieldWidth = 305;    // 4575 twips

} // namespace

sysInput::sysInput(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("sysInput"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setFixedSize(ClientWidth, ClientHeight);

    m_info = new QLabel(QStringLiteral("Benutzerinformation"), this);
    m_info->setObjectName(QStringLiteral("Label_Info"));
    m_info->setGeometry(Left, 8, FieldWidth, 18);

    m_entry = new QLineEdit(this);
    m_entry->setObjectName(QStringLiteral("Text_UInput"));
    m_entry->setGeometry(Left, 30, FieldWidth, 24);
    m_info->setBuddy(m_entry);
    m_entry->installEventFilter(this);

    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setObjectName(QStringLiteral("btnOK"));
    m_ok->setGeometry(Left, 62, 89, 25);
    m_ok->setDefault(true);
    m_ok->setAutoDefault(false);

    m_cancel = new QPushButton(QStringLiteral("Abbruch"), this);
    m_cancel->setObjectName(QStringLiteral("btnCancel"));
    m_cancel->setGeometry(104, 62, 89, 25);
    m_cancel->setAutoDefault(false);
    // Tabbing to "Abbruch" and pressing Enter cancels; OK stays the button
    // Enter presses in the field.
    pressOnEnter(m_cancel);

    setTabOrder(m_entry, m_ok);
    setTabOrder(m_ok, m_cancel);
    m_entry->setFocus(Qt::OtherFocusReason);

    connect(m_ok, &QPushButton::clicked, this, &sysInput::accept);
    connect(m_cancel, &QPushButton::clicked, this, &sysInput::reject);

    sysCenterForm(this);
}

void sysInput::setup(const QString &caption, const QString &prompt, const QString &preset,
                     const QString &rule, int maxLength)
{
    setWindowTitle(caption.isEmpty() ? Program::Title : caption);
    m_info->setText(prompt);
    m_entry->setAccessibleName(prompt);
    m_entry->setText(preset);
    setRule(m_entry, rule);
    // QLineEdit knows no "unlimited"; its own maximum stands for it.
    m_entry->setMaxLength(maxLength > 0 ? maxLength : 32767);
    m_entry->selectAll();
}

QString sysInput::text() const
{
    return m_entry->text();
}

void sysInput::accept()
{
    // sysDataOK reports a broken rule and puts the focus back on the field.
    if (!sysDataOK(this)) {
        m_entry->selectAll();
        return;
    }
    QDialog::accept();
}

void sysInput::reject()
{
    QDialog::reject();
    m_entry->clear();
}

bool sysInput::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_entry && event->type() == QEvent::FocusIn) {
        // A mouse click that brought the focus would place the caret after
        // this handler; select once the click has been handled.
        QTimer::singleShot(0, m_entry, [entry = m_entry] { entry->selectAll(); });
        m_entry->selectAll();
    }
    return QDialog::eventFilter(watched, event);
}

QString sysInputBox(const QString &caption, const QString &prompt, const QString &preset,
                    const QString &rule, int maxLength)
{
    sysInput dialog(nullptr);
    dialog.setup(caption, prompt, preset, rule, maxLength);
    dialog.exec();
    return dialog.text();
}

#include "common/messagebox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace {

MessageBoxes *installedBoxes = nullptr;

QMessageBox::StandardButton standardButton(BoxAnswer answer)
{
    switch (answer) {
    case BoxAnswer::Ok: return QMessageBox::Ok;
    case BoxAnswer::Yes: return QMessageBox::Yes;
    case BoxAnswer::No: return QMessageBox::No;
    case BoxAnswer::Retry: return QMessageBox::Retry;
    case BoxAnswer::Cancel: return QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

} // namespace

BoxAnswer QtMessageBoxes::show(const MessageBoxRequest &request)
{
    QMessageBox box(QApplication::activeWindow());
    switch (request.icon) {
    case BoxIcon::Critical: box.setIcon(QMessageBox::Critical); break;
    case BoxIcon::Warning: box.setIcon(QMessageBox::Warning); break;
    case BoxIcon::Information: box.setIcon(QMessageBox::Information); break;
    case BoxIcon::Question: box.setIcon(QMessageBox::Question); break;
    }
    box.setWindowTitle(request.caption);
    // The texts carry CR LF line breaks; a plain-text box shows them as they are.
    box.setTextFormat(Qt::PlainText);
    QString text = request.text;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    box.setText(text);
    switch (request.buttons) {
    case BoxButtons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case BoxButtons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case BoxButtons::RetryCancel:
        box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel);
        break;
    }
    // German captions whether or not a Qt translation is installed.
    const std::pair<QMessageBox::StandardButton, const char *> captions[] = {
        {QMessageBox::Ok, "OK"},
        {QMessageBox::Yes, "&Ja"},
        {QMessageBox::No, "&Nein"},
        {QMessageBox::Retry, "&Wiederholen"},
        {QMessageBox::Cancel, "Abbrechen"},
    };
    for (const auto &[standard, caption] : captions) {
        if (QAbstractButton *button = box.button(standard))
            button->setText(QString::fromUtf8(caption));
    }
    box.setDefaultButton(standardButton(request.defaultAnswer));
    // Escape closes a Yes/No box with No, like its close button.
    if (request.buttons == BoxButtons::YesNo)
        box.setEscapeButton(QMessageBox::No);

    switch (box.exec()) {
    case QMessageBox::Yes: return BoxAnswer::Yes;
    case QMessageBox::No: return BoxAnswer::No;
    case QMessageBox::Retry: return BoxAnswer::Retry;
    case QMessageBox::Cancel: return BoxAnswer::Cancel;
    default: return request.buttons == BoxButtons::YesNo ? BoxAnswer::No : BoxAnswer::Ok;
    }
}

MessageBoxes &messageBoxes()
{
    static QtMessageBoxes qtBoxes;
    return installedBoxes ? *installedBoxes : qtBoxes;
}

void setMessageBoxes(MessageBoxes *boxes)
{
    installedBoxes = boxes;
}

BoxAnswer showMessageBox(BoxIcon icon, BoxButtons buttons, BoxAnswer defaultAnswer,
                         const QString &caption, const QString &text)
{
    return messageBoxes().show({icon, buttons, defaultAnswer, caption, text});
}

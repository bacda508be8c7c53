#pragma once

#include <QString>

// Every message box of the program goes through this facade, so that tests
// can record each box and answer it from a script.
enum class BoxIcon { Critical, Warning, Information, Question };
enum class BoxButtons { Ok, YesNo, RetryCancel };
enum class BoxAnswer { Ok, Yes, No, Retry, Cancel };

struct MessageBoxRequest
{
    BoxIcon icon = BoxIcon::Warning;
    BoxButtons buttons = BoxButtons::Ok;
    BoxAnswer defaultAnswer = BoxAnswer::Ok;
    QString caption;
    QString text;
};

class MessageBoxes
{
public:
    virtual ~MessageBoxes() = default;
    // Shows the box modally and returns the button the user chose.
    virtual BoxAnswer show(const MessageBoxRequest &request) = 0;
};

// Shows a modal QMessageBox over the active window.
class QtMessageBoxes final : public MessageBoxes
{
public:
    BoxAnswer show(const MessageBoxRequest &request) override;
};

// The installed facade; QtMessageBoxes unless another one is installed.
MessageBoxes &messageBoxes();
// Installs a facade (not owned); nullptr returns to QtMessageBoxes.
void setMessageBoxes(MessageBoxes *boxes);

// Convenience: shows one box through the facade.
BoxAnswer showMessageBox(BoxIcon icon, BoxButtons buttons, BoxAnswer defaultAnswer,
                         const QString &caption, const QString &text);

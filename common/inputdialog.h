#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

// A small modal dialog that asks for one value. The entry field carries the
// caller's rule text and is checked with sysDataOK before OK is accepted.
class sysInput : public QDialog
{
    Q_OBJECT

public:
    explicit sysInput(QWidget *parent = nullptr);

    // Caption, prompt, preset text, rule text (empty: no check) and the most
    // characters the field takes (0: no limit).
    void setup(const QString &caption, const QString &prompt, const QString &preset,
               const QString &rule, int maxLength);

    // The entry: as typed after OK, empty after Abbruch, Esc or the close box.
    QString text() const;

    QLabel *infoLabel() const { return m_info; }
    QLineEdit *entry() const { return m_entry; }
    QPushButton *okButton() const { return m_ok; }
    QPushButton *cancelButton() const { return m_cancel; }

public slots:
    void accept() override;
    void reject() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QLabel *m_info;
    QLineEdit *m_entry;
    QPushButton *m_ok;
    QPushButton *m_cancel;
};

// Asks for one value in a sysInput dialog shown modally without an owner. An
// empty caption stands for the program title. Returns the text as typed, or
// the empty text when the user cancelled.
QString sysInputBox(const QString &caption, const QString &prompt, const QString &preset,
                    const QString &rule, int maxLength);

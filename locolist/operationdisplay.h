#pragma once

#include <QColor>
#include <QWidget>

class LedShape;
class QLabel;
class QProgressBar;
class QPushButton;

// What a tab shows of a running programming operation: three lamps, a status
// text in its colour, the progress with the elapsed time and the abort
// button, in two rows. The window shows an operation on the tab that started
// it.
class OperationDisplay final : public QWidget
{
    Q_OBJECT

public:
    // The colours of the lamps and of the status texts.
    static constexpr QColor Blue{0, 0, 255};
    static constexpr QColor Red{255, 0, 0};
    static constexpr QColor Green{0, 192, 0};

    // One lamp lit, or all three dark.
    enum class Lamp {
        Running, // blue
        Failed,  // red
        Done,    // green
        Dark,
    };

    // nameInfix goes into every object name after its kind ("led", "lbl",
    // "ssp", "cmd"), so that two displays of one window stay apart.
    explicit OperationDisplay(const QString &nameInfix, QWidget *parent = nullptr);

    void light(Lamp lamp);
    void setStatus(const QColor &color, const QString &text);
    void setStatusText(const QString &text);
    void showProgress(int percent);

    LedShape *led(int index) const { return m_led[index]; }
    QLabel *status() const { return m_status; }
    QProgressBar *progress() const { return m_progress; }
    QLabel *elapsed() const { return m_elapsed; }
    QPushButton *breakButton() const { return m_break; }

private:
    LedShape *m_led[3] = {};
    QLabel *m_status = nullptr;
    QProgressBar *m_progress = nullptr;
    QLabel *m_elapsed = nullptr;
    QPushButton *m_break = nullptr;
};

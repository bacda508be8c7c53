#pragma once

#include <QDialog>

class QLabel;
class QTimer;

// The about window: the maker's logo, product name, version, build,
// copyright and legal notice. It serves as the start-up splash (with a close
// timer) and as the about box. A click on the window or the logo, Enter or
// the space bar close it; other keys, Esc too, and clicks on the texts do
// not.
class kzInfo final : public QDialog
{
    Q_OBJECT

public:
    static inline const QString CopyrightNotice = QStringLiteral("Copyright © 2003-2024");
    static inline const QString LegalNotice = QStringLiteral(
        "Dieses Programm ist urheberrechtlich geschützt. Ohne schriftliche Genehmigung von "
        "TALVIRO Modellbahnlösungen darf es weder ganz noch in Teilen vervielfältigt, "
        "verändert oder weitergegeben werden.");
    // Size of the logo picture.
    static constexpr int LogoWidth = 491;
    static constexpr int LogoHeight = 85;

    explicit kzInfo(QWidget *parent = nullptr);

    // The close timer: after ms milliseconds, counted from this call, the
    // window closes by itself. 0 (the start value) never fires.
    void setTimerInterval(int ms);
    int timerInterval() const;
    bool timerActive() const;

    QLabel *piclogo() const { return m_logo; }
    QLabel *lblProductName() const { return m_productName; }
    QLabel *lblVersion() const { return m_version; }
    QLabel *lblBuild() const { return m_build; }
    QLabel *lblCopyright() const { return m_copyright; }
    QLabel *lblLegalInfo() const { return m_legalInfo; }

    void done(int result) override;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // A click closes: a left press on the free area or the logo, released
    // on the same place. A press alone, or one dragged away, does not.
    bool m_pressed = false;
    QTimer *m_timer;
    QLabel *m_logo;
    QLabel *m_productName;
    QLabel *m_version;
    QLabel *m_build;
    QLabel *m_copyright;
    QLabel *m_legalInfo;
};

#pragma once

#include "locolist/decoderfields.h"
#include "locolist/decoderjobs.h"

#include <QWidget>

#include <functional>

class OperationDisplay;
class QLabel;
class QLineEdit;
class QPushButton;

// The "Decoder" tab: identify a decoder, reset it to its factory settings,
// back its CVs up into a file and write them back. It asks its questions,
// checks its fields and files and shows the outcomes; the window runs the
// jobs on the programming track (operationRequested) and hands the results
// back.
class DecoderTab final : public QWidget
{
    Q_OBJECT

public:
    // What the window is to run, with everything the tab asked for.
    struct Request
    {
        DecoderJobs::Job job;
        QString path; // backup: the file to save
        DecoderFields::BackupFormat format = DecoderFields::BackupFormat::Velantor;
    };
    // Asks the user for a file to save (save) or to open, offering suggested;
    // the chosen path, or empty when the user cancelled. Saving, format
    // receives the file type chosen.
    using FileChooser = std::function<QString(bool save, const QString &suggested,
                                              DecoderFields::BackupFormat *format)>;

    explicit DecoderTab(QWidget *parent = nullptr);

    // Qt's own file dialogs, in German, unless replaced (tests answer with a
    // path).
    void setFileChooser(FileChooser chooser) { m_chooseFile = std::move(chooser); }

    // Lamps, status, progress, elapsed time and abort of its jobs.
    OperationDisplay *display() const { return m_display; }

    // Every control that can start an operation.
    void setControlsEnabled(bool enabled);

    // A job of request starts: the blue lamp and the running text.
    void jobStarts(const Request &request);
    // The outcome of the job of request. An aborted job keeps the abort
    // display; a complete backup is saved now.
    void showOutcome(const DecoderJobs::Outcome &outcome, const Request &request);

private:
    void showIdentification(const DecoderJobs::Identification &result);
    void showReset(DecoderReply reply);
    // Saves a complete backup into path; an aborted or failed one writes
    // nothing. A save that fails keeps what was read and offers another file.
    void showBackup(const DecoderJobs::Backup &result, QString path,
                    DecoderFields::BackupFormat format);
    void showRestore(const DecoderJobs::Restore &result);


public:
    QLabel *valueLabel(int index) const { return m_values.at(index); }
    QLineEdit *firstCv() const { return m_firstCv; }
    QLineEdit *lastCv() const { return m_lastCv; }

signals:
    void operationRequested(const DecoderTab::Request &request);
    void breakClicked();

private:
    void backupClicked();
    void restoreClicked();
    bool ask(const QString &question) const;
    void warn(const QString &text) const;
    void done(bool success, const QString &text);
    // The value labels show texts (empty ones clear them), and their
    // accessible names carry them.
    void showValues(const QStringList &texts);

    FileChooser m_chooseFile;
    QStringList m_captions;

    OperationDisplay *m_display = nullptr;
    QPushButton *m_identify = nullptr;
    QPushButton *m_reset = nullptr;
    QList<QLabel *> m_values;
    QLineEdit *m_firstCv = nullptr;
    QLineEdit *m_lastCv = nullptr;
    QPushButton *m_backup = nullptr;
    QPushButton *m_restore = nullptr;
};

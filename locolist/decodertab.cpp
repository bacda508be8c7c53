#include "locolist/decodertab.h"

#include "common/commandbutton.h"
#include "common/messagebox.h"
#include "common/program.h"
#include "common/validation.h"
#include "locolist/operationdisplay.h"
#include "locolist/progfields.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace DecoderFields;

namespace {

// Qt's own dialog rather than the desktop's: its texts come from Qt's German
// translation, whatever desktop the program runs on.
QString germanFileDialog(QWidget *parent, bool save, const QString &suggested,
                         BackupFormat *format)
{
    QFileDialog dialog(parent);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setWindowTitle(save ? QStringLiteral("CVs sichern")
                               : QStringLiteral("CVs zurückschreiben"));
    if (save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setNameFilters(saveFilters());
        dialog.setDefaultSuffix(QStringLiteral("csv"));
        dialog.setDirectory(QFileInfo(suggested).path());
        dialog.selectFile(QFileInfo(suggested).fileName());
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setNameFilters(openFilters().split(QStringLiteral(";;")));
        dialog.setDirectory(QFileInfo(suggested).path());
    }
    // After the modes: setting the accept mode makes the buttons anew.
    dialog.setLabelText(QFileDialog::LookIn, QStringLiteral("Suchen in:"));
    dialog.setLabelText(QFileDialog::FileName, QStringLiteral("Dateiname:"));
    dialog.setLabelText(QFileDialog::FileType, QStringLiteral("Dateityp:"));
    dialog.setLabelText(QFileDialog::Accept, save ? QStringLiteral("Speichern")
                                                  : QStringLiteral("Öffnen"));
    dialog.setLabelText(QFileDialog::Reject, QStringLiteral("Abbrechen"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    if (format)
        *format = dialog.selectedNameFilter() == saveFilters().at(1) ? BackupFormat::DecoderPro
                                                                      : BackupFormat::Velantor;
    return dialog.selectedFiles().first();
}

QPushButton *button(const QString &caption, const QString &name, QWidget *parent)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    pressOnEnter(button);
    return button;
}

} // namespace

DecoderTab::DecoderTab(QWidget *parent)
    : QWidget(parent)
    , m_chooseFile([this](bool save, const QString &suggested, BackupFormat *format) {
        return germanFileDialog(this, save, suggested, format);
    })
{
    setObjectName(QStringLiteral("tabDecoderPage"));
    auto *pageLayout = new QVBoxLayout(this);
    pageLayout->setContentsMargins(6, 6, 6, 6);
    auto *frame = new QGroupBox(this);
    frame->setObjectName(QStringLiteral("fraDecoder"));
    pageLayout->addWidget(frame);

    // Created first: the validation walks the fields in creation order.
    m_display = new OperationDisplay(QStringLiteral("Decoder"), frame);
    connect(m_display->breakButton(), &QPushButton::clicked, this, &DecoderTab::breakClicked);

    m_identify = button(QStringLiteral("Decoder a&uslesen"), QStringLiteral("cmdIdentify"), frame);
    connect(m_identify, &QPushButton::clicked, this,
            [this] { emit operationRequested({{DecoderJobs::Job::Identify, 0, 0, {}, {}}, {}}); });
    m_reset = button(QStringLiteral("&Werkseinstellungen ..."), QStringLiteral("cmdFactoryReset"),
                     frame);
    connect(m_reset, &QPushButton::clicked, this, [this] {
        if (ask(resetQuestion()))
            emit operationRequested({{DecoderJobs::Job::FactoryReset, 0, 0, {}, {}}, {}});
    });

    const QStringList captions = labelCaptions();
    QList<QLabel *> captionLabels;
    for (int i = 0; i < captions.size(); ++i) {
        auto *caption = new QLabel(captions.at(i), frame);
        auto *value = new QLabel(frame);
        value->setObjectName(QStringLiteral("lblDecoderValue%1").arg(i));
        // The value is read out with its caption: see showValues().
        m_captions << captions.at(i).chopped(1);
        value->setAccessibleName(m_captions.last());
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        captionLabels << caption;
        m_values << value;
    }

    auto *lblFirst = new QLabel(QStringLiteral("&von CV"), frame);
    auto *lblLast = new QLabel(QStringLiteral("&bis CV"), frame);
    m_firstCv = new QLineEdit(QString::number(DefaultFirstCv), frame);
    m_firstCv->setObjectName(QStringLiteral("txtFirstCv"));
    m_firstCv->setAccessibleName(QStringLiteral("von CV"));
    m_lastCv = new QLineEdit(QString::number(DefaultLastCv), frame);
    m_lastCv->setObjectName(QStringLiteral("txtLastCv"));
    m_lastCv->setAccessibleName(QStringLiteral("bis CV"));
    for (QLineEdit *field : {m_firstCv, m_lastCv}) {
        field->setMaxLength(4);
        field->setFixedWidth(60);
    }
    setRule(m_firstCv, firstCvRule());
    setRule(m_lastCv, lastCvRule());
    lblFirst->setBuddy(m_firstCv);
    lblLast->setBuddy(m_lastCv);
    m_backup = button(QStringLiteral("CVs &sichern ..."), QStringLiteral("cmdBackup"), frame);
    connect(m_backup, &QPushButton::clicked, this, &DecoderTab::backupClicked);
    m_restore = button(QStringLiteral("CVs &zurückschreiben ..."), QStringLiteral("cmdRestore"),
                       frame);
    connect(m_restore, &QPushButton::clicked, this, &DecoderTab::restoreClicked);

    auto *layout = new QVBoxLayout(frame);
    layout->setSpacing(4);
    layout->addWidget(m_display);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_identify);
    buttons->addWidget(m_reset);
    buttons->addStretch(1);
    layout->addLayout(buttons);

    // The maker takes a whole row; the other six stand in pairs.
    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(1);
    grid->addWidget(captionLabels.at(0), 0, 0);
    grid->addWidget(m_values.at(0), 0, 1, 1, 3);
    for (int i = 1; i < captions.size(); ++i) {
        const int row = (i + 1) / 2;
        const int column = 2 * ((i + 1) % 2);
        grid->addWidget(captionLabels.at(i), row, column);
        grid->addWidget(m_values.at(i), row, column + 1);
    }
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    layout->addLayout(grid);

    auto *range = new QHBoxLayout;
    range->addWidget(lblFirst);
    range->addWidget(m_firstCv);
    range->addSpacing(8);
    range->addWidget(lblLast);
    range->addWidget(m_lastCv);
    range->addStretch(1);
    layout->addLayout(range);
    auto *fileButtons = new QHBoxLayout;
    fileButtons->addWidget(m_backup);
    fileButtons->addWidget(m_restore);
    fileButtons->addStretch(1);
    layout->addLayout(fileButtons);
    layout->addStretch(1);
}

void DecoderTab::setControlsEnabled(bool enabled)
{
    for (QWidget *control : {static_cast<QWidget *>(m_identify), static_cast<QWidget *>(m_reset),
                             static_cast<QWidget *>(m_firstCv), static_cast<QWidget *>(m_lastCv),
                             static_cast<QWidget *>(m_backup), static_cast<QWidget *>(m_restore)})
        control->setEnabled(enabled);
}

bool DecoderTab::ask(const QString &question) const
{
    return showMessageBox(BoxIcon::Question, BoxButtons::YesNo, BoxAnswer::No, Program::Title,
                          question)
           == BoxAnswer::Yes;
}

void DecoderTab::warn(const QString &text) const
{
    showMessageBox(BoxIcon::Warning, BoxButtons::Ok, BoxAnswer::Ok, Program::Title, text);
}

void DecoderTab::done(bool success, const QString &text)
{
    m_display->light(success ? OperationDisplay::Lamp::Done : OperationDisplay::Lamp::Failed);
    m_display->setStatus(success ? OperationDisplay::Green : OperationDisplay::Red, text);
}

void DecoderTab::showValues(const QStringList &texts)
{
    for (int i = 0; i < m_values.size(); ++i) {
        const QString text = texts.value(i);
        m_values.at(i)->setText(text);
        m_values.at(i)->setAccessibleName(valueAccessibleName(m_captions.at(i), text));
    }
}

void DecoderTab::backupClicked()
{
    if (!sysDataOK(this))
        return;
    const int first = ProgFields::wholeNumber(m_firstCv->text());
    const int last = ProgFields::wholeNumber(m_lastCv->text());
    if (first > last) {
        warn(rangeOrderText());
        return;
    }
    BackupFormat format = BackupFormat::Velantor;
    const QString path = m_chooseFile(true, defaultBackupPath(), &format);
    if (path.isEmpty())
        return;
    emit operationRequested(
        {{DecoderJobs::Job::Backup, first, last, {}, {}}, withCsvSuffix(path), format});
}

void DecoderTab::restoreClicked()
{
    const QString path = m_chooseFile(false, defaultBackupPath(), nullptr);
    if (path.isEmpty())
        return;
    QString error;
    const std::optional<QByteArray> bytes = readBackupFile(path, &error);
    if (!bytes) {
        warn(error);
        return;
    }
    const QString name = QDir::toNativeSeparators(path);
    const BackupFile file = parseBackupFile(*bytes);
    if (!file.isValid()) {
        warn(badLineText(name, file.badLine));
        return;
    }
    const QList<CvValue> plan = file.restorePlan();
    if (plan.isEmpty()) {
        warn(noEntriesText(name));
        return;
    }
    // Asked once the decoder on the track has said what it is.
    const CvValues fileIdentity = file.identity();
    const int count = int(plan.size());
    auto question = [this, count, name, fileIdentity](const CvValues &trackIdentity) {
        return ask(restoreQuestion(count, name, fileIdentity, trackIdentity));
    };
    emit operationRequested({{DecoderJobs::Job::Restore, 0, 0, plan, question}, {}});
}

void DecoderTab::jobStarts(const Request &request)
{
    m_display->light(OperationDisplay::Lamp::Running);
    m_display->showProgress(0);
    QString running;
    // What was shown may be of another decoder, or of this one before a
    // reset or a restore.
    showValues({});
    switch (request.job.kind) {
    case DecoderJobs::Job::Identify:
        running = identifyRunningText();
        break;
    case DecoderJobs::Job::FactoryReset: running = resetRunningText(); break;
    case DecoderJobs::Job::Backup: running = backupRunningText(); break;
    case DecoderJobs::Job::Restore: running = restoreRunningText(); break;
    }
    m_display->setStatus(OperationDisplay::Blue, running);
}

void DecoderTab::showOutcome(const DecoderJobs::Outcome &outcome, const Request &request)
{
    if (const auto *result = std::get_if<DecoderJobs::Identification>(&outcome))
        showIdentification(*result);
    else if (const auto *reply = std::get_if<DecoderReply>(&outcome))
        showReset(*reply);
    else if (const auto *backup = std::get_if<DecoderJobs::Backup>(&outcome))
        showBackup(*backup, request.path, request.format);
    else if (const auto *restore = std::get_if<DecoderJobs::Restore>(&outcome))
        showRestore(*restore);
    QLabel *elapsed = m_display->elapsed();
    elapsed->setAccessibleName(valueAccessibleName(QStringLiteral("Dauer"), elapsed->text()));
}

void DecoderTab::showIdentification(const DecoderJobs::Identification &result)
{
    using I = DecoderJobs::Identification;
    // What was confirmed stays shown, also when a later CV failed.
    showValues(decoderLabels(result.values, result.uncertain).texts());
    switch (result.outcome) {
    case I::Identified: done(true, identifiedText()); break;
    case I::Failed: done(false, identifyFailedText()); break;
    case I::NoDecoder: done(false, noDecoderText()); break;
    case I::Aborted: break;
    }
}

void DecoderTab::showReset(DecoderReply reply)
{
    const bool acknowledged = reply == DecoderReply::Acknowledged;
    done(acknowledged, acknowledged ? resetDoneText() : resetFailedText());
}

void DecoderTab::showBackup(const DecoderJobs::Backup &result, QString path, BackupFormat format)
{
    if (result.outcome == DecoderJobs::Backup::Aborted)
        return;
    if (result.outcome == DecoderJobs::Backup::NoDecoder) {
        done(false, noDecoderText());
        return;
    }
    if (!result.worthSaving()) {
        done(false, backupFailedText());
        return;
    }
    // Maker and version only as this backup confirmed them.
    BackupHeader header;
    header.time = QDateTime::currentDateTime();
    if (result.identity.contains(MakerCv))
        header.maker = result.identity.value(MakerCv);
    if (result.identity.contains(VersionCv))
        header.version = result.identity.value(VersionCv);
    header.uncertain = result.uncertain;
    QString error;
    while (!saveBackupFile(path,
                           backupFileText(format, result.values, result.unreadable, header),
                           &error)) {
        // Minutes of reading are not thrown away for a full disk or a
        // folder without write permission.
        warn(error);
        path = m_chooseFile(true, path, &format);
        if (path.isEmpty()) {
            done(false, backupFailedText());
            return;
        }
        path = withCsvSuffix(path);
    }
    done(true, backupDoneText(int(result.values.size()), int(result.unreadable.size()),
                              result.uncertain));
}

void DecoderTab::showRestore(const DecoderJobs::Restore &result)
{
    using R = DecoderJobs::Restore;
    switch (result.outcome) {
    case R::Done: done(true, restoreDoneText(result.written)); break;
    case R::Failed: done(false, restoreFailedText(result.failed, result.count)); break;
    case R::NoDecoder: done(false, noDecoderText()); break;
    case R::Declined: done(false, abortedText()); break;
    case R::NoReply:
    case R::Aborted:
        // An abort before the first write keeps the abort display.
        if (result.failedCv != 0)
            done(false, restoreStoppedText(result.written, result.count, result.failedCv));
        break;
    }
}

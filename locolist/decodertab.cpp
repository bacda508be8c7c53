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

QString desktopFileDialog(bool save, const QString &suggested)
{
    const QString filter = QStringLiteral("CV-Sicherung (*.csv);;Alle Dateien (*)");
    return save ? QFileDialog::getSaveFileName(nullptr, QStringLiteral("CVs sichern"), suggested,
                                               filter)
                : QFileDialog::getOpenFileName(nullptr, QStringLiteral("CVs zurückschreiben"),
                                               QFileInfo(suggested).path(), filter);
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
    , m_chooseFile(desktopFileDialog)
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
            [this] { emit operationRequested({{DecoderJobs::Job::Identify, 0, 0, {}}, {}}); });
    m_reset = button(QStringLiteral("&Werkseinstellungen ..."), QStringLiteral("cmdFactoryReset"),
                     frame);
    connect(m_reset, &QPushButton::clicked, this, [this] {
        if (ask(resetQuestion()))
            emit operationRequested({{DecoderJobs::Job::FactoryReset, 0, 0, {}}, {}});
    });

    const QStringList captions = labelCaptions();
    QList<QLabel *> captionLabels;
    for (int i = 0; i < captions.size(); ++i) {
        auto *caption = new QLabel(captions.at(i), frame);
        auto *value = new QLabel(frame);
        value->setObjectName(QStringLiteral("lblDecoderValue%1").arg(i));
        // The value is read out under its caption's name.
        value->setAccessibleName(captions.at(i).chopped(1));
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
    const QString path = m_chooseFile(true, defaultBackupPath());
    if (path.isEmpty())
        return;
    emit operationRequested({{DecoderJobs::Job::Backup, first, last, {}}, path});
}

void DecoderTab::restoreClicked()
{
    const QString path = m_chooseFile(false, defaultBackupPath());
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
    if (ask(restoreQuestion(int(plan.size()))))
        emit operationRequested({{DecoderJobs::Job::Restore, 0, 0, plan}, {}});
}

void DecoderTab::jobStarts(const Request &request)
{
    m_display->light(OperationDisplay::Lamp::Running);
    m_display->showProgress(0);
    QString running;
    switch (request.job.kind) {
    case DecoderJobs::Job::Identify:
        for (QLabel *value : std::as_const(m_values))
            value->clear();
        m_identity.clear();
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
        showBackup(*backup, request.path);
    else if (const auto *restore = std::get_if<DecoderJobs::Restore>(&outcome))
        showRestore(*restore);
}

void DecoderTab::showIdentification(const DecoderJobs::Identification &result)
{
    // What was read stays shown, also when a later CV failed.
    const QStringList texts = decoderLabels(result.values).texts();
    for (int i = 0; i < m_values.size() && i < texts.size(); ++i)
        m_values.at(i)->setText(texts.at(i));
    for (int cv : {VersionCv, MakerCv}) {
        if (result.values.contains(cv))
            m_identity.insert(cv, result.values.value(cv));
    }
    if (result.outcome != DecoderJobs::Identification::Aborted)
        done(result.outcome == DecoderJobs::Identification::Identified,
             result.outcome == DecoderJobs::Identification::Identified ? identifiedText()
                                                                       : identifyFailedText());
}

void DecoderTab::showReset(DecoderReply reply)
{
    const bool acknowledged = reply == DecoderReply::Acknowledged;
    done(acknowledged, acknowledged ? resetDoneText() : resetFailedText());
    // The decoder's identity is no longer what was read.
    if (acknowledged)
        m_identity.clear();
}

void DecoderTab::showBackup(const DecoderJobs::Backup &result, const QString &path)
{
    if (result.outcome == DecoderJobs::Backup::Aborted)
        return;
    if (!result.worthSaving()) {
        done(false, backupFailedText());
        return;
    }
    // Maker and version from the backup itself, else from the last
    // identification of this decoder.
    CvValues identity = m_identity;
    for (int cv : {VersionCv, MakerCv}) {
        if (result.values.contains(cv))
            identity.insert(cv, result.values.value(cv));
    }
    BackupHeader header;
    header.time = QDateTime::currentDateTime();
    if (identity.contains(MakerCv))
        header.maker = identity.value(MakerCv);
    if (identity.contains(VersionCv))
        header.version = identity.value(VersionCv);
    QString error;
    if (!saveBackupFile(path, backupFileText(result.values, result.unreadable, header), &error)) {
        done(false, backupFailedText());
        warn(error);
        return;
    }
    done(true, backupDoneText(int(result.values.size()), int(result.unreadable.size())));
}

void DecoderTab::showRestore(const DecoderJobs::Restore &result)
{
    if (result.outcome == DecoderJobs::Restore::Aborted)
        return;
    if (result.outcome == DecoderJobs::Restore::Done)
        done(true, restoreDoneText(result.written));
    else
        done(false, restoreFailedText(result.failed, result.count));
}

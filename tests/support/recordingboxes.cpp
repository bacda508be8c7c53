#include "recordingboxes.h"

#include <QStringList>

RecordingMessageBoxes::RecordingMessageBoxes()
    : m_previous(&messageBoxes())
{
    setMessageBoxes(this);
}

RecordingMessageBoxes::~RecordingMessageBoxes()
{
    setMessageBoxes(nullptr);
}

BoxAnswer RecordingMessageBoxes::show(const MessageBoxRequest &request)
{
    m_boxes.append(request);
    if (onShow)
        onShow(request);
    return m_answers.isEmpty() ? request.defaultAnswer : m_answers.dequeue();
}

void RecordingMessageBoxes::script(std::initializer_list<BoxAnswer> answers)
{
    for (BoxAnswer answer : answers)
        m_answers.enqueue(answer);
}

void RecordingMessageBoxes::clear()
{
    m_boxes.clear();
    m_answers.clear();
}

QStringList RecordingMessageBoxes::texts() const
{
    QStringList result;
    for (const MessageBoxRequest &box : m_boxes)
        result.append(box.text);
    return result;
}

const char *toString(BoxIcon icon)
{
    switch (icon) {
    case BoxIcon::Critical: return "Critical";
    case BoxIcon::Warning: return "Warning";
    case BoxIcon::Information: return "Information";
    case BoxIcon::Question: return "Question";
    }
    return "?";
}

const char *toString(BoxButtons buttons)
{
    switch (buttons) {
    case BoxButtons::Ok: return "Ok";
    case BoxButtons::YesNo: return "YesNo";
    case BoxButtons::RetryCancel: return "RetryCancel";
    }
    return "?";
}

const char *toString(BoxAnswer answer)
{
    switch (answer) {
    case BoxAnswer::Ok: return "Ok";
    case BoxAnswer::Yes: return "Yes";
    case BoxAnswer::No: return "No";
    case BoxAnswer::Retry: return "Retry";
    case BoxAnswer::Cancel: return "Cancel";
    }
    return "?";
}

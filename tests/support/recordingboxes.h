#pragma once

#include "common/messagebox.h"

#include <QList>
#include <QQueue>
#include <QStringList>

#include <functional>

// Records every message box the program shows and answers from a script.
// Installs itself while it lives. Without a scripted answer a box is answered
// with its default button.
class RecordingMessageBoxes final : public MessageBoxes
{
public:
    RecordingMessageBoxes();
    ~RecordingMessageBoxes() override;

    BoxAnswer show(const MessageBoxRequest &request) override;

    // Answers for the next boxes, in order.
    void script(std::initializer_list<BoxAnswer> answers);
    void clear();

    const QList<MessageBoxRequest> &boxes() const { return m_boxes; }
    int count() const { return int(m_boxes.size()); }
    QStringList texts() const;
    const MessageBoxRequest &last() const { return m_boxes.constLast(); }

    // Called for every box before it is answered, e.g. to look at a window
    // while the box is "open".
    std::function<void(const MessageBoxRequest &)> onShow;

private:
    MessageBoxes *m_previous = nullptr;
    QList<MessageBoxRequest> m_boxes;
    QQueue<BoxAnswer> m_answers;
};

const char *toString(BoxIcon icon);
const char *toString(BoxButtons buttons);
const char *toString(BoxAnswer answer);

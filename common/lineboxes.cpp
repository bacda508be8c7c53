#include "common/lineboxes.h"

#include "common/errors.h"
#include "common/messagebox.h"
#include "common/program.h"
#include "link/portsession.h"

void showExchangeBoxes(const CommandBuffer &request, const ExchangePolicy &policy,
                       const ExchangeResult &result)
{
    switch (result.failure) {
    case ExchangeFailure::None:
    case ExchangeFailure::Simulation:
    case ExchangeFailure::Superseded:
    case ExchangeFailure::QueueFull:
        return;
    case ExchangeFailure::NoReply:
    case ExchangeFailure::Refused:
    case ExchangeFailure::PortError:
        break;
    }
    if (policy.showAccessError) {
        for (const PortAccessError &failure : result.accessErrors)
            sysShowError(accessErrorText(currentPortName(), failure), false, false, QString());
    }
    if (policy.showFailure) {
        showMessageBox(BoxIcon::Warning, BoxButtons::RetryCancel, BoxAnswer::Retry, Program::Title,
                       noReplyText(request.controller));
    }
}

ExchangeResult RunWindowExchange(const CommandBuffer &request, const ExchangePolicy &policy)
{
    const ExchangeResult result = RunExchange(request, policy);
    showExchangeBoxes(request, policy, result);
    return result;
}

bool SendCommand(CommandBuffer &buffer, qint16 attempts, bool showFailure, qint16 timeoutSeconds)
{
    const ExchangeResult result =
        RunWindowExchange(buffer, ExchangePolicy{attempts, showFailure, timeoutSeconds});
    if (!result.reply)
        return false;
    buffer = *result.reply;
    return true;
}

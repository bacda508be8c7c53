#pragma once

#include "link/exchange.h"

// The boxes a window owes the user for an exchange it started. The line
// hands every outcome back as a value; the window shows what its policy asks
// for: one access box for each attempt whose frame could not be written
// (showAccessError), then, when no valid reply came, the Retry/Cancel box
// "Controller n antwortet nicht." (showFailure), whose answer changes
// nothing. Simulation mode and frames that were never sent show nothing.
void showExchangeBoxes(const CommandBuffer &request, const ExchangePolicy &policy,
                       const ExchangeResult &result);

// An exchange a window started: RunExchange, then its boxes.
ExchangeResult RunWindowExchange(const CommandBuffer &request, const ExchangePolicy &policy);

// The thin form on a buffer: a window exchange with the buffer's request; a
// valid reply overwrites the buffer and answers true, a failure leaves the
// request in it and answers false.
bool SendCommand(CommandBuffer &buffer, qint16 attempts, bool showFailure, qint16 timeoutSeconds);

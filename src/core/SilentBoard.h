#pragma once
// A board that sent nothing at all is told apart from one that answered wrongly: the message
// of a failed step keeps its words and gains a line saying that no answer came.

#include "MonitorMessages.h"

#include <string>

// Whether the step ended because nothing came within the time-out.
bool NoAnswerCame(const TMonitorResult& result);
// The message with NoAnswerText on a line after it when nothing came; otherwise as it is.
TMonitorMessage WithNoAnswerLine(TMonitorMessage message, const TMonitorResult& result);

#pragma once
// A board that sent nothing at all is told apart from one that answered wrongly: the message
// of a failed step keeps its words and gains a line saying that no answer came. Answers that
// stopped coming or matching on a network port may be the server's doing as well as the
// board's: such a message gains a line naming the port, so the user looks at both.

#include "MonitorMessages.h"

#include <string>

// Whether the step ended because nothing came within the time-out.
bool NoAnswerCame(const TMonitorResult& result);
// Whether the step's answers stopped coming or stopped matching the frames sent.
bool AnswersWentWrong(const TMonitorResult& result);
// The message with ServerAnswersLine after it when the answers went wrong and came through a
// network port; otherwise as it is.
TMonitorMessage WithServerLine(TMonitorMessage message, const TMonitorResult& result);
// The same for a synchronisation that heard nothing it could use.
TMonitorMessage WithServerLine(TMonitorMessage message, const TSyncResult& sync);
// The message with NoAnswerText on a line after it when nothing came, then the server's line
// where one belongs.
TMonitorMessage WithAnswerLines(TMonitorMessage message, const TMonitorResult& result);

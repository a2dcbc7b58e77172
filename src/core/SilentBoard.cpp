#include "SilentBoard.h"

bool NoAnswerCame(const TMonitorResult& result) {
    // A refusal carries the byte received, 0 when none came.
    return result.Status == TMonitorStatus::NoAnswer ||
           (result.Status == TMonitorStatus::Refused && result.Response == 0);
}

TMonitorMessage WithNoAnswerLine(TMonitorMessage message, const TMonitorResult& result) {
    if (NoAnswerCame(result))
        message.Text += std::string("\n") + NoAnswerText;
    return message;
}

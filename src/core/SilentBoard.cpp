#include "SilentBoard.h"

namespace {

TMonitorMessage WithLine(TMonitorMessage message, const std::string& line) {
    message.Text += "\n" + line;
    return message;
}

} // namespace

bool NoAnswerCame(const TMonitorResult& result) {
    // A refusal carries the byte received, 0 when none came.
    return result.Status == TMonitorStatus::NoAnswer ||
           (result.Status == TMonitorStatus::Refused && result.Response == 0);
}

bool AnswersWentWrong(const TMonitorResult& result) {
    return NoAnswerCame(result) || result.Status == TMonitorStatus::OutOfStep;
}

TMonitorMessage WithServerLine(TMonitorMessage message, const TMonitorResult& result) {
    if (result.ServerPort.empty() || !AnswersWentWrong(result))
        return message;
    return WithLine(std::move(message), ServerAnswersLine(result.ServerPort));
}

TMonitorMessage WithServerLine(TMonitorMessage message, const TSyncResult& sync) {
    // A port that would not open or a lost connection names the port in its own reason.
    const bool answersWentWrong =
        sync.Status == TSyncStatus::NoAck || sync.Status == TSyncStatus::NoResponse ||
        sync.Status == TSyncStatus::NoSpeed || sync.Status == TSyncStatus::OutOfStep;
    if (sync.ServerPort.empty() || !answersWentWrong)
        return message;
    return WithLine(std::move(message), ServerAnswersLine(sync.ServerPort));
}

TMonitorMessage WithAnswerLines(TMonitorMessage message, const TMonitorResult& result) {
    if (NoAnswerCame(result))
        message = WithLine(std::move(message), NoAnswerText);
    return WithServerLine(std::move(message), result);
}

// korvex-cli's progress events of one board: which figures are sent, held back and completed.
#include "CliProgress.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <string>
#include <vector>

namespace {

// One call on the events: a phase (Ms < 0), progress at Ms, or the result (Done < 0).
struct TCall {
    int Ms;
    int64_t Done;
    int64_t Total;
    const char* Phase;
};
TCall Phase(const char* name) {
    return {-1, 0, 0, name};
}
TCall Progress(int ms, int64_t done, int64_t total) {
    return {ms, done, total, nullptr};
}
TCall Result(bool completed) {
    return {-1, -1, completed ? 1 : 0, nullptr};
}

// An event as one short text: "phase write", "write 80/400", "result ok".
std::string Short(const std::string& line) {
    const QJsonObject event = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
    EXPECT_EQ(event["v"].toInt(), 1) << line;
    EXPECT_EQ(event["port"].toString(), "/dev/ttyUSB0") << line;
    const std::string kind = event["event"].toString().toStdString();
    const std::string phase = event["phase"].toString().toStdString();
    if (kind == "progress")
        return phase + " " + std::to_string(event["done"].toInteger()) + "/" +
               std::to_string(event["total"].toInteger());
    if (kind == "result")
        return "result " + event["result"].toString().toStdString();
    return kind + " " + phase;
}

} // namespace

TEST(CliProgress, SendsHoldsBackAndCompletesFigures) {
    const struct {
        const char* Name;
        std::vector<TCall> Calls;
        std::vector<std::string> Events;
    } cases[] = {
        {"a few a second, the total always",
         {Phase("Programming"), Progress(0, 80, 400), Progress(100, 160, 400),
          Progress(200, 240, 400), Progress(300, 320, 400), Progress(350, 400, 400), Result(true)},
         {"phase write", "write 80/400", "write 320/400", "write 400/400", "result ok"}},
        {"the next phase completes the transfer",
         {Phase("Programming"), Progress(0, 80, 200), Progress(10, 160, 200), Phase("Verifying"),
          Result(true)},
         {"phase write", "write 80/200", "write 200/200", "phase verify", "result ok"}},
        {"a completed board completes its transfer",
         {Phase("Reading back"), Progress(0, 80, 200), Progress(10, 160, 200), Result(true)},
         {"phase readback", "readback 80/200", "readback 200/200", "result ok"}},
        {"a failure shows where it stopped",
         {Phase("Programming"), Progress(0, 80, 400), Progress(10, 160, 400), Result(false)},
         {"phase write", "write 80/400", "write 160/400", "result failed"}},
        {"figures already shown are not repeated",
         {Phase("Reading"), Progress(0, 80, 160), Progress(300, 160, 160), Phase("Erasing"),
          Result(true)},
         {"phase read", "read 80/160", "read 160/160", "phase erase", "result ok"}},
        {"no transfer, no figures",
         {Phase("Synchronizing"), Phase("Erasing"), Result(true)},
         {"phase sync", "phase erase", "result ok"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        std::vector<std::string> sent;
        TProgressEvents::TClock::time_point now{};
        TProgressEvents events(
            "/dev/ttyUSB0", [&sent](const std::string& line) { sent.push_back(Short(line)); },
            [&now] { return now; });
        for (const TCall& call : c.Calls) {
            if (call.Phase) {
                events.Phase(call.Phase);
            } else if (call.Done < 0) {
                const bool ok = call.Total != 0;
                events.Result(std::string(R"({"port":"/dev/ttyUSB0","result":")") +
                                  (ok ? "ok" : "failed") + "\"}",
                              ok);
            } else {
                now = TProgressEvents::TClock::time_point{} + std::chrono::milliseconds(call.Ms);
                events.Progress(call.Done, call.Total);
            }
        }
        EXPECT_EQ(sent, c.Events);
    }
}

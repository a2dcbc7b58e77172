#pragma once
// --progress json: what a board command does, as it happens, for another program to follow (an
// editor, a board farm's driver). One JSON object per line on stdout, and nothing else there.
// Format version 1, every object with "v": 1:
//   {"event": "phase", "port": PORT, "phase": PHASE}
//   {"event": "progress", "port": PORT, "phase": PHASE, "done": BYTES, "total": BYTES}
//   {"event": "result", ...}   per board, last: the object --json prints for it
//   {"event": "tally", ...}    station only, at the end: its tally, without a port
// PHASE: sync, check, erase, write, verify, read, readback, upload. Progress comes during a
// transfer of one block or more, a few times a second per board at most; the last of a transfer
// that went through has done == total.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace CLI {
class App;
}
class TJsonFields;

// The value of --progress that asks for the events.
constexpr const char* ProgressJson = "json";

// Adds --progress FORMAT to a board command.
void AddProgressOption(CLI::App* command, std::string& format);

// The name an event gives a board's phase ("Programming" is "write").
std::string EventPhaseName(const std::string& phase);

// The events of one board. Called from the board's own thread; the lines are written whole, so
// the boards of one command may share stdout.
class TProgressEvents {
public:
    using TClock = std::chrono::steady_clock;
    using TSink = std::function<void(const std::string& line)>;
    using TNow = std::function<TClock::time_point()>;

    // The lines go to sink without their line feed; by default to stdout.
    explicit TProgressEvents(std::string port, TSink sink = {}, TNow now = TClock::now);

    // A new phase: the transfer of the phase before it went through.
    void Phase(const std::string& name);
    void Progress(int64_t done, int64_t total);
    // The board's --json object; completed: the board's work went through.
    void Result(const std::string& jsonObject, bool completed);

private:
    // The transfer's last figures are shown when they were held back; complete shows it done.
    void EndTransfer(bool complete);
    void SendProgress(int64_t done, int64_t total);
    void Send(TJsonFields& fields);

    std::string Port;
    TSink Sink;
    TNow Now;
    std::string CurrentPhase;
    int64_t Done = 0;
    int64_t Total = 0;                          // 0: no transfer figures in this phase yet
    int64_t Shown = -1;                         // the done last sent in this phase
    std::optional<TClock::time_point> LastSent; // of the board's last progress
};

// The event objects around another object's fields (a board's --json object, the tally).
std::string ResultEvent(const std::string& jsonObject);
std::string TallyEvent(const std::string& jsonObject);

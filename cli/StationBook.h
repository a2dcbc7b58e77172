#pragma once
// The station's bookkeeping, free of threads and clocks so that it can be tested on its own:
// which ports appeared and went away between two looks at the port list, which of them a
// --ports pattern takes, which boards are to be programmed (a board still attached is never
// programmed twice), and the tally of the finished ones.

#include "CliBoards.h"
#include "PortList.h"

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

// '*' any run of characters, '?' one character, '[abc]' or '[a-z]' one of them; the whole
// text must match.
bool GlobMatch(const std::string& pattern, const std::string& text);
// The names a port answers to: its device (also as /dev/...), its by-id link (whole and as the
// link's own name), and usb:SERIAL, usb:VID:PID and usb:VID:PID:SERIAL when the adapter says.
std::vector<std::string> PortNamesOf(const TPortCandidate& port);
// Whether any of those names matches the pattern.
bool PortMatches(const std::string& pattern, const TPortCandidate& port);

struct TPortChanges {
    std::vector<TPortCandidate> Gone;
    // Still the same device node, with other details: a by-id link udev made a moment after the
    // node, a renamed announcement, a serial number read late.
    std::vector<TPortCandidate> Changed;
    std::vector<TPortCandidate> Appeared;
};

// Which device node a port's name stands for now: two different values for one name mean the
// node was made anew (the adapter was unplugged and plugged in again); 0 when unknown.
using TNodeIdentity = std::function<uint64_t(const TPortCandidate&)>;
// The inode of the port's device file: the system makes a new one for each device node.
uint64_t DeviceNodeIdentity(const TPortCandidate& port);

// Two looks at the port list compared by device node: a port stays the same port while its node
// exists, whatever its details do meanwhile. A node gone and made again is a port gone and one
// appeared.
class TPortWatcher {
public:
    explicit TPortWatcher(TNodeIdentity identity = DeviceNodeIdentity)
        : Identity(std::move(identity)) {}
    // What changed since the last list; on the first call every port appeared.
    TPortChanges Update(const std::vector<TPortCandidate>& ports);

private:
    struct TKnownPort {
        TPortCandidate Port;
        uint64_t Node = 0;
    };
    TNodeIdentity Identity;
    std::vector<TKnownPort> Known;
};

class TStationBook {
public:
    explicit TStationBook(int count) : Limit(count) {}

    // A port that was attached before the station started: its board is not programmed.
    void AlreadyThere(const std::string& port);
    // A port appeared: true when a board on it is to be programmed now. One still attached, or
    // one beyond the count, is not; one whose last board has not finished yet is programmed
    // once that board finished (see Finished).
    bool Appeared(const std::string& port);
    void Gone(const std::string& port);
    // A board finished, having written bytes (0 when it found every sector unchanged); true
    // when the port came back meanwhile and its new board is to be programmed now.
    bool Finished(const std::string& port, TBoardOutcome outcome, int64_t bytes, double seconds);

    int InProgress() const { return static_cast<int>(Busy.size()); }
    int Passed() const { return Tally[0]; }
    int Failed() const { return Tally[1]; }
    int Interrupted() const { return Tally[2]; }
    // Finished boards still attached, waiting to be taken off.
    int Waiting() const;
    // --count boards were started; the station ends once they finished.
    bool CountReached() const { return Limit > 0 && Started >= Limit; }
    bool AllDone() const { return CountReached() && Busy.empty(); }

    // "2 waiting, 1 in progress, 5 passed, 0 failed; last board 11.9 KB/s"
    std::string StatusText() const;
    // "Passed: 5, failed: 1, interrupted: 0."
    std::string TallyText() const;
    std::string TallyJson(double seconds) const;
    // 1 when a board failed, else interruptedCode when one was interrupted, else 0.
    int ExitCode(int interruptedCode) const;

private:
    bool Start(const std::string& port);

    int Limit;
    int Started = 0;
    int Tally[3] = {0, 0, 0};
    double LastRate = -1; // KB/s of the last board that passed; 0: it wrote nothing
    std::set<std::string> Attached;
    std::set<std::string> Busy;
    std::set<std::string> Deferred; // came back while its last board was still in progress
    std::set<std::string> Served;   // its board finished and it has not gone away since
};

// The line for a finished board: "ttyUSB0 (serial A64B3X): passed in 4.1 s", or "... FAILED in
// 1.2 s: <reason on one line>"; with the number it took (not -1) "ttyUSB0, serial number 17:
// passed ...".
std::string FinishedBoardLine(const std::string& port, const std::string& serial,
                              TBoardOutcome outcome, double seconds, const std::string& reason,
                              int64_t number = -1);

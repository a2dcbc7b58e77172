#pragma once
// Running one board operation on one board or on several at once: each board on its own thread
// with its own port and its own boot monitor; output lines that name their port when there are
// several; a summary line (or a JSON object) per board at the end; the exit code of the whole.

#include "BootMonitor.h"
#include "CliCommand.h"
#include "CliConsole.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class TComms;
class TProgressEvents;

// Options every board command offers.
struct TBoardOptions {
    std::vector<std::string> Ports;
    int Linked = 0; // speed of a link synchronised before; 0: synchronise first
    bool Quiet = false;
    bool Json = false;
    std::string Progress; // --progress: "json" or empty
};

enum class TBoardOptionSet {
    OnePort,      // --port once
    SeveralPorts, // --port repeatable
};
// Adds --port, --quiet, --json and --progress, and --linked when linkable.
void AddBoardOptions(CLI::App* command, TBoardOptions& options, TBoardOptionSet ports,
                     bool linkable);
// Adds --type NAME.
void AddTypeOption(CLI::App* command, std::string& type);
// Adds the image file argument FILE.
void AddImageArgument(CLI::App* command, std::string& file);
// Adds --address ADDR, a 32-bit address.
void AddAddressOption(CLI::App* command, std::string& address, const char* description);
// Adds --baud BAUD, one of the link speeds.
void AddBaudOption(CLI::App* command, int& baud, const char* description);

// Ctrl+C, SIGTERM or SIGHUP while boards work: the first asks the operations to stop after
// their current block; a second one of the same kind ends the program at once.
bool InterruptRequested();
// Installs the handling above for SIGINT, SIGTERM and SIGHUP; RunOnBoards does it itself.
void InstallInterruptHandler();
// 128 + the number of the signal that asked to stop (130 when none did).
int InterruptedExitCode();

enum class TBoardOutcome { Done, Failed, Interrupted };

// One board's run, handed to the work function on the board's own thread.
class TBoard {
public:
    TBoard(const std::string& port, bool prefixed, bool json, int progressSlot);

    const std::string& Port() const { return PortName; }
    int Slot() const { return ProgressSlot; }

    // One or more console lines on stdout (not with --json), printed as one block.
    void Line(const std::string& text);
    // The empty line between two parts of the output; none before the first.
    void Separator();
    // A failure: the message on stderr; the board's outcome becomes failed. A further failure
    // adds its message to the first.
    void Fail(const std::string& message);
    // Failures are kept for the summary only, not shown as they happen (the station's boards).
    void KeepFailuresQuiet() { EchoFailures = false; }
    // "User break." as the console shows it; the outcome becomes interrupted.
    void Interrupted();

    // Progress: the phase, and the bytes done of the phase's transfer. Progress returns false
    // once Ctrl+C was pressed, which stops the transfer after the current block.
    void Phase(const char* name);
    bool Progress(int64_t done, int64_t total);

    // Synchronises the link, or with --linked opens the port at that speed. False when that
    // failed or Ctrl+C was pressed meanwhile (already reported).
    bool Connect(TComms& port, TBootMonitor& monitor, int linked, const TSyncRequest& request);
    // Opens the port at a speed, reporting a failure.
    bool Open(TComms& port, int speed);
    // Hears how late the port's answers come, and says once when that costs time.
    void WatchTurnaround(TComms& port);

    // The success line the summary repeats, and the figures of the JSON object. The lines of
    // details, when given, are printed in one block with it.
    void SetResult(const std::string& line, int64_t bytes,
                   const std::string& details = std::string());
    // The bytes a transfer that ended early had moved.
    void SetBytes(int64_t bytes) { Bytes = bytes; }
    TJsonFields& Json() { return Extra; }
    const TJsonFields& Json() const { return Extra; }
    // --progress json: the phases and the progress as events, and the result event at the end.
    void SendEvents();
    void SendResultEvent(const char* operation) const;
    bool SendsEvents() const { return Events != nullptr; }

    // What the synchronisation found: the speed (also the one of --linked), and the identity
    // (null when the link was not synchronised here).
    int Speed() const { return LinkSpeed; }
    const TMonitorIdentity* Identity() const { return Identified ? &BoardIdentity : nullptr; }

    // After the run.
    TBoardOutcome Outcome() const { return State; }
    const std::string& FailureReason() const { return FailureText; }
    double ElapsedSeconds() const { return Seconds; }
    int64_t BytesMoved() const { return Bytes; }
    std::string Summary() const;
    std::string JsonText(const char* operation) const;

    void Start();
    void Finish();

private:
    std::string PortName;
    std::string Prefix;
    bool JsonMode;
    int ProgressSlot;
    TBoardOutcome State = TBoardOutcome::Done;
    std::string FailureText;
    std::string ResultLine;
    int64_t Bytes = 0;
    int LinkSpeed = 0;
    bool Identified = false;
    TMonitorIdentity BoardIdentity;
    TJsonFields Extra;
    double TurnaroundMs = -1; // -1: not measured
    bool Hinted = false;
    bool Printed = false;
    bool EchoFailures = true;
    std::chrono::steady_clock::time_point Started;
    double Seconds = 0;
    std::shared_ptr<TProgressEvents> Events;
};

using TBoardWork = std::function<void(TBoard& board)>;

// Runs the work on every port at once, each on its own thread; prints the summary lines (several
// boards) or the JSON objects, and returns the exit code: 128 + the signal's number when any
// board was interrupted (130 for Ctrl+C), else 1 when any failed, else 0.
int RunOnBoards(const TBoardOptions& options, const std::vector<std::string>& ports,
                const char* operation, const TBoardWork& work);

// The synchronisation a flash command starts with: every speed, or the stored flash speed when
// automatic speed is off, or only fixedSpeed when it is not 0.
TSyncRequest StoredSyncRequest(int fixedSpeed);

// The speeds a link can run at, for the checks of --baud and --linked.
std::vector<int> LinkSpeeds();

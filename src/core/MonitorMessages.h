#pragma once
// Every text the boot-monitor commands show, built from the results of BootMonitor and
// FlashPlan, so that the window and korvex-cli say the same words. A message carries the
// message-box flags it is shown with; korvex-cli prints only the text.

#include "BootMonitor.h"

#include "Turnaround.h"

#include <cstdint>
#include <string>
#include <vector>

struct TFlashPlan;

// printf into a string, cut off at 1023 characters.
std::string FormatText(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

struct TMonitorMessage {
    std::string Text;
    int Flags = 0; // MB_ICONEXCLAMATION, MB_ICONINFORMATION, MB_OK ...
};

// Confirmations before a synchronisation and an SRAM upload (MB_OKCANCEL | MB_ICONINFORMATION).
TMonitorMessage SyncConfirmation(const std::string& port);
TMonitorMessage SramConfirmation(const std::string& port);

// "Unable to intialize serial port:\n<settings>", and the system's reason on a line after it.
TMonitorMessage PortOpenFailure(const std::string& settings, const std::string& reason);

// What to do when the board stopped answering as its boot monitor does: a board reset, or one
// that runs its own program, no longer knows the link. Said in words: the command line and the
// station have no window keys.
#define KORVEX_SYNC_AGAIN_ADVICE "Synchronise again if the board was reset or runs its program."

// The line after a step's message when the board's answers no longer matched the frames sent.
constexpr const char* OutOfStepLine =
    "The board's answers are out of step with the frames sent (a late, repeated or longer "
    "answer). " KORVEX_SYNC_AGAIN_ADVICE;

// The line after a step's message when the board answered a flash command with 'F': "Flash
// error 0x02 at 0x01040000." (the address the command was about).
std::string FlashErrorLine(const TMonitorResult& result);

// The line after a step's message when nothing came back from the board.
constexpr const char* NoAnswerText =
    "The board did not answer within the time-out. " KORVEX_SYNC_AGAIN_ADVICE;

// The line after a failed step's message when its answers passed a server on the network, which
// can lose, hold back or repeat them as a board can: the user is told to look at the server too.
std::string ServerAnswersLine(const std::string& port);

// Why a board command synchronises first: who opened the port meanwhile, which restarts a board
// on a USB adapter (one of the two reasons below).
constexpr const char* SyncAgainPaneReason = "The board output pane";
constexpr const char* SyncAgainProbeReason = "The port list";
std::string SyncAgainLine(const char* opener);

// The identity lines of a successful synchronisation, after " " and the title line.
constexpr const char* SyncTitle = "Synchronization link response:";
std::vector<std::string> IdentityLines(const TMonitorIdentity& identity, int speed);
TMonitorMessage SyncFailure(const TSyncResult& result);
// The line after a synchronisation that heard nothing it could use; %s is the port.
constexpr const char* SyncCheckText =
    "Check that the board is powered and in its boot-monitor mode, that the cable is plugged in "
    "at both ends, and that %s is the port the board is on.";

// Read.
constexpr const char* ReadTitle = "Read data response:";
TMonitorMessage ReadFailure(const TMonitorResult& result);

// Sector erase command.
TMonitorMessage EraseAddressOutside(int flashStart, int flashEnd);
TMonitorMessage EraseProtectedQuestion(int sector);
TMonitorMessage EraseFailure(const TMonitorResult& result);
std::string SectorErasedLine(uint32_t address);

// Flash programming: the line each phase starts with, the checks' messages and the outcome.
const char* ProgramPhaseLine(TBootMonitor::TPhase phase);
constexpr const char* FailedLine = "Failed";
TMonitorMessage ProgramCheckFailure(const TFlashPlan& plan, int address);
TMonitorMessage ProgramProtectedQuestion();
// An image that carries its own addresses, to be written elsewhere: asked first, default No.
TMonitorMessage ProgramElsewhereQuestion(uint32_t linked, uint32_t address);
TMonitorMessage ProgramFailure(const TBootMonitor::TProgramResult& result, uint32_t address);
// The console's last line after a failed programming: "Failed", "User break." or none.
std::string ProgramClosingLine(const TBootMonitor::TProgramResult& result);
// After a programming the user stopped in its erase or write: what the flash holds now.
std::string PartlyProgrammedLine(const TBootMonitor::TProgramResult& program);
std::string ProgrammedLine(int64_t length, uint32_t address);
// Sector numbers in ascending order as text: "sector 4", "sectors 8 and 9", "sectors 0 to 7 and 9".
std::string SectorListText(const std::vector<int>& sectors);
// After a programming that skipped sectors, those sectors; none skipped: empty.
std::string UnchangedSectorsLine(const std::vector<int>& skipped);

// Verify.
TMonitorMessage VerifyLengthTooLong(int64_t length, int64_t imageLength);
TMonitorMessage VerifyFailure(const TMonitorResult& result);
std::string VerifiedLine(int64_t length, uint32_t address);

// SRAM upload.
constexpr const char* SramTitle = "SRAM writing...";
constexpr const char* SramDoneLine = "Finished OK";
TMonitorMessage SramTooLarge(int sramSize);
TMonitorMessage SramFailure(const TMonitorResult& result, int64_t length);

// Said once when a port's answers come late (TTurnaroundFigures::Slow): by how much, what it
// costs a programming at the speed, and where the cure is told.
std::string SlowAdapterHint(double turnaroundMs, int speed);
// The same for answers that pass a server on the network: its settings that hold them back.
std::string SlowServerHint(double turnaroundMs, int speed);
// The hint that fits the figures' port.
std::string SlowAnswersHint(const TTurnaroundFigures& figures);

// The console line of a transfer the user stopped.
constexpr const char* UserBreakLine = "User break.";

// The board's own output: the port stopped working under the monitor, with the system's reason.
std::string LineLostText(const std::string& port, const std::string& reason);
// korvex-cli monitor, once most of what came was not text.
std::string NotTextHint(int speed);

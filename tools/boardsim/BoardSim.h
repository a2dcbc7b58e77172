// The simulated board on a pseudo-terminal: the boot monitor answering on its own thread, for
// tests in-process and for korvex-boardsim.
#ifndef KORVEX_BOARDSIM_H
#define KORVEX_BOARDSIM_H

#include "BoardMonitor.h"
#include "BoardProgram.h"
#include "PseudoTerminal.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class TBoardSim {
public:
    explicit TBoardSim(const TBoardConfig& config);
    ~TBoardSim();
    TBoardSim(const TBoardSim&) = delete;
    TBoardSim& operator=(const TBoardSim&) = delete;

    // Opens the pseudo-terminal and starts answering; false with a reason when it cannot.
    bool Start(std::string* error = nullptr);
    void Stop();

    // The device the host opens, e.g. "/dev/pts/3".
    std::string PortPath() const;
    // The speed of the last synchronisation; 0 while not synchronised.
    int SyncedSpeed() const;
    // True once a hang-up fault has closed the line.
    bool HungUp() const;

    // The latest frames (at most TBoardMonitor::MaxLoggedFrames), oldest first.
    std::vector<TFrameRecord> Frames() const;
    void ClearFrames();
    // Waits until at least count frames were logged since the last ClearFrames; false when the
    // time-out passed first.
    bool WaitForFrames(size_t count, int timeoutMs) const;

    std::vector<uint8_t> ReadMemory(uint32_t address, uint32_t count) const;
    void LoadMemory(uint32_t address, const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> SramData() const;
    void SetFaults(const TFaultPlan& faults);

    // Gives the board a program of its own, before Start. runNow: the board starts in it, as
    // after a reset with the boot switch on the flash. Otherwise it runs in its boot monitor and
    // starts the program once a programming or erase was followed by a host that opened the
    // port and sent nothing for runAfterMs (at least ResetMs): as a board on a USB adapter is
    // reset when a host opens the port. The host's synchronisation byte returns the board from
    // its program to the boot monitor, flash contents kept; the program then keeps silent until
    // a host opens the port again to listen.
    void SetProgram(const TProgramConfig& program, bool runNow, int runAfterMs = 1000);
    // Whether the program runs rather than the boot monitor.
    bool ProgramRunning() const { return ProgramOn; }

    // Called on the board's thread for every frame it logs (korvex-boardsim prints them).
    void SetFrameObserver(std::function<void(const TFrameRecord&)> observer);

private:
    void Run();
    // How long a pass may wait for the host's bytes: never past an answer or a flood that is due.
    int ReadWaitMs(bool watching) const;
    // The boot monitor's share of a pass: answers the bytes read, reports the frames they ended
    // and sends what fell due; false once a hang-up fault ended the line.
    bool MonitorStep(const uint8_t* bytes, int got, int speed, int64_t& frameStartUs);
    // The frames logged since there were loggedBefore, under the lock: a write or erase marks
    // the flash changed, and the observer sees each.
    void ReportFrames(size_t loggedBefore);
    // The program's share of a pass: true when it took the bytes read.
    bool ProgramStep(const uint8_t* bytes, int got);
    // In the boot monitor: starts the program when a host opened the port and only listened;
    // true when it did.
    bool StartProgramWhenListened(int got, int64_t now);
    void ReturnToBootMonitor();
    void ProgramSend(const std::string& text);
    // Whether a host opened the port since the last call.
    bool HostOpened();
    // With the line-rate model, SRAM data is taken no faster than the line carries it.
    void PaceSram(int got, int speed);
    void Deliver(const std::vector<uint8_t>& reply, int64_t frameStartUs, size_t frameBytes,
                 int speed);

    TBoardConfig Config;
    TPseudoTerminal Line;
    std::string Path;
    mutable std::mutex Lock;
    mutable std::condition_variable Logged;
    TBoardMonitor Monitor;
    std::function<void(const TFrameRecord&)> Observer;
    std::thread Worker;
    std::atomic<bool> Stopping{false};
    std::atomic<bool> LineClosed{false};
    int64_t LastDeliveryUs = 0; // on the board's thread only
    TProgramConfig ProgramSettings;
    std::unique_ptr<TBoardProgram> Program;
    std::atomic<bool> ProgramOn{false};
    int RunAfterMs = 1000;
    bool StartsInProgram = false; // a host's opening restarts the program whatever it ran
    bool FlashChanged = false;    // since the program last ran; on the board's thread only
    int64_t SramReadyUs = 0;      // on the board's thread only
    int OpenWatch = -1;           // notifications of the port being opened
    int64_t RestartAtMs = 0;      // a reset by the host's opening is due; 0: none
    // How long the board takes to restart after the host opened the port: the banner comes
    // after the host has emptied its input.
    static constexpr int64_t ResetMs = 300;
};

#endif

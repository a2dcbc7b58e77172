// The simulated board on a pseudo-terminal: the boot monitor answering on its own thread, for
// tests in-process and for korvex-boardsim.
#ifndef KORVEX_BOARDSIM_H
#define KORVEX_BOARDSIM_H

#include "BoardMonitor.h"
#include "PseudoTerminal.h"

#include <atomic>
#include <condition_variable>
#include <functional>
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

    // Called on the board's thread for every frame it logs (korvex-boardsim prints them).
    void SetFrameObserver(std::function<void(const TFrameRecord&)> observer);

private:
    void Run();
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
};

#endif

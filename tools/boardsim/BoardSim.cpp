#include "BoardSim.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

#include <poll.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/inotify.h>
#include <sys/prctl.h>
#endif

namespace {

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// How much of a line-rate wait is spent yielding rather than asleep.
constexpr int64_t SpinUs = 400;
// How long after an answer the line is watched for the next frame without sleeping.
constexpr int64_t WatchUs = 1000;

int64_t NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Time the bytes take on a line: a start bit, eight data bits and a stop bit each. In
// microseconds: whole milliseconds would make an 83-byte exchange at 115200 baud 3% too quick.
int64_t LineUs(size_t bytes, int speed) {
    return speed > 0 ? static_cast<int64_t>(bytes) * 10 * 1000000 / speed : 0;
}

} // namespace

TBoardSim::TBoardSim(const TBoardConfig& config) : Config(config), Monitor(config) {}

TBoardSim::~TBoardSim() {
    Stop();
}

bool TBoardSim::Start(std::string* error) {
    Stop();
    if (!Line.Open()) {
        if (error)
            *error = "cannot create a pseudo-terminal";
        return false;
    }
    Path = Line.SlavePath();
#ifdef __linux__
    // A board on a USB adapter is reset when a host opens the port; the program's banner is
    // then what the host reads first.
    if (Program && OpenWatch < 0) {
        OpenWatch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (OpenWatch >= 0)
            ::inotify_add_watch(OpenWatch, Path.c_str(), IN_OPEN);
    }
#endif
    Stopping = false;
    LineClosed = false;
    Worker = std::thread([this] { Run(); });
    return true;
}

void TBoardSim::Stop() {
    Stopping = true;
    if (Worker.joinable())
        Worker.join();
    Line.Close();
#ifdef __linux__
    if (OpenWatch >= 0)
        ::close(OpenWatch);
    OpenWatch = -1;
#endif
}

std::string TBoardSim::PortPath() const {
    return Path;
}

int TBoardSim::SyncedSpeed() const {
    std::lock_guard<std::mutex> guard(Lock);
    return Monitor.SyncedSpeed();
}

bool TBoardSim::HungUp() const {
    return LineClosed;
}

std::vector<TFrameRecord> TBoardSim::Frames() const {
    std::lock_guard<std::mutex> guard(Lock);
    return Monitor.Frames();
}

void TBoardSim::ClearFrames() {
    std::lock_guard<std::mutex> guard(Lock);
    Monitor.ClearFrames();
}

bool TBoardSim::WaitForFrames(size_t count, int timeoutMs) const {
    std::unique_lock<std::mutex> guard(Lock);
    return Logged.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                           [&] { return Monitor.LoggedSinceClear() >= count; });
}

std::vector<uint8_t> TBoardSim::ReadMemory(uint32_t address, uint32_t count) const {
    std::lock_guard<std::mutex> guard(Lock);
    return Monitor.Memory().Read(address, count);
}

void TBoardSim::LoadMemory(uint32_t address, const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> guard(Lock);
    Monitor.Memory().Load(address, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

std::vector<uint8_t> TBoardSim::SramData() const {
    std::lock_guard<std::mutex> guard(Lock);
    return Monitor.SramData();
}

void TBoardSim::SetFaults(const TFaultPlan& faults) {
    std::lock_guard<std::mutex> guard(Lock);
    Monitor.Faults() = faults;
}

void TBoardSim::SetFrameObserver(std::function<void(const TFrameRecord&)> observer) {
    std::lock_guard<std::mutex> guard(Lock);
    Observer = std::move(observer);
}

void TBoardSim::Run() {
#ifdef __linux__
    // The line-rate model sleeps for the few milliseconds a frame takes; the default timer slack
    // of 50 microseconds on each of those sleeps would make the line a few percent slower.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
    uint8_t buffer[512];
    int64_t frameStartUs = 0;
    while (!Stopping) {
        // With the line-rate model, the host's next frame is watched for closely for a moment
        // after an answer, so that the board's own wake-up does not delay the frame's start.
        const bool watching = Config.LineRate && NowUs() - LastDeliveryUs < WatchUs;
        const int got = Line.Read(buffer, sizeof buffer, ReadWaitMs(watching));
        if (got < 0)
            break;
        if (got == 0 && watching)
            std::this_thread::yield();
        // The speed the host set before it wrote these bytes.
        const int speed = got > 0 ? Line.LineSpeed() : 0;
        if (ProgramStep(buffer, got))
            continue;
        if (Config.Mode == TBoardMode::Sram)
            PaceSram(got, speed);
        if (!MonitorStep(buffer, got, speed, frameStartUs)) {
            // Both ends go: the host's port reports the line as gone.
            Line.Close();
            LineClosed = true;
            break;
        }
    }
}

int TBoardSim::ReadWaitMs(bool watching) const {
    const bool flooding = ProgramOn && ProgramSettings.Flood;
    const int wait = watching || flooding ? 0 : 20;
    // A late answer or a flood is sent on time.
    std::lock_guard<std::mutex> guard(Lock);
    const int64_t due = Monitor.NextDueMs();
    return due >= 0 ? static_cast<int>(std::clamp<int64_t>(due - NowMs(), 0, wait)) : wait;
}

bool TBoardSim::MonitorStep(const uint8_t* bytes, int got, int speed, int64_t& frameStartUs) {
    std::unique_lock<std::mutex> guard(Lock);
    const size_t logged = Monitor.TotalLoggedFrames();
    Monitor.Tick(NowMs());
    for (int i = 0; i < got; ++i) {
        if (Monitor.PendingFrameBytes() == 0)
            frameStartUs = NowUs();
        std::vector<uint8_t> reply;
        Monitor.Receive(bytes[i], speed, NowMs(), reply);
        if (Monitor.HungUp())
            break;
        if (!reply.empty()) {
            const size_t frameBytes = Monitor.Frames().back().Bytes.size();
            guard.unlock();
            Deliver(reply, frameStartUs, frameBytes, speed);
            guard.lock();
        }
    }
    ReportFrames(logged);
    const bool hangUp = Monitor.HungUp();
    std::vector<uint8_t> due;
    Monitor.Due(NowMs(), due);
    guard.unlock();
    // Not waited for: a host that does not read must not hold the board up.
    if (!due.empty())
        Line.Write(due.data(), static_cast<int>(due.size()), 0);
    Logged.notify_all();
    return !hangUp;
}

void TBoardSim::ReportFrames(size_t loggedBefore) {
    // Counted rather than indexed: the log may have been trimmed or cleared meanwhile.
    const std::vector<TFrameRecord>& frames = Monitor.Frames();
    const size_t fresh = std::min(Monitor.TotalLoggedFrames() - loggedBefore, frames.size());
    for (size_t i = frames.size() - fresh; i < frames.size(); ++i) {
        const TFrameKind kind = frames[i].Kind;
        FlashChanged = FlashChanged || kind == TFrameKind::Data || kind == TFrameKind::Erase;
    }
    if (Observer)
        for (size_t i = frames.size() - fresh; i < frames.size(); ++i)
            Observer(frames[i]);
}

// With the line-rate model an answer leaves no earlier than a real line would allow: after
// the frame's bytes have arrived and while its own bytes are sent.
void TBoardSim::Deliver(const std::vector<uint8_t>& reply, int64_t frameStartUs, size_t frameBytes,
                        int speed) {
    if (Config.LineRate || Config.TurnaroundMs > 0) {
        // An adapter's latency timer holds the answer back on top of the line's own time.
        const int64_t ready =
            (Config.LineRate ? frameStartUs + LineUs(frameBytes + reply.size(), speed) : NowUs()) +
            int64_t{Config.TurnaroundMs} * 1000;
        // Sleeps wake late by a good part of a millisecond on some machines: sleep short of
        // the time and yield through the rest.
        const int64_t wait = ready - NowUs() - SpinUs;
        if (wait > 0)
            std::this_thread::sleep_for(std::chrono::microseconds(wait));
        while (NowUs() < ready)
            std::this_thread::yield();
    }
    Line.Write(reply.data(), static_cast<int>(reply.size()));
    LastDeliveryUs = NowUs();
}

void TBoardSim::SetProgram(const TProgramConfig& program, bool runNow, int runAfterMs) {
    ProgramSettings = program;
    Program = std::make_unique<TBoardProgram>(program);
    RunAfterMs = runAfterMs;
    StartsInProgram = runNow;
    ProgramOn = runNow;
}

bool TBoardSim::ProgramStep(const uint8_t* bytes, int got) {
    if (!Program)
        return false;
    const int64_t now = NowMs();
    if (!ProgramOn)
        return StartProgramWhenListened(got, now);
    // A board that starts in its program boots as long as after a reset.
    if (HostOpened() || (!Program->Running() && RestartAtMs == 0))
        RestartAtMs = now + ResetMs;
    if (RestartAtMs > 0 && now >= RestartAtMs) {
        RestartAtMs = 0;
        Program = std::make_unique<TBoardProgram>(ProgramSettings);
        ProgramSend(Program->Start(now));
    }
    if (got > 0 && bytes[0] == 0x80) {
        ReturnToBootMonitor();
        return false;
    }
    // A board held in reset runs nothing: the run that is over prints no more ticks.
    if (RestartAtMs > 0)
        return true;
    std::string out =
        Program->Receive(reinterpret_cast<const char*>(bytes), static_cast<size_t>(got));
    out += Program->Tick(now, 4096);
    ProgramSend(out);
    return true;
}

bool TBoardSim::StartProgramWhenListened(int got, int64_t now) {
    // A host that opens the port resets the board; one that talks at once is a loader that
    // reached the boot monitor in time, one that only listens sees the program start. A board
    // in its boot monitor runs nothing it was not given since the last synchronisation.
    if (HostOpened() && (StartsInProgram || FlashChanged))
        RestartAtMs = now + std::max<int64_t>(RunAfterMs, ResetMs);
    if (got > 0)
        RestartAtMs = 0;
    if (RestartAtMs == 0 || now < RestartAtMs)
        return false;
    RestartAtMs = 0;
    FlashChanged = false;
    ProgramOn = true;
    ProgramSend(Program->Start(now));
    return true;
}

void TBoardSim::ReturnToBootMonitor() {
    // The host synchronises: back to the boot monitor, as after a reset into it. No text starts
    // with this byte, so typed lines never do this.
    std::lock_guard<std::mutex> guard(Lock);
    const TBoardMemory flash = Monitor.Memory();
    Monitor = TBoardMonitor(Config);
    Monitor.Memory() = flash;
    Program = std::make_unique<TBoardProgram>(ProgramSettings);
    ProgramOn = false;
    FlashChanged = false;
    RestartAtMs = 0;
}

bool TBoardSim::HostOpened() {
    bool opened = false;
#ifdef __linux__
    alignas(inotify_event) char events[512];
    while (OpenWatch >= 0 && ::read(OpenWatch, events, sizeof events) > 0)
        opened = true;
#endif
    return opened;
}

void TBoardSim::ProgramSend(const std::string& bytes) {
    if (bytes.empty())
        return;
    const std::string text = Program->OnLine(bytes, Line.LineSpeed());
    // The pseudo-terminal holds back a writer whose reader lags: the program waits for the host
    // rather than losing text, and stays able to stop.
    const int master = Line.MasterHandle();
    size_t sent = 0;
    while (sent < text.size() && !Stopping && master >= 0) {
        const ssize_t put = ::write(master, text.data() + sent, text.size() - sent);
        if (put > 0) {
            sent += static_cast<size_t>(put);
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EINTR)
            break;
        pollfd room{master, POLLOUT, 0};
        ::poll(&room, 1, 20);
    }
    if (Config.LineRate) {
        const int64_t until = NowUs() + LineUs(text.size(), Program->Speed());
        while (NowUs() < until && !Stopping)
            std::this_thread::sleep_for(
                std::chrono::microseconds(std::min<int64_t>(until - NowUs(), 20000)));
    }
}

void TBoardSim::PaceSram(int got, int speed) {
    if (!Config.LineRate || got <= 0)
        return;
    SramReadyUs = std::max(SramReadyUs, NowUs()) + LineUs(static_cast<size_t>(got), speed);
    const int64_t wait = SramReadyUs - NowUs();
    if (wait > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(wait));
}

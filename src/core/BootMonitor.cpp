#include "BootMonitor.h"

#include "Comm.h"
#include "LinkSpeed.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr uint8_t SyncByte = 0x80;
constexpr uint8_t Ack = 'A';
constexpr uint8_t IdentityByte = 'B';
constexpr uint8_t DataByte = 'D';
constexpr uint8_t FlashErrorByte = 'F';

void PutLe32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint16_t Le16(const uint8_t* at) {
    return static_cast<uint16_t>(at[0] | at[1] << 8);
}

uint32_t Le32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
           static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

} // namespace

bool ParseIdentity(const uint8_t (&reply)[IdentityReplyLength], TMonitorIdentity& identity) {
    if (reply[0] != IdentityByte)
        return false;
    identity.ChipType = reply[1];
    identity.FlashCode = Le16(reply + 4);
    identity.Version = Le16(reply + 6);
    identity.ClockDivisor = Le16(reply + 8);
    identity.BaseAddress = Le32(reply + 10);
    return true;
}

uint8_t BlockSum(const uint8_t* data, int count) {
    uint8_t sum = 0;
    for (int i = 0; i < count; ++i)
        sum = static_cast<uint8_t>(sum + data[i]);
    return sum;
}

uint32_t RangeSum(const uint8_t* data, int64_t count) {
    uint32_t sum = 0;
    for (int64_t i = 0; i < count; ++i)
        sum += data[i];
    return sum;
}

std::string PortSettingsText(const std::string& port, int speed) {
    // Built whole, however long the device path.
    return port + ":" + std::to_string(speed) + ",N,8,1";
}

TBootMonitor::TBootMonitor(TComms& port, const TMonitorTiming& timing, TWaitHook waitHook)
    : Port(port), Timing(timing), WaitHook(std::move(waitHook)) {}

// ---- The line ---------------------------------------------------------------------------------

void TBootMonitor::Send(const uint8_t* frame, int count) {
    SentMs = Port.ClockMs();
    // A write that fails shows up as a missing answer; only a lost line is noticed here.
    Port.Write(frame, static_cast<unsigned>(count), WaitHook);
}

bool TBootMonitor::ClearLine() {
    // The rest of an answer that timed out may still come, up to twice the time-out after its
    // frame. It is waited for here, or it would pass for the answer to this frame; if it comes,
    // the board did what that frame asked after all (a block sent again would be written twice).
    bool lateCame = false;
    uint8_t rest[BlockSize + 2];
    while (OwedBytes > 0) {
        const int64_t left = SentMs + 2 * int64_t{Timing.AnswerTimeoutMs} - Port.ClockMs();
        const int got =
            left > 0 ? Receive(rest, std::min<int>(OwedBytes, sizeof rest), static_cast<int>(left))
                     : 0;
        if (got <= 0)
            break;
        OwedBytes -= got;
        lateCame = true;
    }
    OwedBytes = 0;
    const bool owed = AnswerOwed;
    AnswerOwed = true;
    const int found = Port.Purge();
    if (lateCame || found > 0 || Port.TakeDisturbed())
        Disturbed = true;
    return !lateCame && (found == 0 || owed);
}

void TBootMonitor::Answered(int missing) {
    AnswerOwed = missing > 0;
    OwedBytes = std::max(missing, 0);
    if (missing > 0)
        Disturbed = true;
}

bool TBootMonitor::AwaitQuiet() {
    // Whatever still comes is the rest of earlier answers. A line that keeps talking for longer
    // than any late answer could take cannot carry the verify's answer.
    const int64_t deadline =
        Port.ClockMs() + 2 * int64_t{Timing.AnswerTimeoutMs} + std::max(Timing.QuietMs, 0);
    uint8_t stale[BlockSize + 2];
    while (Receive(stale, sizeof stale, Timing.QuietMs) > 0) {
        if (LineLost() || Port.ClockMs() >= deadline)
            return false;
    }
    return !LineLost();
}

bool TBootMonitor::LineQuiet() {
    uint8_t extra = 0;
    return Receive(&extra, 1, Timing.SettleMs) == 0;
}

TMonitorResult TBootMonitor::ResultOf(TMonitorStatus status, uint32_t address) const {
    TMonitorResult result;
    result.Status = status;
    result.Address = address;
    result.ServerPort = Port.ServerPort();
    return result;
}

TMonitorResult TBootMonitor::OutOfStepResult(uint32_t address) const {
    return ResultOf(TMonitorStatus::OutOfStep, address);
}

TMonitorResult TBootMonitor::Settled(TMonitorResult result) {
    if (!result.Ok())
        return result;
    const bool quiet = LineQuiet();
    if (LineLost())
        return LostResult(result.Address);
    if (!quiet) {
        AnswerOwed = false; // what came stays on the line for the next frame to find
        TMonitorResult outOfStep = OutOfStepResult(result.Address);
        outOfStep.BytesDone = result.BytesDone;
        return outOfStep;
    }
    return result;
}

int TBootMonitor::Receive(uint8_t* buffer, int count, int timeoutMs) {
    std::fill(buffer, buffer + count, uint8_t{0});
    const int64_t deadline = Port.ClockMs() + std::max(timeoutMs, 0);
    int received = 0;
    while (received < count) {
        const int64_t left = std::max<int64_t>(deadline - Port.ClockMs(), 0);
        const int slice = static_cast<int>(std::min<int64_t>(left, WaitHookIntervalMs));
        const int got = Port.ReadAvailable(buffer + received, count - received, slice);
        if (got < 0)
            break;
        received += got;
        if (received == count || Port.ClockMs() >= deadline)
            break;
        if (WaitHook)
            WaitHook();
    }
    return received;
}

void TBootMonitor::Pause(int ms) {
    const int64_t deadline = Port.ClockMs() + std::max(ms, 0);
    for (int64_t left = deadline - Port.ClockMs(); left > 0; left = deadline - Port.ClockMs()) {
        Port.SleepMs(static_cast<int>(std::min<int64_t>(left, WaitHookIntervalMs)));
        if (WaitHook)
            WaitHook();
    }
}

bool TBootMonitor::LineLost() const {
    return Port.LineLost();
}

TMonitorResult TBootMonitor::LostResult(uint32_t address) const {
    TMonitorResult result = ResultOf(TMonitorStatus::LineLost, address);
    result.LineError = Port.LastError().toStdString();
    return result;
}

TMonitorResult TBootMonitor::Command(const uint8_t* frame, int count, uint32_t address) {
    if (!ClearLine())
        return LineLost() ? LostResult(address) : OutOfStepResult(address);
    Send(frame, count);
    uint8_t answer = 0;
    const bool came = Receive(&answer, 1, Timing.AnswerTimeoutMs) == 1;
    if (LineLost())
        return LostResult(address);
    TMonitorResult result =
        ResultOf(answer == Ack ? TMonitorStatus::Ok : TMonitorStatus::Refused, address);
    result.Response = answer;
    bool whole = came;
    if (came && answer == FlashErrorByte && !FlashErrorCode(result, whole))
        return LostResult(address);
    Answered(whole ? 0 : 1);
    return result;
}

bool TBootMonitor::FlashErrorCode(TMonitorResult& result, bool& whole) {
    // The board names its flash error in the byte after the 'F'.
    result.Status = TMonitorStatus::FlashError;
    whole = Receive(&result.ErrorCode, 1, Timing.AnswerTimeoutMs) == 1;
    result.NoErrorCode = !whole;
    return !LineLost();
}

// ---- Synchronisation --------------------------------------------------------------------------

TMonitorResult TBootMonitor::Identify(TMonitorIdentity& identity) {
    if (!ClearLine())
        return LineLost() ? LostResult(0) : OutOfStepResult(0);
    Send(&SyncByte, 1);
    uint8_t reply[IdentityReplyLength];
    const int got = Receive(reply, IdentityReplyLength, Timing.IdentityTimeoutMs);
    if (LineLost())
        return LostResult(0);
    Answered(IdentityReplyLength - got);
    if (got < IdentityReplyLength || !ParseIdentity(reply, identity))
        return ResultOf(TMonitorStatus::NoAnswer, 0);
    TMonitorResult result = Command(&Ack, 1, 0);
    if (result.Status == TMonitorStatus::Ok)
        return Settled(result);
    if (result.Status == TMonitorStatus::Refused || result.Status == TMonitorStatus::FlashError) {
        result.Status = TMonitorStatus::Refused; // no flash is at work in a handshake
        result.Address = 0;
    }
    return result;
}

TSyncResult TBootMonitor::Synchronize(const TSyncRequest& request) {
    TSyncResult sync;
    sync.Port = request.Port;
    const int attempts = request.AutoSpeed ? BaudRateCount : 1;
    for (int index = 0; index < attempts; ++index) {
        const int speed = request.AutoSpeed ? BaudRates[index] : request.FixedSpeed;
        sync.Settings = PortSettingsText(request.Port, speed);
        if (TryingSpeed)
            TryingSpeed(speed);
        // A port opened anew starts with nothing owed and nothing late.
        AnswerOwed = true;
        OwedBytes = 0;
        Disturbed = false;
        // A line that can change speed while open keeps it: a network port keeps its one
        // connection, and with it the far port's lines, between speeds.
        if (!(index > 0 && Port.ChangeSpeed(sync.Settings.c_str())) &&
            !Port.Open(sync.Settings.c_str())) {
            sync.Status = TSyncStatus::PortFailed;
            sync.LineError = Port.LastError().toStdString();
            return sync;
        }
        sync.ServerPort = Port.ServerPort();
        const TMonitorResult result = Identify(sync.Identity);
        switch (result.Status) {
        case TMonitorStatus::Ok:
            sync.Status = TSyncStatus::Ok;
            sync.Speed = speed;
            return sync;
        case TMonitorStatus::Refused:
            sync.Status = TSyncStatus::NoAck;
            return sync;
        case TMonitorStatus::LineLost:
            sync.Status = TSyncStatus::LineLost;
            sync.LineError = result.LineError;
            return sync;
        case TMonitorStatus::OutOfStep:
            sync.Status = TSyncStatus::OutOfStep;
            return sync;
        default:
            if (!request.AutoSpeed) {
                sync.Status = TSyncStatus::NoResponse;
                return sync;
            }
        }
    }
    Port.Close();
    sync.Status = TSyncStatus::NoSpeed;
    return sync;
}

// ---- Read -------------------------------------------------------------------------------------

TMonitorResult TBootMonitor::ReadOne(uint32_t address, int count, uint8_t* data) {
    count = std::clamp(count, 1, BlockSize);
    uint8_t frame[6] = {'R'};
    PutLe32(frame + 1, address);
    frame[5] = static_cast<uint8_t>(count);
    if (!ClearLine())
        return LineLost() ? LostResult(address) : OutOfStepResult(address);
    Send(frame, sizeof frame);

    uint8_t reply[BlockSize + 2];
    const int got = Receive(reply, count + 2, Timing.AnswerTimeoutMs);
    if (LineLost())
        return LostResult(address);
    Answered(count + 2 - got);
    if (got < count + 2 || reply[0] != DataByte)
        return ResultOf(TMonitorStatus::NoAnswer, address);
    const uint8_t calculated = BlockSum(reply + 1, count);
    if (calculated != reply[count + 1]) {
        TMonitorResult result = ResultOf(TMonitorStatus::BadChecksum, address);
        result.ReceivedSum = reply[count + 1];
        result.CalculatedSum = calculated;
        return result;
    }
    std::copy(reply + 1, reply + 1 + count, data);
    return TMonitorResult();
}

TMonitorResult
TBootMonitor::ReadRange(uint32_t address, int64_t length, std::vector<uint8_t>& data,
                        const std::function<void(uint32_t, const uint8_t*, int)>& onBlock,
                        const TProgressHook& progress) {
    data.clear();
    // The data grow as they come: a length far beyond what the board holds reserves nothing.
    data.reserve(static_cast<size_t>(std::clamp<int64_t>(length, 0, 64 * 1024)));
    uint8_t block[BlockSize];
    int64_t done = 0;
    uint32_t lastBlock = address;
    while (done < length) {
        const int count = static_cast<int>(std::min<int64_t>(length - done, BlockSize));
        const uint32_t at = address + static_cast<uint32_t>(done);
        lastBlock = at;
        TMonitorResult result = ReadOne(at, count, block);
        if (!result.Ok()) {
            result.BytesDone = done;
            return result;
        }
        data.insert(data.end(), block, block + count);
        if (onBlock)
            onBlock(at, block, count);
        done += count;
        // The shorter last block ends the transfer: nothing is left to stop.
        if (count == BlockSize && progress && !progress(done, length)) {
            TMonitorResult result = ResultOf(TMonitorStatus::Cancelled, at);
            result.BytesDone = done;
            return result;
        }
    }
    TMonitorResult result = Settled(ResultOf(TMonitorStatus::Ok, lastBlock));
    if (result.Ok())
        result.Address = address;
    result.BytesDone = done;
    return result;
}

// ---- Erase, write, verify ---------------------------------------------------------------------

TMonitorResult TBootMonitor::EraseSector(uint32_t address) {
    return Settled(EraseOnce(address));
}

TMonitorResult TBootMonitor::EraseOnce(uint32_t address) {
    uint8_t frame[5] = {'E'};
    PutLe32(frame + 1, address);
    TMonitorResult result = ResultOf(TMonitorStatus::Refused, address);
    for (int attempt = 0; attempt < Timing.EraseAttempts; ++attempt) {
        Port.Turnaround().SkipNext(); // the answer waits for the erase: no measure of the line
        result = Command(frame, sizeof frame, address);
        if (result.Ok() || result.Status == TMonitorStatus::LineLost ||
            result.Status == TMonitorStatus::OutOfStep)
            return result;
        Disturbed = true;
        Pause(Timing.ErasePauseMs);
    }
    return result;
}

TMonitorResult TBootMonitor::StartWrite(uint32_t address, int blockLength) {
    uint8_t frame[6] = {'W'};
    PutLe32(frame + 1, address);
    frame[5] = static_cast<uint8_t>(std::clamp(blockLength, 1, BlockSize));
    return Command(frame, sizeof frame, address);
}

TMonitorResult TBootMonitor::WriteBlock(uint32_t address, const uint8_t* data, int count) {
    count = std::clamp(count, 1, BlockSize);
    uint8_t frame[BlockSize + 2];
    frame[0] = DataByte;
    std::copy(data, data + count, frame + 1);
    frame[count + 1] = BlockSum(data, count);

    TMonitorResult result = ResultOf(TMonitorStatus::Refused, address);
    for (int attempt = 0; attempt < Timing.WriteAttempts; ++attempt) {
        if (attempt > 0) {
            Disturbed = true;
            // The board writes each block it takes at its write pointer and moves the pointer
            // on, whether or not its answer reached us: sent again as it is, this block would
            // land one block further. Rewriting the same bytes at the same address is harmless.
            result = StartWrite(address, count);
            if (result.Status == TMonitorStatus::LineLost ||
                result.Status == TMonitorStatus::OutOfStep)
                return result;
        }
        if (result.Ok() || attempt == 0)
            result = SendBlock(frame, count, address);
        if (result.Ok() || result.Status == TMonitorStatus::LineLost ||
            result.Status == TMonitorStatus::OutOfStep)
            return result;
        Pause(Timing.WritePauseMs);
    }
    return result;
}

TMonitorResult TBootMonitor::SendBlock(const uint8_t* frame, int count, uint32_t address) {
    if (!ClearLine())
        return LineLost() ? LostResult(address) : OutOfStepResult(address);
    Send(frame, count + 2);
    uint8_t answer = 0;
    const bool came = Receive(&answer, 1, Timing.AnswerTimeoutMs) == 1;
    if (LineLost())
        return LostResult(address);
    if (came && answer == Ack) {
        Answered(0);
        return ResultOf(TMonitorStatus::Ok, address);
    }
    TMonitorResult result = ResultOf(TMonitorStatus::Refused, address);
    result.Response = answer;
    bool whole = came;
    if (came && answer == FlashErrorByte && !FlashErrorCode(result, whole))
        return LostResult(address);
    Answered(whole ? 0 : 1);
    return result;
}

TMonitorResult TBootMonitor::VerifyRange(uint32_t address, const uint8_t* data, int64_t length) {
    return Verify(address, data, length, false);
}

TMonitorResult TBootMonitor::Verify(uint32_t address, const uint8_t* data, int64_t length,
                                    bool confirm) {
    uint8_t frame[13] = {'V'};
    PutLe32(frame + 1, address);
    PutLe32(frame + 5, static_cast<uint32_t>(length));
    PutLe32(frame + 9, RangeSum(data, length));
    // A byte that left the board long ago could pass for the answer, and the board takes a
    // while to sum a long range: on a link that has misbehaved, the line must go quiet first.
    if (Port.TakeDisturbed())
        Disturbed = true;
    if (Disturbed && (!ClearLine() || !AwaitQuiet()))
        return LineLost() ? LostResult(address) : OutOfStepResult(address);
    // Confirmed, an acknowledge counts only when the board gives it again: a stray 'A' ahead
    // of a slow refusal would otherwise pass for the board's word. The second asking finds the
    // refusal on the line, or gets it as its answer.
    Port.Turnaround().SkipNext(); // the answer waits for the board's sum
    TMonitorResult result = Command(frame, sizeof frame, address);
    if (result.Ok() && (confirm || Disturbed)) {
        Port.Turnaround().SkipNext();
        result = Command(frame, sizeof frame, address);
    }
    result.BytesDone = result.Ok() ? length : 0;
    return Settled(result);
}

// ---- Flash programming ------------------------------------------------------------------------

namespace {

TBootMonitor::TProgramResult EndAt(TBootMonitor::TStep step, TMonitorResult result, int64_t done) {
    TBootMonitor::TProgramResult program;
    program.Step = step;
    program.Result = std::move(result);
    program.Result.BytesDone = done;
    return program;
}

} // namespace

TBootMonitor::TProgramResult TBootMonitor::EraseSectors(const std::vector<uint32_t>& eraseAddresses,
                                                        const std::function<bool()>& keepErasing) {
    for (uint32_t sector : eraseAddresses) {
        TMonitorResult erased = EraseOnce(sector);
        if (!erased.Ok())
            return EndAt(TStep::Erase, erased, 0);
        if (keepErasing && !keepErasing())
            return EndAt(TStep::Erase, ResultOf(TMonitorStatus::Cancelled, sector), 0);
    }
    return EndAt(TStep::Done, TMonitorResult(), 0);
}

TBootMonitor::TProgramResult TBootMonitor::WriteImage(uint32_t address, const uint8_t* data,
                                                      int64_t length,
                                                      const TProgressHook& progress) {
    // The run of whole blocks is announced even when there is none; the board expects it.
    TMonitorResult started = StartWrite(address, BlockSize);
    if (!started.Ok())
        return EndAt(TStep::FirstWriteStart, started, 0);
    const int64_t wholeBytes = length / BlockSize * BlockSize;
    int64_t written = 0;
    while (written < wholeBytes) {
        const uint32_t at = address + static_cast<uint32_t>(written);
        TMonitorResult block = WriteBlock(at, data + written, BlockSize);
        if (!block.Ok())
            return EndAt(TStep::Write, block, written);
        written += BlockSize;
        if (progress && !progress(written, length))
            return EndAt(TStep::Write, ResultOf(TMonitorStatus::Cancelled, at), written);
    }
    const int remainder = static_cast<int>(length - wholeBytes);
    if (remainder > 0) {
        const uint32_t at = address + static_cast<uint32_t>(written);
        started = StartWrite(at, remainder);
        if (!started.Ok()) {
            // The message names where the programming started, not where this run would.
            started.Address = address;
            return EndAt(TStep::RemainderWriteStart, started, written);
        }
        TMonitorResult block = WriteBlock(at, data + written, remainder);
        if (!block.Ok())
            return EndAt(TStep::Write, block, written);
        written += remainder;
    }
    return EndAt(TStep::Done, TMonitorResult(), written);
}

TBootMonitor::TProgramResult TBootMonitor::VerifyImage(uint32_t address, const uint8_t* data,
                                                       int64_t length) {
    // The last word on a programming: always confirmed, on a clean line too.
    TMonitorResult verified = Verify(address, data, length, true);
    if (!verified.Ok())
        return EndAt(TStep::Verify, verified, length);
    verified.Address = address;
    return EndAt(TStep::Done, verified, length);
}

namespace {

// The loose hooks of ProgramFlash as an observer.
class THookObserver : public TFlashObserver {
public:
    THookObserver(const std::function<void(TBootMonitor::TPhase)>& phase,
                  const TProgressHook& progress, const std::function<bool()>& keepErasing)
        : PhaseHook(phase), ProgressHook(progress), KeepErasingHook(keepErasing) {}
    void Phase(TBootMonitor::TPhase phase) override {
        if (PhaseHook)
            PhaseHook(phase);
    }
    bool Progress(int64_t done, int64_t total) override {
        return !ProgressHook || ProgressHook(done, total);
    }
    bool KeepErasing() override { return !KeepErasingHook || KeepErasingHook(); }

private:
    const std::function<void(TBootMonitor::TPhase)>& PhaseHook;
    const TProgressHook& ProgressHook;
    const std::function<bool()>& KeepErasingHook;
};

} // namespace

TBootMonitor::TProgramResult TBootMonitor::ProgramFlash(uint32_t address, const uint8_t* data,
                                                        int64_t length,
                                                        const std::vector<uint32_t>& eraseAddresses,
                                                        const std::function<void(TPhase)>& phase,
                                                        const TProgressHook& progress,
                                                        const std::function<bool()>& keepErasing) {
    // The whole image is one run of written sectors.
    THookObserver observer(phase, progress, keepErasing);
    return ProgramFlashRuns(address, data, length, {TWriteRun{0, length}}, eraseAddresses,
                            observer);
}

TBootMonitor::TProgramResult TBootMonitor::ProgramFlashRuns(
    uint32_t address, const uint8_t* data, int64_t length, const std::vector<TWriteRun>& runs,
    const std::vector<uint32_t>& eraseAddresses, TFlashObserver& observer) {
    int64_t total = 0;
    for (const TWriteRun& run : runs)
        total += run.Length;
    observer.Phase(TPhase::Erasing);
    TProgramResult program =
        EraseSectors(eraseAddresses, [&observer] { return observer.KeepErasing(); });
    if (program.Step != TStep::Done)
        return program;
    observer.Phase(TPhase::Programming);
    int64_t written = 0;
    for (const TWriteRun& run : runs) {
        // The progress counts the bytes of all runs together.
        const TProgressHook runProgress = [&observer, written, total](int64_t done, int64_t) {
            return observer.Progress(written + done, total);
        };
        observer.RunStarting(written);
        program = WriteImage(address + static_cast<uint32_t>(run.Offset), data + run.Offset,
                             run.Length, runProgress);
        program.Result.BytesDone += written;
        if (program.Step != TStep::Done) {
            // The message names where the programming started, as the unskipping one does.
            if (program.Step == TStep::RemainderWriteStart)
                program.Result.Address = address;
            return program;
        }
        written += run.Length;
    }
    observer.Phase(TPhase::Verifying);
    return VerifyImage(address, data, length);
}

// ---- SRAM upload ------------------------------------------------------------------------------

// A port that cannot tell what its driver still holds (a pseudo-terminal always says empty)
// would let an upload end before the line carried it: the end is put no earlier than the
// bytes take at 10 bits each.
void TBootMonitor::WaitForTheLine(int64_t startMs, int64_t bytes) {
    TPortSettings line;
    if (!ParsePortSettings(Port.GetSettings(), line) || line.BaudRate <= 0)
        return;
    // Rounded up, and a millisecond more for the clock's own rounding of startMs: never early.
    const int64_t lineMs = (bytes * 10 * 1000 + line.BaudRate - 1) / line.BaudRate;
    const int64_t endMs = startMs + lineMs + 1;
    for (int64_t now = Port.ClockMs(); now < endMs; now = Port.ClockMs()) {
        if (WaitHook)
            WaitHook();
        Port.SleepMs(static_cast<int>(std::min<int64_t>(endMs - now, 20)));
    }
}

TMonitorResult TBootMonitor::SendSram(const uint8_t* data, int64_t length,
                                      const TProgressHook& progress) {
    const int64_t startMs = Port.ClockMs();
    int64_t sent = 0;
    while (sent < length) {
        const int count = static_cast<int>(std::min<int64_t>(length - sent, BlockSize));
        if (progress && !progress(sent, length)) {
            TMonitorResult result = ResultOf(TMonitorStatus::Cancelled, 0);
            result.BytesDone = sent;
            return result;
        }
        const bool taken = Port.Write(data + sent, static_cast<unsigned>(count), WaitHook) &&
                           Port.WaitTransmitted(Timing.TransmitTimeoutMs, WaitHook);
        if (!taken) {
            TMonitorResult result =
                LineLost() ? LostResult(0) : ResultOf(TMonitorStatus::NoAnswer, 0);
            result.BytesDone = sent;
            return result;
        }
        sent += count;
    }
    WaitForTheLine(startMs, sent);
    // The board acknowledges nothing: the whole length is reported once every byte left.
    if (progress)
        progress(sent, length);
    TMonitorResult result;
    result.BytesDone = sent;
    return result;
}

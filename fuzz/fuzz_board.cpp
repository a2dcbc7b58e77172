// The boot-monitor protocol against a board that answers as the input says, on a line made up
// in memory whose clock only moves when the protocol waits: no real time passes. Input: the
// operation, the image, then for each frame the board receives whether it carries the frame out
// and how its answer travels (on time, late, cut short, lost, followed by more bytes or by a
// flood of one byte), or that the line hangs up. Like the board, it writes each data block it
// takes at its write pointer and moves the pointer on.
// Properties: synchronisation, read, erase, programming, verify and the SRAM upload end; an
// operation that reports success had every frame it needed carried out by the board in order
// (a block sent again only ever at its own address), and afterwards the flash holds the image, a
// read returns the board's memory, the SRAM took the image; the waits call the wait hook and
// the clock stays within bounds.

#include "BootMonitor.h"
#include "Comm.h"
#include "FuzzSupport.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace {

constexpr uint32_t FlashBase = 0x01000000;
constexpr uint32_t SectorSize = 0x400;
constexpr uint32_t FlashSize = 4 * SectorSize;
// A late answer comes after the time-out, but before the monitor stops waiting for it (twice
// the time-out after its frame, less the frame's own time on the line).
constexpr int AnswerTimeoutMs = 2000;
constexpr int MaxLateMs = 2 * AnswerTimeoutMs - 20;
constexpr int SettleMs = 20;
// A flood sends its byte this often.
constexpr int FloodStepMs = 2;

struct TApplied {
    char Kind;
    uint32_t Address;
    int Length;
    bool operator==(const TApplied& other) const {
        return Kind == other.Kind && Address == other.Address && Length == other.Length;
    }
};

class TScriptedBoard : public TComms {
public:
    TScriptedBoard(FuzzedDataProvider& input, bool sramMode) : Input(input), SramMode(sramMode) {
        Flash.assign(FlashSize, 0x00); // old contents: an erase must come first
    }

    bool Open(const char*) override {
        Pending.clear();
        return !Input.ConsumeBool() || Input.remaining_bytes() == 0;
    }
    void Close() override {}

    bool Write(const void* buffer, unsigned count, const std::function<void()>&) override {
        if (Lost)
            return false;
        const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
        Now += 1 + count / 12; // the bytes' time on the line
        if (SramMode) {
            Sram.insert(Sram.end(), bytes, bytes + count);
            return true;
        }
        Frame(std::vector<uint8_t>(bytes, bytes + count));
        return true;
    }

    bool WaitTransmitted(int timeoutMs, const std::function<void()>&) override {
        if (Lost)
            return false;
        // Rarely, the line does not drain in time.
        if (Input.ConsumeIntegralInRange<int>(0, 15) == 15) {
            Now += std::max(timeoutMs, 0);
            return false;
        }
        return true;
    }

    int ReadAvailable(void* buffer, int count, int timeoutMs) override {
        if (Lost)
            return -1;
        if (Visible() == 0) {
            const int64_t until = Now + std::max(timeoutMs, 0);
            const int64_t next = NextArrival();
            Now = next >= 0 && next < until ? next : until;
        }
        uint8_t* out = static_cast<uint8_t*>(buffer);
        int taken = 0;
        while (taken < count && Visible() > 0)
            out[taken++] = TakeOne();
        return taken;
    }

    int Purge() override {
        if (Lost)
            return 0;
        int found = 0;
        while (Visible() > 0) {
            TakeOne();
            ++found;
        }
        return found;
    }

    bool LineLost() const override { return Lost; }
    QString LastError() const override {
        return Lost ? QStringLiteral("the line hung up") : QString();
    }
    int64_t ClockMs() const override { return Now; }
    void SleepMs(int ms) override { Now += std::max(ms, 1); }

    // The board's state, for the properties.
    std::vector<uint8_t> Flash;
    std::vector<uint8_t> Sram;
    std::vector<TApplied> Applied;
    bool Synced = false;
    int64_t Now = 0;
    // What the perfect board's verify compares against: the harness's image.
    std::vector<uint8_t> Expected;
    uint32_t ExpectedAddress = 0;

private:
    struct TArrival {
        int64_t AtMs;
        uint8_t Byte;
    };

    int Visible() const {
        int count = 0;
        for (const TArrival& arrival : Pending)
            count += arrival.AtMs <= Now;
        if (FloodFrom >= 0 && Now >= FloodNext)
            count += 1;
        return count;
    }

    int64_t NextArrival() const {
        int64_t next = -1;
        for (const TArrival& arrival : Pending)
            if (next < 0 || arrival.AtMs < next)
                next = arrival.AtMs;
        if (FloodFrom >= 0 && (next < 0 || FloodNext < next))
            next = FloodNext;
        return next;
    }

    uint8_t TakeOne() {
        // Arrivals are kept in time order; a flood byte goes between them by its time.
        const auto due = std::find_if(Pending.begin(), Pending.end(),
                                      [this](const TArrival& a) { return a.AtMs <= Now; });
        if (FloodFrom >= 0 && Now >= FloodNext && (due == Pending.end() || FloodNext < due->AtMs)) {
            FloodNext += FloodStepMs;
            return FloodByte;
        }
        const uint8_t byte = due->Byte;
        Pending.erase(due);
        return byte;
    }

    void Send(const std::vector<uint8_t>& bytes, int64_t delayMs) {
        for (uint8_t byte : bytes) {
            const TArrival arrival{Now + delayMs, byte};
            const auto later = std::find_if(Pending.begin(), Pending.end(), [&](const TArrival& a) {
                return a.AtMs > arrival.AtMs;
            });
            Pending.insert(later, arrival);
        }
    }

    static uint32_t Le32(const std::vector<uint8_t>& frame, size_t at) {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value |= static_cast<uint32_t>(frame[at + static_cast<size_t>(i)]) << (8 * i);
        return value;
    }

    bool InFlash(uint32_t address, uint32_t length) const {
        return address >= FlashBase && length <= FlashSize &&
               address - FlashBase <= FlashSize - length;
    }

    // Carries the frame out and returns the true answer; empty when the board cannot.
    std::vector<uint8_t> CarryOut(const std::vector<uint8_t>& frame) {
        const uint8_t first = frame[0];
        if (first == 0x80 && frame.size() == 1) {
            AwaitAck = true;
            Synced = false;
            return {'B',  0x01, 0x00, 0x1F, 0x20, 0x00, 0x01,
                    0x01, 0x1A, 0x00, 0x00, 0x00, 0x00, 0x01};
        }
        if (first == 'A' && frame.size() == 1 && AwaitAck) {
            AwaitAck = false;
            Synced = true;
            return {'A'};
        }
        if (!Synced)
            return {};
        if (first == 'R' && frame.size() == 6) {
            const uint32_t address = Le32(frame, 1);
            std::vector<uint8_t> reply{'D'};
            uint8_t sum = 0;
            for (uint32_t i = 0; i < frame[5]; ++i) {
                const uint8_t byte =
                    InFlash(address + i, 1) ? Flash[address + i - FlashBase] : 0xFF;
                reply.push_back(byte);
                sum = static_cast<uint8_t>(sum + byte);
            }
            reply.push_back(sum);
            return reply;
        }
        if (first == 'E' && frame.size() == 5) {
            const uint32_t address = Le32(frame, 1);
            if (!InFlash(address, 1))
                return {};
            const uint32_t sector = (address - FlashBase) / SectorSize * SectorSize;
            std::fill_n(Flash.begin() + sector, SectorSize, uint8_t{0xFF});
            Applied.push_back({'E', FlashBase + sector, 0});
            return {'A'};
        }
        if (first == 'W' && frame.size() == 6) {
            WriteAddress = Le32(frame, 1);
            BlockLength = frame[5];
            Applied.push_back({'W', WriteAddress, BlockLength});
            return {'A'};
        }
        if (first == 'D' && BlockLength > 0 && frame.size() == BlockLength + 2u &&
            InFlash(WriteAddress, BlockLength)) {
            for (int i = 0; i < BlockLength; ++i)
                Flash[WriteAddress - FlashBase + static_cast<uint32_t>(i)] &=
                    frame[static_cast<size_t>(i) + 1];
            Applied.push_back({'D', WriteAddress, BlockLength});
            WriteAddress += static_cast<uint32_t>(BlockLength);
            return {'A'};
        }
        if (first == 'V' && frame.size() == 13) {
            const uint32_t address = Le32(frame, 1);
            const uint32_t length = Le32(frame, 5);
            const bool same =
                address == ExpectedAddress && length == Expected.size() &&
                InFlash(address, length) &&
                std::equal(Expected.begin(), Expected.end(), Flash.begin() + (address - FlashBase));
            if (!same)
                return {'N'};
            Applied.push_back({'V', address, static_cast<int>(length)});
            return {'A'};
        }
        return {};
    }

    // What a board that does not carry the frame out answers instead.
    std::vector<uint8_t> Refusal(uint8_t first) {
        switch (Input.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            return {'N'};
        case 1:
            return first == 'D' ? std::vector<uint8_t>{'F', Input.ConsumeIntegral<uint8_t>()}
                                : std::vector<uint8_t>{'N'};
        case 2:
            return {'F'};
        default: {
            // Anything but an acknowledge: a board that refuses does not say it did the work.
            std::vector<uint8_t> noise =
                Input.ConsumeBytes<uint8_t>(Input.ConsumeIntegralInRange<size_t>(0, 16));
            if (!noise.empty() && noise[0] == 'A')
                noise[0] = 'N';
            return noise;
        }
        }
    }

    void Frame(const std::vector<uint8_t>& frame) {
        // Mostly the board does its work and answers on time: the input's end means exactly that.
        const bool refuses = Input.ConsumeIntegralInRange<int>(0, 7) == 7;
        const int travel = Input.ConsumeIntegralInRange<int>(0, 15);
        // A frame lost on the line is neither carried out nor answered; or the board carries it
        // out and its answer is lost (a data block is then written and the pointer moved on).
        if (travel == 12) {
            if (!refuses && Input.ConsumeBool())
                CarryOut(frame);
            return;
        }
        if (travel == 15) {
            Lost = true;
            return;
        }
        std::vector<uint8_t> answer = refuses ? Refusal(frame[0]) : CarryOut(frame);
        if (answer.empty() && !refuses && frame[0] != 'V')
            answer = {'N'};
        // Unless late, all a board sends for a frame comes at once, within the settle time.
        int64_t delay = Input.ConsumeIntegralInRange<int>(0, SettleMs / 2);
        switch (travel) {
        case 10: // late, past the time-out
            delay = Input.ConsumeIntegralInRange<int>(AnswerTimeoutMs + 1, MaxLateMs);
            break;
        case 11: { // more than the answer, sent with it
            const std::vector<uint8_t> more =
                Input.ConsumeBytes<uint8_t>(Input.ConsumeIntegralInRange<size_t>(1, 3));
            answer.insert(answer.end(), more.begin(), more.end());
            break;
        }
        case 13: // cut short; at least its first byte comes
            answer.resize(Input.ConsumeIntegralInRange<size_t>(std::min<size_t>(answer.size(), 1),
                                                               answer.size()));
            break;
        case 14: // then a flood
            if (FloodFrom < 0) {
                FloodByte = Input.ConsumeIntegral<uint8_t>();
                FloodFrom = Now + delay + 1;
                FloodNext = FloodFrom;
            }
            break;
        default:
            break;
        }
        Send(answer, delay);
    }

    FuzzedDataProvider& Input;
    bool SramMode;
    std::deque<TArrival> Pending;
    bool AwaitAck = false;
    uint32_t WriteAddress = 0;
    int BlockLength = 0;
    int64_t FloodFrom = -1;
    int64_t FloodNext = 0;
    uint8_t FloodByte = 0;
    bool Lost = false;
};

std::string Kinds(const std::vector<TApplied>& applied) {
    std::string kinds;
    for (const TApplied& a : applied)
        kinds += a.Kind;
    return kinds;
}

// What a successful programming needs the board to have done, in order: each sector erased
// (a repeated erase does no harm), the write starts and blocks, the verify.
std::vector<TApplied> ProgrammingFrames(uint32_t address, int length) {
    std::vector<TApplied> frames;
    for (uint32_t sector = (address - FlashBase) / SectorSize * SectorSize;
         sector < address - FlashBase + static_cast<uint32_t>(length); sector += SectorSize)
        frames.push_back({'E', FlashBase + sector, 0});
    frames.push_back({'W', address, BlockSize});
    const int whole = length / BlockSize * BlockSize;
    for (int done = 0; done < whole; done += BlockSize)
        frames.push_back({'D', address + static_cast<uint32_t>(done), BlockSize});
    if (length > whole) {
        frames.push_back({'W', address + static_cast<uint32_t>(whole), length - whole});
        frames.push_back({'D', address + static_cast<uint32_t>(whole), length - whole});
    }
    frames.push_back({'V', address, length});
    return frames;
}

// The erases, data blocks and verifies carried out, each once: a retry may erase again, write
// a block again at its own address (harmless on NOR flash, where a write start points it) or
// have the board confirm its verify. A block written anywhere else shows.
std::vector<TApplied> WithoutRepeats(const std::vector<TApplied>& applied) {
    std::vector<TApplied> kept;
    for (const TApplied& a : applied)
        if (a.Kind != 'W' && std::find(kept.begin(), kept.end(), a) == kept.end())
            kept.push_back(a);
    return kept;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const int operation = input.ConsumeIntegralInRange<int>(0, 5);
    const int length = input.ConsumeIntegralInRange<int>(1, 600);
    const uint32_t address = FlashBase + input.ConsumeIntegralInRange<uint32_t>(
                                             0, FlashSize - static_cast<uint32_t>(length));
    const uint8_t seed = input.ConsumeIntegral<uint8_t>();
    std::vector<uint8_t> image(static_cast<size_t>(length));
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(seed + i * 7 + i / BlockSize * 13);

    TScriptedBoard board(input, operation == 5);
    board.Expected = image;
    board.ExpectedAddress = address;
    long hookCalls = 0;
    TMonitorTiming timing;
    timing.AnswerTimeoutMs = AnswerTimeoutMs;
    timing.SettleMs = SettleMs;
    TBootMonitor monitor(board, timing, [&hookCalls, &board] {
        ++hookCalls;
        // A wait that goes on without end, or the clock running away, is a hang.
        FUZZ_CHECK(hookCalls < 2000000 && board.Now < 3600 * 1000, "the waits do not end");
    });

    if (operation == 0) {
        const TSyncResult sync = monitor.Synchronize({"fuzz", input.ConsumeBool(), 115200});
        if (sync.Ok())
            FUZZ_CHECK(board.Synced && sync.Identity.BaseAddress == 0x01000000,
                       "synchronised without the board's acknowledge (status %d)",
                       static_cast<int>(sync.Status));
        return 0;
    }
    // Every other operation starts on a synchronised board; a verify mostly finds the image.
    board.Synced = operation != 5;
    if (operation == 4 && input.ConsumeIntegralInRange<int>(0, 3) != 3)
        std::copy(image.begin(), image.end(), board.Flash.begin() + (address - FlashBase));

    switch (operation) {
    case 1: {
        std::vector<uint8_t> read;
        const TMonitorResult result = monitor.ReadRange(address, length, read, {}, {});
        FUZZ_CHECK(result.BytesDone >= 0 && result.BytesDone <= length, "read %lld of %d",
                   static_cast<long long>(result.BytesDone), length);
        if (result.Ok())
            FUZZ_CHECK(read.size() == image.size() &&
                           std::equal(read.begin(), read.end(),
                                      board.Flash.begin() + (address - FlashBase)),
                       "a read that succeeded returned other bytes than the board holds");
        break;
    }
    case 2:
    case 3: {
        std::vector<uint32_t> sectors;
        for (const TApplied& frame : ProgrammingFrames(address, length))
            if (frame.Kind == 'E')
                sectors.push_back(frame.Address);
        if (operation == 3)
            sectors.front() = address; // an address inside the first sector goes out as it is
        const auto program = monitor.ProgramFlash(address, image.data(), length, sectors, {}, {});
        FUZZ_CHECK(program.Result.BytesDone >= 0 && program.Result.BytesDone <= length,
                   "programmed %lld of %d", static_cast<long long>(program.Result.BytesDone),
                   length);
        if (program.Result.Ok()) {
            FUZZ_CHECK(
                std::equal(image.begin(), image.end(), board.Flash.begin() + (address - FlashBase)),
                "programming succeeded but the flash does not hold the image");
            const std::vector<TApplied> expected =
                WithoutRepeats(ProgrammingFrames(address, length));
            FUZZ_CHECK(WithoutRepeats(board.Applied) == expected,
                       "programming succeeded with frames carried out as %s, expected %s",
                       Kinds(board.Applied).c_str(), Kinds(expected).c_str());
        }
        break;
    }
    case 4: {
        const TMonitorResult result = monitor.VerifyRange(address, image.data(), length);
        if (result.Ok())
            FUZZ_CHECK(
                std::equal(image.begin(), image.end(), board.Flash.begin() + (address - FlashBase)),
                "verify succeeded on flash that differs");
        const TMonitorResult erased = monitor.EraseSector(address);
        if (erased.Ok())
            FUZZ_CHECK(!board.Applied.empty() && board.Applied.back().Kind == 'E',
                       "an erase succeeded that the board did not carry out last");
        break;
    }
    default: {
        const TMonitorResult result = monitor.SendSram(image.data(), length, {});
        FUZZ_CHECK(result.BytesDone >= 0 && result.BytesDone <= length, "sent %lld of %d",
                   static_cast<long long>(result.BytesDone), length);
        if (result.Ok())
            FUZZ_CHECK(board.Sram == image, "an upload succeeded that the board did not take");
        break;
    }
    }
    return 0;
}

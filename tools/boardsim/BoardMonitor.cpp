#include "BoardMonitor.h"

#include <algorithm>
#include <cstddef>
#include <utility>

namespace {

constexpr uint8_t SyncByte = 0x80;
constexpr uint8_t Ack = 'A';
constexpr uint8_t Nak = 'N';
constexpr uint8_t FlashError = 'F';
// The error code of a data block that needs bits set which only an erase can set.
constexpr uint8_t NotErasedCode = 0x01;
// A frame not complete this long after the time its bytes take on the line is dropped. Timed
// from its first byte: bytes that keep coming (a host synchronising again) must not keep a
// frame that will never be whole waiting.
constexpr int64_t FrameGraceMs = 1000;
// Data bytes in one block: the board's receive buffer.
constexpr uint8_t MaxBlockLength = 80;
// A flood sends its byte this often, a little slower than the slowest line takes it, so that a
// host that reads finds the line never quiet and a host that does not is not buried.
constexpr int64_t FloodStepMs = 2;
// Longer verifies are refused rather than keeping the board busy for minutes.
constexpr uint32_t MaxVerifyLength = 64u << 20;

uint32_t Le32(const uint8_t* bytes) {
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
           uint32_t{bytes[3]} << 24;
}

void PutLe(uint8_t* bytes, uint32_t value, int size) {
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint8_t Sum8(const uint8_t* bytes, size_t count) {
    uint8_t sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum = static_cast<uint8_t>(sum + bytes[i]);
    return sum;
}

// The answer a fault puts in place of the normal one of a command.
std::vector<uint8_t> FaultReply(const TFaultRule& fault) {
    switch (fault.Action) {
    case TFaultAction::Byte:
        return {fault.Value};
    case TFaultAction::FlashError:
        return {FlashError, fault.Value};
    default:
        return {};
    }
}

// How long `bytes` take on the line at `speed`: 10 bits each.
int64_t LineTimeMs(size_t bytes, int speed) {
    return speed > 0 ? static_cast<int64_t>(bytes) * 10 * 1000 / speed : 0;
}

} // namespace

TBoardMonitor::TBoardMonitor(const TBoardConfig& config) : Config(config), Mem(config.Type) {}

bool TBoardMonitor::Accepts(int speed) const {
    return Config.AcceptedSpeeds.empty() ||
           std::find(Config.AcceptedSpeeds.begin(), Config.AcceptedSpeeds.end(), speed) !=
               Config.AcceptedSpeeds.end();
}

std::array<uint8_t, 14> TBoardMonitor::IdentityAt(int speed) const {
    std::array<uint8_t, 14> identity{};
    const TBoardIdentity& id = Config.Identity;
    identity[0] = 'B';
    identity[1] = id.ChipType;
    PutLe(&identity[2], id.Reserved, 2);
    PutLe(&identity[4], id.FlashCode, 2);
    PutLe(&identity[6], id.Version, 2);
    uint64_t divisor = 0;
    if (speed > 0)
        divisor = (uint64_t{Config.MasterClock} + 8ull * static_cast<uint64_t>(speed)) /
                  (16ull * static_cast<uint64_t>(speed));
    PutLe(&identity[8], static_cast<uint32_t>(std::min<uint64_t>(divisor, 0xFFFF)), 2);
    PutLe(&identity[10], id.BaseAddress, 4);
    return identity;
}

TFrameKind TBoardMonitor::KindOf(uint8_t first) const {
    if (first == SyncByte)
        return TFrameKind::Sync;
    if (State == TState::AwaitAck)
        return TFrameKind::Ack;
    if (State != TState::Command)
        return TFrameKind::Unknown;
    switch (first) {
    case 'R':
        return TFrameKind::Read;
    case 'E':
        return TFrameKind::Erase;
    case 'W':
        return TFrameKind::WriteStart;
    case 'D':
        return TFrameKind::Data;
    case 'V':
        return TFrameKind::Verify;
    default:
        return TFrameKind::Unknown;
    }
}

size_t TBoardMonitor::FrameLength(uint8_t first) const {
    switch (KindOf(first)) {
    case TFrameKind::Read:
        return 6;
    case TFrameKind::Erase:
        return 5;
    case TFrameKind::WriteStart:
        return 6;
    case TFrameKind::Data:
        return BlockLength ? BlockLength + 2 : 1;
    case TFrameKind::Verify:
        return 13;
    default:
        return 1;
    }
}

bool TBoardMonitor::ExtendsLastRecord(TFrameKind kind, bool ignored, int lineSpeed) const {
    return !Log.empty() && Log.back().Kind == kind && Log.back().Ignored == ignored &&
           Log.back().Speed == lineSpeed && Log.back().Bytes.size() < MaxRecordBytes;
}

// Consecutive noise bytes at one speed share one record; each sync byte gets its own.
void TBoardMonitor::LogNoise(TFrameKind kind, uint8_t byte, int lineSpeed) {
    if (kind == TFrameKind::Unknown && ExtendsLastRecord(kind, true, lineSpeed))
        Log.back().Bytes.push_back(byte);
    else
        AddRecord({kind, lineSpeed, {byte}, {}, true, true});
}

void TBoardMonitor::AddRecord(TFrameRecord record) {
    // Dropping the oldest quarter at once keeps the cost of trimming small per frame.
    if (Log.size() >= MaxLoggedFrames)
        Log.erase(Log.begin(), Log.begin() + static_cast<std::ptrdiff_t>(MaxLoggedFrames / 4));
    Log.push_back(std::move(record));
    ++TotalLogged;
}

void TBoardMonitor::ClearFrames() {
    Log.clear();
    TotalAtClear = TotalLogged;
}

void TBoardMonitor::Receive(uint8_t byte, int lineSpeed, int64_t nowMs,
                            std::vector<uint8_t>& reply) {
    if (HangUp)
        return;
    if (Config.Mode == TBoardMode::Sram) {
        if (!Accepts(lineSpeed)) {
            LogNoise(TFrameKind::Unknown, byte, lineSpeed);
            return;
        }
        // In SRAM mode nothing is answered: a hang-up comes after that many bytes instead.
        const int hangUpAfter = Config.Faults.HangUpAfter;
        if (hangUpAfter >= 0 && Sram.size() >= static_cast<size_t>(hangUpAfter)) {
            HangUp = true;
            return;
        }
        if (Sram.size() < MaxSramBytes)
            Sram.push_back(byte);
        if (ExtendsLastRecord(TFrameKind::Sram, false, lineSpeed))
            Log.back().Bytes.push_back(byte);
        else
            AddRecord({TFrameKind::Sram, lineSpeed, {byte}, {}, true, false});
        return;
    }

    // A frame that has run out of time is dropped before this byte, which starts afresh.
    Tick(nowMs);
    if (Frame.empty()) {
        // A board sees bytes at a speed it has not detected as noise. A sync byte starts over
        // at any time, as if the board had been reset.
        const bool noise = !Accepts(lineSpeed) || (byte != SyncByte && State == TState::Unsynced) ||
                           (byte != SyncByte && State != TState::Unsynced && lineSpeed != Speed);
        if (noise) {
            LogNoise(byte == SyncByte ? TFrameKind::Sync : TFrameKind::Unknown, byte, lineSpeed);
            return;
        }
        if (byte == SyncByte)
            State = TState::Unsynced;
        FrameSpeed = lineSpeed;
        FrameDeadlineMs = nowMs + FrameGraceMs + LineTimeMs(FrameLength(byte), lineSpeed);
    }
    Frame.push_back(byte);
    if (Frame.size() >= FrameLength(Frame[0]))
        Complete(nowMs, reply);
}

void TBoardMonitor::Tick(int64_t nowMs) {
    if (Frame.empty() || nowMs < FrameDeadlineMs)
        return;
    TFrameRecord record;
    record.Kind = KindOf(Frame[0]);
    record.Speed = FrameSpeed;
    record.Bytes = Frame;
    record.Complete = false;
    AddRecord(std::move(record));
    Frame.clear();
}

void TBoardMonitor::Complete(int64_t nowMs, std::vector<uint8_t>& reply) {
    TFrameRecord record;
    record.Kind = KindOf(Frame[0]);
    record.Speed = FrameSpeed;
    record.Bytes.swap(Frame);
    Frame.clear();

    const TFaultPlan& plan = Config.Faults;
    if (plan.HangUpAfter >= 0 && FramesAnswered >= plan.HangUpAfter)
        HangUp = true;
    if (plan.SilentAfter >= 0 && FramesAnswered >= plan.SilentAfter)
        Silent = true;
    if (HangUp || Silent) {
        AddRecord(std::move(record));
        return;
    }

    TCounter& counter = Counters[static_cast<size_t>(record.Kind)];
    const TFaultRule* fault = plan.Find(record.Kind, counter.Accepted, counter.Tries + 1);
    // A fault on the answer alone leaves the frame's effect as it would be.
    const TFaultRule* delivery = fault && fault->KeepsEffect() ? fault : nullptr;
    if (delivery)
        fault = nullptr;
    // The host repeats a refused synchronisation, acknowledge, erase or data block; every
    // other command is a new occurrence each time.
    const bool repeated = record.Kind == TFrameKind::Sync || record.Kind == TFrameKind::Ack ||
                          record.Kind == TFrameKind::Erase || record.Kind == TFrameKind::Data;
    // A lost answer has the host send the frame again: that is a further attempt, as after a
    // refusal, although the board carried the frame out.
    const bool answerLost = delivery && delivery->Action == TFaultAction::Lost;
    if ((Answer(record, fault) && !answerLost) || !repeated) {
        ++counter.Accepted;
        counter.Tries = 0;
    } else {
        ++counter.Tries;
    }
    ++FramesAnswered;
    if (delivery)
        Deliver(*delivery, nowMs, record.Reply, reply);
    else
        reply.insert(reply.end(), record.Reply.begin(), record.Reply.end());
    AddRecord(std::move(record));
}

void TBoardMonitor::Deliver(const TFaultRule& fault, int64_t nowMs, std::vector<uint8_t>& answer,
                            std::vector<uint8_t>& reply) {
    switch (fault.Action) {
    case TFaultAction::Stray:
        reply.push_back(fault.Value);
        [[fallthrough]];
    case TFaultAction::Late: {
        const int64_t due = nowMs + fault.DelayMs;
        auto later = std::find_if(Late.begin(), Late.end(),
                                  [due](const TLateAnswer& late) { return late.DueMs > due; });
        Late.insert(later, {due, answer});
        return;
    }
    case TFaultAction::Lost:
        // Carried out, yet the host never hears of it: a data block was written all the same
        // and the write pointer moved on.
        return;
    case TFaultAction::Extra:
        answer.insert(answer.end(), fault.Extra.begin(), fault.Extra.end());
        break;
    case TFaultAction::Flood:
        // The first byte goes with the answer: the host finds more than the answer at once.
        answer.push_back(fault.Value);
        FloodByte = fault.Value;
        FloodNextMs = nowMs + FloodStepMs;
        break;
    default:
        break;
    }
    reply.insert(reply.end(), answer.begin(), answer.end());
}

void TBoardMonitor::Due(int64_t nowMs, std::vector<uint8_t>& out) {
    if (HangUp)
        return;
    size_t sent = 0;
    while (sent < Late.size() && Late[sent].DueMs <= nowMs) {
        out.insert(out.end(), Late[sent].Bytes.begin(), Late[sent].Bytes.end());
        ++sent;
    }
    Late.erase(Late.begin(), Late.begin() + static_cast<std::ptrdiff_t>(sent));
    if (FloodByte >= 0 && nowMs >= FloodNextMs) {
        // One byte per step missed, so a board thread held up does not fall behind for good.
        const int64_t steps = std::min<int64_t>((nowMs - FloodNextMs) / FloodStepMs + 1, 64);
        out.insert(out.end(), static_cast<size_t>(steps), static_cast<uint8_t>(FloodByte));
        FloodNextMs = nowMs + FloodStepMs;
    }
}

int64_t TBoardMonitor::NextDueMs() const {
    int64_t next = Late.empty() ? -1 : Late.front().DueMs;
    if (FloodByte >= 0 && (next < 0 || FloodNextMs < next))
        next = FloodNextMs;
    return next;
}

bool TBoardMonitor::Answer(TFrameRecord& record, const TFaultRule* fault) {
    switch (record.Kind) {
    case TFrameKind::Sync:
        return AnswerSync(record, fault);
    case TFrameKind::Ack:
        return AnswerAck(record, fault);
    case TFrameKind::Read:
        return AnswerRead(record, fault);
    default:
        return AnswerCommand(record, fault);
    }
}

bool TBoardMonitor::AnswerSync(TFrameRecord& record, const TFaultRule* fault) {
    const std::array<uint8_t, 14> identity = IdentityAt(record.Speed);
    record.Reply.assign(identity.begin(), identity.end());
    State = TState::Unsynced;
    if (fault) {
        if (fault->Action == TFaultAction::Byte)
            record.Reply[0] = fault->Value;
        else if (fault->Action == TFaultAction::Short)
            record.Reply.resize(std::min<size_t>(fault->Value, record.Reply.size()));
        else
            record.Reply = FaultReply(*fault);
        return false;
    }
    Speed = record.Speed;
    State = TState::AwaitAck;
    return true;
}

bool TBoardMonitor::AnswerAck(TFrameRecord& record, const TFaultRule* fault) {
    State = TState::Unsynced;
    if (record.Bytes[0] != Ack)
        return false;
    if (fault) {
        record.Reply = FaultReply(*fault);
        return false;
    }
    record.Reply = {Ack};
    State = TState::Command;
    ResetCounters();
    return true;
}

bool TBoardMonitor::AnswerRead(TFrameRecord& record, const TFaultRule* fault) {
    const uint32_t address = Le32(&record.Bytes[1]);
    const uint8_t count = record.Bytes[5];
    const std::vector<uint8_t> data = Mem.Read(address, count);
    record.Reply.push_back('D');
    record.Reply.insert(record.Reply.end(), data.begin(), data.end());
    record.Reply.push_back(Sum8(data.data(), data.size()));
    if (!fault)
        return true;
    switch (fault->Action) {
    case TFaultAction::Byte:
        record.Reply[0] = fault->Value;
        break;
    case TFaultAction::BadChecksum:
        record.Reply.back() = static_cast<uint8_t>(record.Reply.back() + 1);
        break;
    case TFaultAction::Short:
        record.Reply.resize(std::min<size_t>(fault->Value, record.Reply.size()));
        break;
    default:
        record.Reply = FaultReply(*fault);
        break;
    }
    return false;
}

bool TBoardMonitor::AnswerCommand(TFrameRecord& record, const TFaultRule* fault) {
    if (record.Kind == TFrameKind::Unknown)
        return false;
    if (fault) {
        record.Reply = FaultReply(*fault);
        return false;
    }
    const std::vector<uint8_t>& frame = record.Bytes;
    bool accepted = false;
    switch (record.Kind) {
    case TFrameKind::Erase:
        accepted = Mem.EraseSectorAt(Le32(&frame[1]));
        break;
    case TFrameKind::WriteStart:
        // A block the board cannot take is refused, and leaves no write open: the board would
        // otherwise wait for a block that never comes, taking every later byte for its data.
        accepted = frame[5] > 0 && frame[5] <= MaxBlockLength;
        if (accepted)
            WriteAddress = Le32(&frame[1]);
        BlockLength = accepted ? frame[5] : 0;
        break;
    case TFrameKind::Data: {
        if (frame.size() < 2 || frame.size() != BlockLength + 2)
            break;
        const uint8_t* data = &frame[1];
        if (Sum8(data, BlockLength) != frame.back())
            break;
        if (Mem.Program(WriteAddress, data, BlockLength) != TBoardMemory::TProgramResult::Ok) {
            record.Reply = {FlashError, NotErasedCode};
            return false;
        }
        WriteAddress += BlockLength;
        accepted = true;
        break;
    }
    case TFrameKind::Verify: {
        const uint32_t length = Le32(&frame[5]);
        accepted = length <= MaxVerifyLength && Mem.Sum(Le32(&frame[1]), length) == Le32(&frame[9]);
        break;
    }
    default:
        break;
    }
    record.Reply = {accepted ? Ack : Nak};
    return accepted;
}

void TBoardMonitor::ResetCounters() {
    for (size_t kind = static_cast<size_t>(TFrameKind::Read); kind < Counters.size(); ++kind)
        Counters[kind] = TCounter{};
    BlockLength = 0;
}

// Random operations and the faults that go with them. A fault is aimed at one frame of the
// operation (an occurrence counted from the synchronisation before it) or at a run of
// attempts; answers stay within what the protocol lets a board say, so that the host can be
// held to one right outcome.
#include "LinkSpeed.h"
#include "MonitorMessages.h"
#include "SoakOps.h"

#include <algorithm>

namespace {

// Hang-up and silence limits count frames; an SRAM board counts bytes, and an upload this long
// cannot vanish into the line's buffers before the host notices the board has gone.
constexpr int64_t SramHangUpLength = 128 * 1024;

int64_t Blocks(int64_t length) {
    return (length + BlockSize - 1) / BlockSize;
}

int BlockLength(int64_t length, int64_t block) {
    return static_cast<int>(std::min<int64_t>(BlockSize, length - block * BlockSize));
}

std::string Hex(uint32_t value) {
    return FormatText("0x%08X", value);
}

} // namespace

const char* OpKindName(TOpKind kind) {
    static const char* const names[OpKindCount] = {"sync",    "read",   "erase",
                                                   "program", "verify", "sram upload"};
    return names[static_cast<int>(kind)];
}

const char* FaultKindName(TFaultKind kind) {
    static const char* const names[FaultKindCount] = {
        "NACK",    "other answer", "flash error", "bad checksum", "short reply", "silence",
        "hang-up", "user break",   "bad request", "late answer",  "extra bytes", "lost answer"};
    return names[static_cast<int>(kind)];
}

std::string TSoakOp::Describe() const {
    std::string text = OpKindName(Kind);
    if (Kind == TOpKind::Sync)
        text += AutoSpeed ? " auto" : FormatText(" at %d", Speed);
    else if (Kind == TOpKind::Sram)
        text += FormatText(" %lld bytes at %d", static_cast<long long>(Length), Speed);
    else
        text += FormatText(" %s +%lld", Hex(Address).c_str(), static_cast<long long>(Length));
    std::vector<std::string> notes = Faults;
    if (SilentAfter >= 0)
        notes.push_back(FormatText("silent after %d frames", SilentAfter));
    if (HangUpAfter >= 0)
        notes.push_back(FormatText("hang-up after %d %s", HangUpAfter,
                                   Kind == TOpKind::Sram ? "bytes" : "frames"));
    if (CancelAfter >= 0)
        notes.push_back(FormatText("user break after %d", CancelAfter));
    if (!notes.empty()) {
        text += " [";
        for (size_t i = 0; i < notes.size(); ++i)
            text += (i ? ", " : "") + notes[i];
        text += "]";
    }
    return text;
}

std::vector<TFaultKind> FaultKindsOf(const TSoakOp& op) {
    std::vector<TFaultKind> kinds;
    for (const std::string& fault : op.Faults) {
        const std::string action = fault.substr(fault.find('=') + 1);
        if (action == "silent")
            kinds.push_back(TFaultKind::Silence);
        else if (action == "byte:4E")
            kinds.push_back(TFaultKind::Nack);
        else if (action.rfind("byte:", 0) == 0)
            kinds.push_back(TFaultKind::WrongAnswer);
        else if (action.rfind("flash:", 0) == 0)
            kinds.push_back(op.Kind == TOpKind::Sync ? TFaultKind::WrongAnswer
                                                     : TFaultKind::FlashError);
        else if (action == "badsum")
            kinds.push_back(TFaultKind::BadChecksum);
        else if (action.rfind("short:", 0) == 0)
            kinds.push_back(TFaultKind::Short);
        else if (action.rfind("late:", 0) == 0)
            kinds.push_back(TFaultKind::Late);
        else if (action.rfind("extra:", 0) == 0)
            kinds.push_back(TFaultKind::Extra);
        else if (action == "lost")
            kinds.push_back(TFaultKind::Lost);
    }
    if (op.SilentAfter >= 0)
        kinds.push_back(TFaultKind::Silence);
    if (op.HangUpAfter >= 0)
        kinds.push_back(TFaultKind::HangUp);
    if (op.CancelAfter >= 0)
        kinds.push_back(TFaultKind::UserBreak);
    if (op.BadRequest)
        kinds.push_back(TFaultKind::BadRequest);
    return kinds;
}

TOpGenerator::TOpGenerator(uint64_t seed, const TFlashModel& flash) : Random(seed), Flash(flash) {}

uint32_t TOpGenerator::Below(uint32_t bound) {
    return bound ? static_cast<uint32_t>(Random() % bound) : 0;
}

bool TOpGenerator::Chance(int percent) {
    return Below(100) < static_cast<uint32_t>(percent);
}

uint8_t TOpGenerator::RefusalByte() {
    return Pick<uint8_t>({'N', 'N', 'N', 0x00, 0x15, 0xFF, 'F', 'D', 'B'});
}

std::vector<uint8_t> TOpGenerator::RandomBytes(int64_t length) {
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    for (uint8_t& byte : bytes)
        byte = static_cast<uint8_t>(Random());
    return bytes;
}

int64_t TOpGenerator::Length(int64_t most) {
    // Now and then a length where whole blocks and the shorter last one meet.
    const int64_t edge = Pick<int64_t>({1, 79, 80, 81, 159, 160, 161, 240});
    return Chance(15) && edge <= most ? edge : 1 + Below(static_cast<uint32_t>(most));
}

uint32_t TOpGenerator::FlashAddress(int64_t length) {
    const uint32_t room =
        Flash.Size() - static_cast<uint32_t>(std::min<int64_t>(length, Flash.Size()));
    // Now and then the range starts at the flash start or ends at its last byte.
    const uint32_t roll = Below(10);
    return Flash.Start() + (roll == 0 ? 0 : roll == 1 ? room : Below(room + 1));
}

void TOpGenerator::MaybeLimit(TSoakOp& op, int frames) {
    const int at = static_cast<int>(Below(static_cast<uint32_t>(std::max(frames, 1))));
    (Chance(50) ? op.SilentAfter : op.HangUpAfter) = at;
}

TSoakOp TOpGenerator::Next() {
    const uint32_t roll = Below(100);
    if (roll < 10)
        return Sync();
    if (roll < 30)
        return Read();
    if (roll < 45)
        return Erase();
    if (roll < 70)
        return Program();
    if (roll < 85)
        return Verify();
    return Sram();
}

TSoakOp TOpGenerator::Sync() {
    TSoakOp op;
    op.Kind = TOpKind::Sync;
    op.AutoSpeed = Chance(75);
    op.Speed = BaudRates[Below(BaudRateCount)];
    if (!Chance(55))
        return op;
    // The first attempts go unanswered, as at speeds the board does not take; rarely all.
    const int attempts = op.AutoSpeed ? (Chance(10) ? BaudRateCount : 1 + Below(3)) : 1;
    const std::string first = FormatText("sync@1-%d=", attempts);
    switch (Below(6)) {
    case 0:
        op.Faults.push_back(first + "silent");
        break;
    case 1:
        // Anything but the identity's first byte.
        op.Faults.push_back(first + FormatText("byte:%02X", Pick<int>({0x41, 0x00, 0xFF, 0x80})));
        break;
    case 2:
        op.Faults.push_back(first + FormatText("short:%u", Below(IdentityReplyLength)));
        break;
    case 3:
        op.Faults.push_back(first + "flash:02");
        break;
    case 4:
        op.Faults.push_back(Chance(50) ? "ack=silent" : FormatText("ack=byte:%02X", RefusalByte()));
        break;
    default:
        MaybeLimit(op, 2);
        break;
    }
    return op;
}

TSoakOp TOpGenerator::Read() {
    TSoakOp op;
    op.Kind = TOpKind::Read;
    op.Length = Chance(3) ? 0 : Length(800);
    op.Address = FlashAddress(op.Length);
    for (int faults = 0; op.Length > 0 && faults < 2 && Chance(faults ? 20 : 55); ++faults)
        AddReadFault(op);
    return op;
}

void TOpGenerator::AddReadFault(TSoakOp& op) {
    const int64_t blocks = Blocks(op.Length);
    const int64_t whole = op.Length / BlockSize;
    const uint32_t block = Below(static_cast<uint32_t>(blocks));
    const std::string target = FormatText("R#%u=", block);
    switch (Below(whole > 0 ? 8 : 7)) {
    case 0:
        op.Faults.push_back(target + "silent");
        break;
    case 1:
        // Fewer bytes than the reply holds: its 'D', the data and the sum.
        op.Faults.push_back(target +
                            FormatText("short:%u", Below(BlockLength(op.Length, block) + 2)));
        break;
    case 2:
        op.Faults.push_back(target + FormatText("byte:%02X", Pick<int>({'A', 'N', 0x00, 0xFF})));
        break;
    case 3:
        op.Faults.push_back(target + "badsum");
        break;
    case 4:
        MaybeLimit(op, static_cast<int>(blocks));
        break;
    case 5:
        op.Faults.push_back(target + "extra:00");
        break;
    case 6:
        // Slow, but within the time-out.
        op.Faults.push_back(target + FormatText("late:%u", 20 + Below(100)));
        break;
    default:
        op.CancelAfter = 1 + static_cast<int>(Below(static_cast<uint32_t>(whole)));
        break;
    }
}

TSoakOp TOpGenerator::Erase() {
    TSoakOp op;
    op.Kind = TOpKind::Erase;
    op.Length = 1;
    op.BadRequest = Chance(5);
    // Plain memory beside the flash: the board refuses to erase there.
    op.Address = op.BadRequest ? 0x00200000 + Below(0x1000) : FlashAddress(1);
    if (op.BadRequest || !Chance(50))
        return op;
    // Up to all five attempts; a silent one costs a whole answer time-out.
    const int attempts = Chance(25) ? 5 : 1 + Below(4);
    switch (Below(5)) {
    case 0:
        op.Faults.push_back(FormatText("E@1-%d=silent", attempts));
        break;
    case 1:
        op.Faults.push_back(FormatText("E@1-%d=byte:%02X", attempts, RefusalByte()));
        break;
    case 2:
        // Past the time-out, yet within twice of it: the host stops rather than erase again.
        op.Faults.push_back(FormatText("E#0@1=late:%u", 320 + Below(100)));
        break;
    case 3:
        op.Faults.push_back("E=extra:41");
        break;
    default:
        MaybeLimit(op, 1);
        break;
    }
    return op;
}

TSoakOp TOpGenerator::Program() {
    TSoakOp op;
    op.Kind = TOpKind::Program;
    if (Chance(4)) {
        // Refused by the host's own checks: outside the flash, or running past its end.
        op.BadRequest = true;
        op.Length = 2 + Below(300);
        const uint32_t overrun = Below(static_cast<uint32_t>(op.Length) - 1);
        op.Address = Chance(50)   ? Flash.End() - overrun
                     : Chance(50) ? Flash.Start() - 1 - Below(16)
                                  : Flash.End() + 1 + Below(16);
        op.Data = RandomBytes(op.Length);
        return op;
    }
    op.Length = Length(2000);
    const std::vector<TBoardSector>& sectors = Flash.Board().Sectors;
    const TBoardSector& sector = sectors[Below(static_cast<uint32_t>(sectors.size()))];
    op.Address = Chance(70) && Flash.ContainsRange(sector.Start, op.Length)
                     ? sector.Start
                     : FlashAddress(op.Length);
    op.Data = RandomBytes(op.Length);
    for (int faults = 0; faults < 2 && Chance(faults ? 20 : 55); ++faults)
        AddProgramFault(op);
    return op;
}

void TOpGenerator::AddProgramFault(TSoakOp& op) {
    const int64_t whole = op.Length / BlockSize;
    const bool remainder = op.Length % BlockSize != 0;
    const size_t erases = SectorsTouched(Flash.Board(), op.Address, op.Length).size();
    const int frames = static_cast<int>(erases + 1 + whole + (remainder ? 2 : 0) + 1);
    const int attempts = Chance(30) ? 5 : 1 + Below(4);
    const uint8_t refusal = RefusalByte();
    switch (Below(12)) {
    case 0:
        op.Faults.push_back(
            FormatText("E#%u@1-%d=%s", Below(static_cast<uint32_t>(erases)), attempts,
                       Chance(50) ? "silent" : FormatText("byte:%02X", refusal).c_str()));
        break;
    case 1:
        op.Faults.push_back(Chance(50) ? "W#0=silent" : FormatText("W#0=byte:%02X", refusal));
        break;
    case 2:
        // The write start of the shorter last block, when there is one.
        op.Faults.push_back(FormatText("W#%d=byte:%02X", remainder ? 1 : 0, refusal));
        break;
    case 3:
        // Every block refused on its first tries: retries without time-outs.
        op.Faults.push_back(FormatText("D@1-%d=byte:4E", 1 + Below(2)));
        break;
    case 4:
        op.Faults.push_back(Chance(50) ? "V=silent" : FormatText("V=byte:%02X", refusal));
        break;
    case 5:
        MaybeLimit(op, frames);
        break;
    case 10: {
        // Slow, but within the time-out.
        const std::string target = Pick<std::string>(
            {FormatText("D#%u", Below(static_cast<uint32_t>(Blocks(op.Length)))),
             FormatText("E#%u", Below(static_cast<uint32_t>(erases))), "W#0", "V"});
        op.Faults.push_back(target + FormatText("=late:%u", 20 + Below(100)));
        break;
    }
    case 11: {
        const std::string target =
            Pick<std::string>({FormatText("D#%u", Below(static_cast<uint32_t>(Blocks(op.Length)))),
                               FormatText("E#%u", Below(static_cast<uint32_t>(erases))), "V"});
        op.Faults.push_back(target + "=extra:41");
        break;
    }
    case 6:
        if (whole > 0) {
            op.CancelAfter = 1 + static_cast<int>(Below(static_cast<uint32_t>(whole)));
            break;
        }
        [[fallthrough]];
    default: {
        // One block answered badly on some of its attempts, or on all of them; a lost answer
        // leaves the block written all the same.
        const uint32_t block = Below(static_cast<uint32_t>(Blocks(op.Length)));
        const int firstAttempt = Chance(20) ? 2 : 1;
        const char* action = Pick<const char*>({"flash:02", "flash:7F", "flash:01", "silent",
                                                "byte:4E", "byte:46", "byte:15", "lost", "lost"});
        op.Faults.push_back(
            FormatText("D#%u@%d-%d=%s", block, firstAttempt, firstAttempt + attempts - 1, action));
        break;
    }
    }
}

TSoakOp TOpGenerator::Verify() {
    TSoakOp op;
    op.Kind = TOpKind::Verify;
    op.Length = Length(2000);
    op.Address = FlashAddress(op.Length);
    op.Data = Flash.Read(op.Address, op.Length);
    if (Chance(30)) {
        op.BadRequest = true;
        op.Data[Below(static_cast<uint32_t>(op.Length))] += static_cast<uint8_t>(1 + Below(255));
    }
    if (!Chance(40))
        return op;
    switch (Below(4)) {
    case 0:
        op.Faults.push_back("V=silent");
        break;
    case 3:
        op.Faults.push_back("V=extra:41");
        break;
    case 1:
        op.Faults.push_back(FormatText("V=byte:%02X", RefusalByte()));
        break;
    default:
        MaybeLimit(op, 1);
        break;
    }
    return op;
}

TSoakOp TOpGenerator::Sram() {
    TSoakOp op;
    op.Kind = TOpKind::Sram;
    op.Speed = BaudRates[Below(BaudRateCount)];
    if (Chance(12)) {
        op.Length = SramHangUpLength;
        op.HangUpAfter = static_cast<int>(Below(4000));
    } else {
        op.Length = Length(SoakSramSize);
        if (Chance(20))
            op.CancelAfter = static_cast<int>(Below(static_cast<uint32_t>(Blocks(op.Length))));
    }
    op.Data = RandomBytes(op.Length);
    return op;
}

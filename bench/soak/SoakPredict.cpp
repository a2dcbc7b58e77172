// The outcome an operation must have, worked out frame by frame from what the board is told
// to do: the host's retries, time-outs and pauses, the texts it must show, and the flash the
// board must hold afterwards. Written from the protocol, not from the host's code.
#include "BoardMonitor.h"
#include "LinkSpeed.h"
#include "MonitorMessages.h"
#include "SoakOps.h"

#include <algorithm>

namespace {

constexpr uint8_t Ack = 'A';
constexpr uint8_t FlashErrorByte = 'F';
constexpr uint8_t Nack = 'N';
// The board's code for a block that needs bits set which only an erase sets.
constexpr uint8_t NotErasedCode = 0x01;
// Follows a step's message when the board sent more than its answer.
const std::string OutOfStep = "\nThe board's answers are out of step with the frames sent (a "
                              "late, repeated or longer answer).";

std::string Hex(uint32_t address) {
    return FormatText("0x%04X%04X", address >> 16, address & 0xFFFF);
}

// Sums of our own: the host's are among what is checked.
uint8_t Sum8(const std::vector<uint8_t>& bytes) {
    uint8_t sum = 0;
    for (uint8_t byte : bytes)
        sum = static_cast<uint8_t>(sum + byte);
    return sum;
}

uint32_t Sum32(const uint8_t* bytes, int64_t count) {
    uint32_t sum = 0;
    for (int64_t i = 0; i < count; ++i)
        sum += bytes[i];
    return sum;
}

// What reached the host in answer to a command that expects one byte.
struct TByteAnswer {
    bool Lost = false;       // the board hung up
    bool Handled = false;    // the board dealt with the frame itself: no fault, no silence
    bool Came = false;       // a byte arrived
    uint8_t Byte = 0;        // 0 when none came
    bool FlashError = false; // 'F', and the code after it
    uint8_t Code = 0;        // 0 when none came
    bool NoCode = false;     // 'F' alone
    bool OutOfStep = false;  // the frame was not sent: bytes were waiting that no answer owed
};

class TPredictor {
public:
    TPredictor(const TSoakOp& op, const TFaultPlan& plan, int answeredBefore,
               const TMonitorTiming& timing, TFlashModel& flash)
        : Op(op), Board(plan, answeredBefore), Timing(timing), Flash(flash) {}

    TExpected Sync(const std::string& port);
    TExpected Read();
    TExpected Erase();
    TExpected Program();
    TExpected Verify();
    TExpected Sram();

    TExpected E;

private:
    // A command answered by one byte; dataBlock: 'F' is followed by an error code.
    TByteAnswer OneByte(TFrameKind kind, bool accepts, bool dataBlock = false);
    // The sector erase with its attempts: Ok, Refused or LineLost.
    std::string EraseSector(uint32_t address);
    // A write start, which points the board at address when it takes it.
    TByteAnswer WriteStart(uint32_t address);
    // One data block, written where the board's pointer stands.
    TByteAnswer DataBlock(const uint8_t* data, int count);
    // A write start for the block's own address, then the block again.
    TByteAnswer Rewrite(uint32_t address, const uint8_t* data, int count);
    // One data block with its attempts; the status, and the message when it failed.
    std::string WriteBlock(uint32_t address, const uint8_t* data, int count, std::string& message);
    void Fail(const std::string& status, const std::string& message, bool lost) {
        E.Status = status;
        E.Message = message;
        E.ReasonFollows = lost;
    }
    // After the last answer of an operation that went through: whether the line stays quiet.
    bool Settles() const { return !Stray; }

    const TSoakOp& Op;
    TBoardOracle Board;
    const TMonitorTiming& Timing;
    TFlashModel& Flash;
    bool Stray = false; // more than an answer came: the next frame finds it
    // A frame was sent again: the final verify then waits for a quiet line and is confirmed.
    bool Retried = false;
    // Where the board writes the next data block; each block it takes moves it on.
    uint32_t WritePointer = 0;
};

TByteAnswer TPredictor::OneByte(TFrameKind kind, bool accepts, bool dataBlock) {
    TByteAnswer answer;
    if (Stray) {
        answer.OutOfStep = true;
        return answer;
    }
    const TBoardOracle::TAnswer board = Board.Frame(kind, accepts);
    const auto normal = [&] {
        answer.Handled = true;
        answer.Came = true;
        answer.Byte = accepts ? Ack : dataBlock ? FlashErrorByte : Nack;
        answer.Code = NotErasedCode;
    };
    switch (board.What) {
    case TBoardOracle::TWhat::HungUp:
        answer.Lost = true;
        return answer;
    case TBoardOracle::TWhat::Nothing:
        break;
    case TBoardOracle::TWhat::Normal:
        normal();
        break;
    case TBoardOracle::TWhat::Fault:
        if (board.Rule->Action == TFaultAction::Extra) {
            normal();
            Stray = true;
        } else if (board.Rule->Action == TFaultAction::Late) {
            // Past the time-out the host waits for it before the next frame, and stops there.
            if (board.Rule->DelayMs < Timing.AnswerTimeoutMs) {
                normal();
            } else {
                answer.Handled = true;
                Stray = true;
            }
        } else if (board.Rule->Action == TFaultAction::Lost) {
            answer.Handled = true;
        } else if (board.Rule->Action == TFaultAction::Byte) {
            answer.Came = true;
            answer.Byte = board.Rule->Value;
        } else if (board.Rule->Action == TFaultAction::FlashError) {
            answer.Came = true;
            answer.Byte = FlashErrorByte;
            answer.Code = board.Rule->Value;
        }
        break;
    }
    // The host waits out an answer up to twice its time-out before it sends again.
    if (!answer.Came)
        E.WaitMs += 2 * Timing.AnswerTimeoutMs;
    answer.FlashError = dataBlock && answer.Byte == FlashErrorByte;
    // A bare 'F' leaves the host waiting for a code that never comes.
    if (answer.FlashError && board.What == TBoardOracle::TWhat::Fault &&
        board.Rule->Action == TFaultAction::Byte) {
        answer.Code = 0;
        answer.NoCode = true;
        E.WaitMs += 2 * Timing.AnswerTimeoutMs;
    }
    return answer;
}

TExpected TPredictor::Sync(const std::string& port) {
    TBoardConfig config;
    config.Type = SoakBoardType();
    const TBoardMonitor board(config);
    const int attempts = Op.AutoSpeed ? BaudRateCount : 1;
    const std::string noResponse = "No response from target or unable to synchronize on:\n";
    for (int index = 0; index < attempts; ++index) {
        const int speed = Op.AutoSpeed ? BaudRates[index] : Op.Speed;
        const std::string settings = FormatText("%s:%d,N,8,1", port.c_str(), speed);
        const TBoardOracle::TAnswer identity = Board.Frame(TFrameKind::Sync, true);
        if (identity.What == TBoardOracle::TWhat::HungUp) {
            Fail("LineLost", noResponse + settings, true);
            return E;
        }
        if (identity.What != TBoardOracle::TWhat::Normal) {
            // A whole reply with a wrong first byte comes at once; anything shorter is waited out.
            if (identity.What == TBoardOracle::TWhat::Nothing ||
                identity.Rule->Action != TFaultAction::Byte)
                E.WaitMs += Timing.IdentityTimeoutMs;
            if (!Op.AutoSpeed) {
                Fail("NoResponse", noResponse + settings, false);
                return E;
            }
            continue;
        }
        const TByteAnswer ack = OneByte(TFrameKind::Ack, true);
        if (ack.Lost) {
            Fail("LineLost", noResponse + settings, true);
            return E;
        }
        if (ack.Byte != Ack) {
            Fail("NoAck", "Unable synchronize with target.\nNo ACK.", false);
            return E;
        }
        const std::array<uint8_t, 14> id = board.IdentityAt(speed);
        auto le16 = [&id](int at) { return id[at] | id[at + 1] << 8; };
        const uint32_t base = id[10] | id[11] << 8 | id[12] << 16 | uint32_t{id[13]} << 24;
        E.Status = "Ok";
        E.Speed = speed;
        E.Message = FormatText("Chip type:    0x%04X\nManufacturer: 0x001F\nFlash code:   0x%04X\n"
                               "Version:      0x%04X\nCD:           %d (%d baud)\nBase address: %s",
                               id[1], le16(4), le16(6), le16(8), speed, Hex(base).c_str());
        E.Link = {true, speed};
        return E;
    }
    Fail("NoSpeed",
         FormatText("Unable to auto synchronize on %s with any baud rate.", port.c_str()), false);
    return E;
}

TExpected TPredictor::Read() {
    const char* timeout = "Timeout waiting for data.";
    int64_t done = 0;
    E.Status = "Ok";
    uint32_t lastBlock = Op.Address;
    while (done < Op.Length) {
        const int count = static_cast<int>(std::min<int64_t>(BlockSize, Op.Length - done));
        const uint32_t at = Op.Address + static_cast<uint32_t>(done);
        lastBlock = at;
        if (Stray) {
            Fail("OutOfStep", FormatText("Reading stopped at: %s.", Hex(at).c_str()) + OutOfStep,
                 false);
            break;
        }
        const TBoardOracle::TAnswer answer = Board.Frame(TFrameKind::Read, true);
        if (answer.What == TBoardOracle::TWhat::HungUp) {
            Fail("LineLost", timeout, true);
            break;
        }
        if (answer.What == TBoardOracle::TWhat::Fault &&
            answer.Rule->Action == TFaultAction::BadChecksum) {
            const uint8_t sum = Sum8(Flash.Read(at, count));
            Fail("BadChecksum",
                 FormatText("Checksum fail at: %s\nReceived: 0x%02X, Calculated: 0x%02X",
                            Hex(at).c_str(), static_cast<uint8_t>(sum + 1), sum),
                 false);
            break;
        }
        const bool effect = answer.What == TBoardOracle::TWhat::Fault && answer.Rule->KeepsEffect();
        if (effect && answer.Rule->Action == TFaultAction::Extra)
            Stray = true;
        if (answer.What != TBoardOracle::TWhat::Normal && !effect) {
            const bool whole = answer.What == TBoardOracle::TWhat::Fault &&
                               answer.Rule->Action == TFaultAction::Byte;
            if (!whole)
                E.WaitMs += Timing.AnswerTimeoutMs;
            Fail("NoAnswer", timeout, false);
            break;
        }
        done += count;
        if (count == BlockSize && Op.CancelAfter == done / BlockSize) {
            Fail("Cancelled", "User break.", false);
            break;
        }
    }
    if (E.Status == "Ok" && !Settles())
        Fail("OutOfStep", FormatText("Reading stopped at: %s.", Hex(lastBlock).c_str()) + OutOfStep,
             false);
    E.BytesDone = done;
    E.ReadData = Flash.Read(Op.Address, done);
    return E;
}

std::string TPredictor::EraseSector(uint32_t address) {
    for (int attempt = 0; attempt < Timing.EraseAttempts; ++attempt) {
        const TByteAnswer answer = OneByte(TFrameKind::Erase, Flash.Contains(address));
        if (answer.Lost)
            return "LineLost";
        if (answer.OutOfStep)
            return "OutOfStep";
        if (answer.Handled && Flash.Contains(address))
            Flash.EraseSectorAt(address);
        if (answer.Byte == Ack)
            return "Ok";
        E.WaitMs += Timing.ErasePauseMs;
        Retried = true;
    }
    return "Refused";
}

TExpected TPredictor::Erase() {
    std::string status = EraseSector(Op.Address);
    if (status == "Ok" && !Settles())
        status = "OutOfStep";
    if (status == "OutOfStep") {
        Fail(status, FormatText("Sector erase at %s failed.", Hex(Op.Address).c_str()) + OutOfStep,
             false);
    } else if (status == "Ok") {
        E.Status = status;
        E.Message = FormatText("Sector at %s erased.", Hex(Op.Address).c_str());
    } else {
        Fail(status, FormatText("Sector erase at %s failed.", Hex(Op.Address).c_str()),
             status == "LineLost");
    }
    return E;
}

std::string TPredictor::WriteBlock(uint32_t address, const uint8_t* data, int count,
                                   std::string& message) {
    std::string status;
    for (int attempt = 0; attempt < Timing.WriteAttempts; ++attempt) {
        // A block sent again follows a write start for its own address.
        const TByteAnswer answer =
            attempt == 0 ? DataBlock(data, count) : Rewrite(address, data, count);
        if (answer.Byte == Ack)
            return "Ok";
        if (answer.Lost || answer.OutOfStep) {
            message = FormatText("Unable to write data block at: %s.", Hex(address).c_str());
            if (answer.OutOfStep)
                message += OutOfStep;
            return answer.Lost ? "LineLost" : "OutOfStep";
        }
        if (answer.FlashError) {
            status = "FlashError";
            message = answer.NoCode ? FormatText("Flash write error at: %s.\nNo error code came.",
                                                 Hex(address).c_str())
                                    : FormatText("Flash write error at: %s.\nError: 0x%02X",
                                                 Hex(address).c_str(), answer.Code);
        } else {
            status = "Refused";
            message =
                FormatText("Unable to write data block at: %s.\nResponse code: 0x%02X %s",
                           Hex(address).c_str(), answer.Byte, answer.Byte == Nack ? "(NACK)" : "");
        }
        E.WaitMs += Timing.WritePauseMs;
        Retried = true;
    }
    return status;
}

TByteAnswer TPredictor::WriteStart(uint32_t address) {
    const TByteAnswer answer = OneByte(TFrameKind::WriteStart, true);
    if (answer.Handled)
        WritePointer = address;
    return answer;
}

TByteAnswer TPredictor::DataBlock(const uint8_t* data, int count) {
    const bool programmable = Flash.Programmable(WritePointer, data, count);
    const TByteAnswer answer = OneByte(TFrameKind::Data, programmable, true);
    // The board programs what it is given at its pointer unless a fault stands in for its
    // answer, and moves the pointer on when it could; bits that need an erase stay as they are.
    if (answer.Handled) {
        Flash.Program(WritePointer, data, count);
        if (programmable)
            WritePointer += static_cast<uint32_t>(count);
    }
    return answer;
}

TByteAnswer TPredictor::Rewrite(uint32_t address, const uint8_t* data, int count) {
    const TByteAnswer started = WriteStart(address);
    if (started.Byte != Ack)
        return started;
    return DataBlock(data, count);
}

TExpected TPredictor::Program() {
    const uint32_t address = Op.Address;
    const int64_t length = Op.Length;
    const uint8_t* data = Op.Data.data();
    if (!Flash.Contains(address)) {
        Fail("Check/AddressOutside",
             FormatText("Programming address must be within %s and %s", Hex(Flash.Start()).c_str(),
                        Hex(Flash.End()).c_str()),
             false);
        return E;
    }
    if (!Flash.ContainsRange(address, length)) {
        Fail("Check/DoesNotFit",
             FormatText("Program data doesn't fit into selected flash area.\n\nFlash start: %s, "
                        "Flash end: %s\nData start: %s, Data end: %s",
                        Hex(Flash.Start()).c_str(), Hex(Flash.End()).c_str(), Hex(address).c_str(),
                        Hex(address + static_cast<uint32_t>(length) - 1).c_str()),
             false);
        return E;
    }
    const std::string startFailed =
        FormatText("Unable to initiate write operation at address: %s.", Hex(address).c_str());
    E.BytesDone = 0;
    E.EraseAddresses = SectorsTouched(Flash.Board(), address, length);
    for (uint32_t sector : E.EraseAddresses) {
        const std::string status = EraseSector(sector);
        if (status != "Ok") {
            Fail("Erase/" + status,
                 FormatText("Sector erase at %s failed.\n\nIt may help now to restart the eval. "
                            "board in the flash programming mode\nand then try again.",
                            Hex(sector).c_str()) +
                     (status == "OutOfStep" ? OutOfStep : ""),
                 status == "LineLost");
            E.ClosingLine = "Failed";
            return E;
        }
    }
    // The step a write start or the verify ends at, and its message.
    const auto stepFailed = [this](const std::string& step, const TByteAnswer& answer,
                                   const std::string& message) {
        const char* status = answer.Lost ? "LineLost" : answer.OutOfStep ? "OutOfStep" : "Refused";
        Fail(step + "/" + status, message + (answer.OutOfStep ? OutOfStep : ""), answer.Lost);
    };
    TByteAnswer started = WriteStart(address);
    if (started.Byte != Ack) {
        stepFailed("FirstWriteStart", started, startFailed);
        return E;
    }
    int64_t written = 0;
    const int64_t whole = length / BlockSize * BlockSize;
    while (written < length) {
        const int count = static_cast<int>(std::min<int64_t>(BlockSize, length - written));
        const uint32_t at = address + static_cast<uint32_t>(written);
        if (count < BlockSize) {
            started = WriteStart(at);
            if (started.Byte != Ack) {
                stepFailed("RemainderWriteStart", started, startFailed);
                E.ClosingLine = "Failed";
                return E;
            }
        }
        std::string message;
        const std::string status = WriteBlock(at, data + written, count, message);
        if (status != "Ok") {
            Fail("Write/" + status, message, status == "LineLost");
            E.ClosingLine = "Failed";
            return E;
        }
        written += count;
        E.BytesDone = written;
        if (written <= whole && Op.CancelAfter == written / BlockSize) {
            Fail("Write/Cancelled", "User break.", false);
            E.ClosingLine = "User break.";
            return E;
        }
    }
    const bool same = Flash.Sum(address, length) == Sum32(data, length);
    if (Retried)
        E.WaitMs += Timing.QuietMs;
    TByteAnswer verified = OneByte(TFrameKind::Verify, same);
    // After a retry the board must say so twice.
    if (verified.Byte == Ack && Retried)
        verified = OneByte(TFrameKind::Verify, same);
    if (verified.Byte != Ack) {
        stepFailed("Verify", verified, "Program verification failed.");
        return E;
    }
    if (!Settles()) {
        Fail("Verify/OutOfStep", "Program verification failed." + OutOfStep, false);
        return E;
    }
    E.Status = "Done/Ok";
    E.Message = FormatText("%lld bytes at %s programmed OK.", static_cast<long long>(length),
                           Hex(address).c_str());
    return E;
}

TExpected TPredictor::Verify() {
    const bool same = Flash.Sum(Op.Address, Op.Length) == Sum32(Op.Data.data(), Op.Length);
    const TByteAnswer answer = OneByte(TFrameKind::Verify, same);
    if (answer.Byte == Ack && !Settles()) {
        Fail("OutOfStep", "Data verification failed." + OutOfStep, false);
    } else if (answer.Byte == Ack) {
        E.Status = "Ok";
        E.Message = FormatText("%lld bytes at %s verified OK.", static_cast<long long>(Op.Length),
                               Hex(Op.Address).c_str());
    } else {
        Fail(answer.Lost ? "LineLost" : "Refused", "Data verification failed.", answer.Lost);
    }
    return E;
}

TExpected TPredictor::Sram() {
    const auto image = Op.Data.begin();
    const std::string failedAt =
        FormatText("SRAM upload failed at byte {done} of %lld.", static_cast<long long>(Op.Length));
    if (Op.HangUpAfter >= 0) {
        // Every chunk before the board's last byte has left the port; what follows may have.
        Fail("LineLost", failedAt, true);
        E.BytesDoneMin = Op.HangUpAfter / BlockSize * BlockSize;
        E.BytesDoneMax = Op.Length - 1;
        E.SramStored.assign(image, image + Op.HangUpAfter);
        return E;
    }
    if (Op.CancelAfter >= 0) {
        Fail("Cancelled", "User break.", false);
        E.BytesDone = int64_t{Op.CancelAfter} * BlockSize;
        E.SramStored.assign(image, image + E.BytesDone);
        return E;
    }
    E.Status = "Ok";
    E.Message = "Finished OK";
    E.BytesDone = Op.Length;
    E.SramStored = Op.Data;
    return E;
}

} // namespace

TExpected Predict(const TSoakOp& op, const TFaultPlan& plan, int answeredBefore,
                  const std::string& port, const TMonitorTiming& timing, const TLinkState& link,
                  TFlashModel& flash) {
    TPredictor predictor(op, plan, answeredBefore, timing, flash);
    predictor.E.Link = link;
    switch (op.Kind) {
    case TOpKind::Sync:
        predictor.E.Link = {false, link.Speed};
        return predictor.Sync(port);
    case TOpKind::Read:
        return predictor.Read();
    case TOpKind::Erase:
        return predictor.Erase();
    case TOpKind::Program:
        return predictor.Program();
    case TOpKind::Verify:
        return predictor.Verify();
    case TOpKind::Sram:
        break;
    }
    return predictor.Sram();
}

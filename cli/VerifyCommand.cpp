// korvex-cli verify: the board's sum of a range against the image, or a byte-for-byte read-back.
#include "CliBoards.h"
#include "CliFlashObserver.h"
#include "CliOperationLog.h"
#include "Comm.h"
#include "FlashCheck.h"
#include "HexText.h"
#include "ImageFile.h"
#include "MonitorMessages.h"
#include "SilentBoard.h"

#include <CLI/CLI.hpp>

namespace {

struct TVerifyOptions {
    TBoardOptions Board;
    std::string Log;
    std::string File;
    std::string Address;
    std::string Length;
    bool ReadBack = false;
};

int RunVerify(const TVerifyOptions& options) {
    const std::vector<std::string> ports = ResolvePorts(options.Board.Ports, true);
    TFileImage image;
    TImageReadResult loaded;
    if (!LoadCommandImage(options.File, image, loaded))
        return CliExitFailure;
    const uint32_t address = CommandImageAddress(options.Address, loaded);
    // The first bytes of the image are compared, never more than it holds.
    const int64_t length =
        options.Length.empty() ? image.Length() : static_cast<int64_t>(CliNumber(options.Length));
    if (length > image.Length()) {
        PrintCliError(VerifyLengthTooLong(length, image.Length()).Text);
        return CliExitFailure;
    }
    if (static_cast<uint64_t>(address) + static_cast<uint64_t>(length) > 0x100000000ull)
        throw TCliUsageError("the range passes the end of the 32-bit address space");

    const TSyncRequest request = StoredSyncRequest(0);
    const uint8_t* data = image.Data();
    const TBoardWork work = [&](TBoard& board) {
        TComms port;
        TBootMonitor monitor(port);
        board.Json().AddString("file", options.File);
        board.Json().AddString("address", AddrToHex(address)());
        board.Json().AddNumber("length", length);
        if (!board.Connect(port, monitor, options.Board.Linked, request))
            return;
        board.Phase("Verifying");
        std::string warning;
        const TMonitorResult result = VerifyAndForget(monitor, board.Port(), address, data, length,
                                                      options.ReadBack, &warning);
        if (!warning.empty())
            WarnOnBoard(board, warning);
        if (result.Ok()) {
            board.Separator();
            board.SetResult(VerifiedLine(length, address), length);
        } else {
            board.Fail(WithAnswerLines(VerifyFailure(result), result).Text);
            // A board that answered can still show where its memory differs.
            if (result.Status != TMonitorStatus::Refused)
                return;
        }
        // After the board's refusal the read-back only adds where the bytes differ.
        if (options.ReadBack)
            ReadBackOnBoard(board, monitor, address, data, length,
                            result.Ok() ? "Data verification failed." : "");
    };
    return RunOnBoards(options.Board, ports, "verify",
                       LoggedWork(options.Log, "verify", data, image.Length(), work));
}

} // namespace

void AddVerifyCommand(TCliCommands& commands) {
    auto options = std::make_shared<TVerifyOptions>();
    CLI::App* command = commands.Add(
        {"verify", "FILE [--address ADDR] [--length LEN] [--readback] [--port PORT]... [OPTIONS]",
         "compare target memory with an image",
         "The board adds up the range and compares the sum with the image's: quick, but two\n"
         "swapped bytes give the same sum. --readback also reads the range back and compares\n"
         "it byte for byte, listing the first differing addresses with the board's and the\n"
         "file's byte. The range starts at the image's own address unless --address says (a\n"
         "binary file needs it) and covers the image's first LEN bytes, all of them by default.\n"},
        [options] { return RunVerify(*options); });
    AddImageArgument(command, options->File);
    AddAddressOption(command, options->Address, "where the image was programmed");
    command->add_option("-l,--length", options->Length, "compare only the first LEN bytes")
        ->option_text("LEN")
        ->check(CliNumberCheck(true, 0xFFFFFFFFull));
    command->add_flag("-r,--readback", options->ReadBack,
                      "read the range back and compare it byte for byte");
    AddLogOption(command, options->Log);
    AddBoardOptions(command, options->Board, TBoardOptionSet::SeveralPorts, true);
}

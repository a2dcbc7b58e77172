// korvex-cli read: target memory as a hex dump, or into a file.
#include "CliBoards.h"
#include "CliProgress.h"
#include "Comm.h"
#include "HexText.h"
#include "ImageFile.h"
#include "ImageOutput.h"
#include "MonitorMessages.h"
#include "SilentBoard.h"

#include <CLI/CLI.hpp>

namespace {

struct TReadOptions {
    TBoardOptions Board;
    std::string Address;
    std::string Length;
    std::string End;
    std::string Output;
    std::string Format;
};

std::string Hex(uint32_t address) {
    return AddrToHex(address)();
}

std::string HexBytes(const std::vector<uint8_t>& data) {
    static const char Digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(data.size() * 2);
    for (const uint8_t byte : data) {
        text += Digits[byte >> 4];
        text += Digits[byte & 0xF];
    }
    return text;
}

// The range asked for: from ADDR, LEN bytes or up to --end; within the 32-bit address space.
void ReadRangeOf(const TReadOptions& options, uint32_t& start, int64_t& count) {
    const uint64_t address = CliNumber(options.Address);
    uint64_t length = 0;
    if (!options.End.empty()) {
        const uint64_t end = CliNumber(options.End);
        if (end <= address)
            throw TCliUsageError("the end address must be greater than the start address");
        length = end - address;
    } else if (!options.Length.empty()) {
        length = CliNumber(options.Length);
    } else {
        throw TCliUsageError("give the length, or the end address with --end");
    }
    if (address + length > 0x100000000ull)
        throw TCliUsageError("the range passes the end of the 32-bit address space");
    start = static_cast<uint32_t>(address);
    count = static_cast<int64_t>(length);
}

// Reads the range from the board; false when that failed or was stopped (already reported).
bool ReadFromBoard(TBoard& board, TBootMonitor& monitor, uint32_t start, int64_t count, bool dump,
                   std::vector<uint8_t>& data) {
    if (dump) {
        board.Separator();
        board.Line(ReadTitle);
    }
    board.Phase("Reading");
    auto show = [&board](uint32_t at, const uint8_t* bytes, int n) {
        std::string lines;
        for (const TString& line : HexDumpLines(bytes, at, static_cast<size_t>(n)))
            lines += std::string(lines.empty() ? "" : "\n") + line();
        board.Line(lines);
    };
    const TMonitorResult result = monitor.ReadRange(
        start, count, data, dump ? show : std::function<void(uint32_t, const uint8_t*, int)>(),
        [&board](int64_t done, int64_t total) { return board.Progress(done, total); });
    board.SetBytes(result.BytesDone);
    if (result.Status == TMonitorStatus::Cancelled) {
        board.Interrupted();
        return false;
    }
    if (!result.Ok()) {
        board.Fail(WithServerLine(ReadFailure(result), result).Text);
        return false;
    }
    return true;
}

// A file korvex-cli writes must load again: refused before the read when it would not.
void CheckLoadable(TOutputFormat format, uint32_t start, int64_t count) {
    if (count > MaxImageLength)
        throw TCliUsageError(FormatText("a file of more than %lld MiB cannot be loaded again: "
                                        "read the range in parts",
                                        static_cast<long long>(MaxImageLength >> 20)));
    if (format != TOutputFormat::Binary && start + count > MaxImageAddress)
        throw TCliUsageError("an Intel HEX or S-record file with data from 0x80000000 upwards "
                             "cannot be loaded again: write a binary file (--format bin)");
}

// The bytes read, written to the output file in its format.
void SaveRead(TBoard& board, const TReadOptions& options, const TOutputTarget& target,
              TOutputFormat format, uint32_t start, const std::vector<uint8_t>& data) {
    const std::string contents =
        ImageFileContents(format, start, data.data(), data.size(), options.Output);
    std::string reason;
    if (!WriteOutputFile(target, reinterpret_cast<const uint8_t*>(contents.data()),
                         static_cast<int64_t>(contents.size()), reason)) {
        board.Fail(WriteFailureMessage(options.Output, reason));
        return;
    }
    const int64_t count = static_cast<int64_t>(data.size());
    board.Json().AddString("file", options.Output);
    board.Json().AddString("format", OutputFormatName(format));
    board.SetResult(std::to_string(count) + " bytes at " + Hex(start) + " written to " +
                        options.Output + ".",
                    count);
}

int RunRead(const TReadOptions& options) {
    const std::vector<std::string> ports = ResolvePorts(options.Board.Ports, false);
    uint32_t start = 0;
    int64_t count = 0;
    ReadRangeOf(options, start, count);
    TOutputFormat format = OutputFormatFromPath(options.Output);
    if (!options.Format.empty()) {
        if (options.Output.empty())
            throw TCliUsageError("--format needs --output FILE");
        OutputFormatFromName(options.Format, format);
    }
    TOutputTarget target;
    if (!options.Output.empty()) {
        CheckLoadable(format, start, count);
        std::string reason;
        if (!CheckOutputFile(options.Output, target, reason)) {
            PrintCliError(WriteFailureMessage(options.Output, reason));
            return CliExitFailure;
        }
        // The data take stdout; what would be printed there goes to stderr.
        if (target.Kind == TOutputTarget::Stdout && options.Board.Progress == ProgressJson)
            throw TCliUsageError("--progress json keeps stdout for its events: write the data "
                                 "to a file");
        if (target.Kind == TOutputTarget::Stdout)
            TCliConsole::Instance().KeepStdoutForData();
    }

    const TSyncRequest request = StoredSyncRequest(0);
    return RunOnBoards(options.Board, ports, "read", [&](TBoard& board) {
        TComms port;
        TBootMonitor monitor(port);
        board.Json().AddString("address", Hex(start));
        board.Json().AddNumber("length", count);
        if (!board.Connect(port, monitor, options.Board.Linked, request))
            return;
        const bool dump = options.Output.empty();
        std::vector<uint8_t> data;
        if (!ReadFromBoard(board, monitor, start, count, dump, data))
            return;
        if (!dump) {
            SaveRead(board, options, target, format, start, data);
            return;
        }
        board.Json().AddString("data", HexBytes(data));
        board.SetResult(std::string(), count);
    });
}

} // namespace

void AddReadCommand(TCliCommands& commands) {
    auto options = std::make_shared<TReadOptions>();
    CLI::App* command = commands.Add(
        {"read", "ADDR (LEN | --end ADDR) [--output FILE [--format FORMAT]] [OPTIONS]",
         "read target memory: a hex dump, or a file",
         "Numbers are decimal, or hexadecimal after 0x; a length may end in K or M.\n"
         "The format of --output comes from its extension unless --format says: .hex and\n"
         ".ihex Intel HEX; .srec, .s19, .s28, .s37 and .mot S-records; anything else binary.\n"},
        [options] { return RunRead(*options); });
    command->add_option("ADDR", options->Address, "address of the first byte")
        ->required()
        ->check(CliNumberCheck(false, 0xFFFFFFFFull));
    CLI::Option* length = command->add_option("LEN", options->Length, "number of bytes")
                              ->check(CliNumberCheck(true, 0x100000000ull));
    command
        ->add_option("-e,--end", options->End, "the first address after the range, instead of LEN")
        ->option_text("ADDR")
        ->check(CliNumberCheck(false, 0x100000000ull))
        ->excludes(length);
    command->add_option("-o,--output", options->Output, "write the bytes to FILE")
        ->option_text("FILE");
    command->add_option("-f,--format", options->Format, "bin, ihex or srec")
        ->option_text("FORMAT")
        ->check(CLI::IsMember({"bin", "ihex", "srec"}));
    AddBoardOptions(command, options->Board, TBoardOptionSet::OnePort, true);
}

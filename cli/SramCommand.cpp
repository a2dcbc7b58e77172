// korvex-cli sram: the raw upload to boards in SRAM uploading mode.
#include "CliBoards.h"
#include "CliOperationLog.h"
#include "Comm.h"
#include "Ebdata.h"
#include "ImageFile.h"
#include "LinkSpeed.h"
#include "MonitorMessages.h"

#include <CLI/CLI.hpp>

namespace {

struct TSramOptions {
    TBoardOptions Board;
    std::string Log;
    std::string Type;
    std::string File;
    int Baud = 0;
};

int RunSram(const TSramOptions& options) {
    const std::vector<std::string> ports = ResolvePorts(options.Board.Ports, true);
    TFileImage image;
    TImageReadResult loaded;
    if (!LoadCommandImage(options.File, image, loaded))
        return CliExitFailure;
    const auto type = CommandBoardType(options.Type, TTypeNeed::Sram);
    if (!type)
        return CliExitFailure;
    if (image.Length() > type->GetSramSize()) {
        PrintCliError(SramTooLarge(type->GetSramSize()).Text);
        return CliExitFailure;
    }

    const int speed = options.Baud != 0 ? options.Baud : ReadMaxSpeed(SramSpeedSetting);
    const uint8_t* data = image.Data();
    const int64_t length = image.Length();
    const TBoardWork work = [&](TBoard& board) {
        TComms port;
        TBootMonitor monitor(port);
        board.Json().AddString("file", options.File);
        board.Json().AddNumber("length", length);
        if (!board.Open(port, speed))
            return;
        board.Separator();
        board.Line(SramTitle);
        board.Phase("Sending");
        const TMonitorResult result =
            monitor.SendSram(data, length, [&board](int64_t done, int64_t total) {
                return board.Progress(done, total);
            });
        board.SetBytes(result.BytesDone);
        if (result.Status == TMonitorStatus::Cancelled) {
            board.Interrupted();
            return;
        }
        if (!result.Ok()) {
            board.Fail(SramFailure(result, length).Text);
            board.Line(FailedLine);
            return;
        }
        board.SetResult(SramDoneLine, length);
    };
    return RunOnBoards(options.Board, ports, "sram",
                       LoggedWork(options.Log, "sram", data, image.Length(), work));
}

} // namespace

void AddSramCommand(TCliCommands& commands) {
    auto options = std::make_shared<TSramOptions>();
    CLI::App* command = commands.Add(
        {"sram", "FILE [--baud BAUD] [--port PORT]... [OPTIONS]",
         "upload an image raw to boards in SRAM uploading mode",
         "Sends the image's bytes as they are, at the SRAM speed stored in the window's\n"
         "preferences (115200 when none is) unless --baud says. The image must fit the board\n"
         "type's SRAM. The board acknowledges nothing: \"Finished OK\" means that every byte\n"
         "left the port, and comes no earlier than the line could carry them at its speed;\n"
         "it does not mean the board took them.\n"},
        [options] { return RunSram(*options); });
    AddImageArgument(command, options->File);
    AddBaudOption(command, options->Baud, "the line speed");
    AddTypeOption(command, options->Type);
    AddLogOption(command, options->Log);
    AddBoardOptions(command, options->Board, TBoardOptionSet::SeveralPorts, false);
}

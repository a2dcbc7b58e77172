// korvex-cli program: an image into flash, on one board or several at once.
#include "CliBoards.h"
#include "CliFlashObserver.h"
#include "CliMonitor.h"
#include "CliOperationLog.h"
#include "CliProgramJob.h"
#include "CliProgress.h"
#include "Comm.h"
#include "Ebdata.h"
#include "FlashPlan.h"
#include "HexText.h"
#include "ImageFile.h"
#include "MonitorMessages.h"
#include "SilentBoard.h"

#include <CLI/CLI.hpp>

void ProgramBoard(TBoard& board, const TProgramOptions& options, const TProgramJob& job) {
    TComms port;
    TBootMonitor monitor(port);
    board.Json().AddString("file", options.File);
    board.Json().AddString("address", AddrToHex(job.Address)());
    board.Json().AddNumber("length", job.Length);
    if (!board.Connect(port, monitor, options.Board.Linked, job.Request))
        return;
    // With serial numbers the board's own image is what it is programmed, checked and recorded
    // with.
    std::vector<uint8_t> own;
    const uint8_t* data =
        job.Serials ? job.Serials->ImageFor(board, options.DryRun, job.Data, own) : job.Data;
    if (!data)
        return;
    TProgramPlan plan = BuildProgramPlan(*job.Type, job.Address, data, job.Length);
    TCliFlashObserver observer(board);
    TFlashSession session(monitor, observer, plan, data, board.Port(),
                          BoardLedgerKey(board.Port(), board.Identity(), *job.Type));
    if (options.SkipUnchanged && !SkipUnchanged(board, session))
        return;
    if (options.DryRun) {
        ShowPlan(board, plan, options.Yes);
        return;
    }
    if (RunPlan(board, session, plan, job.Address, job.Length) && options.ReadBack)
        ReadBackOnBoard(board, monitor, job.Address, data, job.Length,
                        "Program verification failed.");
}

std::optional<TProgramJob> PrepareProgramJob(const TProgramOptions& options, TFileImage& image) {
    TImageReadResult loaded;
    if (!LoadCommandImage(options.File, image, loaded))
        return std::nullopt;
    TProgramJob job;
    job.Address = CommandImageAddress(options.Address, loaded);
    job.Type = CommandBoardType(options.Type, TTypeNeed::Sectors);
    if (!job.Type)
        return std::nullopt;
    job.Data = image.Data();
    job.Length = image.Length();
    // Checked once for all boards: they are of one type and get the same image.
    job.Plan = PlanFlashProgramming(*job.Type, static_cast<int>(job.Address), job.Length);
    if (!job.Plan.Ok()) {
        PrintCliError(ProgramCheckFailure(job.Plan, static_cast<int>(job.Address)).Text);
        return std::nullopt;
    }
    // A dry run changes nothing: its plan marks the protected sectors instead.
    if (job.Plan.TouchesProtected() && !options.Yes && !options.DryRun) {
        PrintCliError(ProgramProtectedQuestion().Text + "\nGive --yes to erase them.");
        return std::nullopt;
    }
    job.Request = StoredSyncRequest(0);
    job.Serials = TSerialNumbers::Prepare(options.Serial, job.Address, job.Length);
    return job;
}

namespace {

int RunProgram(const TProgramOptions& options) {
    const std::vector<std::string> ports = ResolvePorts(options.Board.Ports, true);
    TFileImage image;
    const std::optional<TProgramJob> job = PrepareProgramJob(options, image);
    if (!job)
        return CliExitFailure;
    return RunOnBoards(options.Board, ports, "program",
                       LoggedWork(options.Log, "program", job->Data, job->Length,
                                  [&](TBoard& board) { ProgramBoard(board, options, *job); }));
}

} // namespace

void AddProgramCommand(TCliCommands& commands) {
    auto options = std::make_shared<TProgramOptions>();
    CLI::App* command = commands.Add(
        {"program", "FILE [--address ADDR] [--yes] [--readback] [--port PORT]... [OPTIONS]",
         "program an image into flash: erase, write and the board's verify",
         "The image goes to its own start address (Intel HEX, S-records, ELF) unless\n"
         "--address says; a binary file needs --address. Addresses are decimal, or hexadecimal\n"
         "after 0x. The image must fit the board type's flash; sectors that are protected there\n"
         "are refused unless --yes (--dry-run shows them marked). With several --port options\n"
         "every board gets the image at once.\n"
         "\n" KORVEX_SKIP_UNCHANGED_HELP "\n" KORVEX_SERIAL_HELP},
        [options] {
            if (options->MonitorBaud != 0 && options->Board.Progress == ProgressJson)
                throw TCliUsageError("--monitor prints the board's output, and --progress json "
                                     "keeps stdout for its events");
            return RunThenMonitor(options->Board.Ports, options->MonitorBaud,
                                  [options] { return RunProgram(*options); });
        });
    AddImageArgument(command, options->File);
    AddAddressOption(command, options->Address, "where the image goes");
    command->add_flag("-y,--yes", options->Yes, "erase and program protected sectors too");
    command->add_flag("-r,--readback", options->ReadBack,
                      "also read the range back and compare it byte for byte");
    AddPlanOptions(command, options->SkipUnchanged, options->DryRun);
    AddLogOption(command, options->Log);
    AddSerialOptions(command, options->Serial);
    AddTypeOption(command, options->Type);
    AddBoardOptions(command, options->Board, TBoardOptionSet::SeveralPorts, true);
    AddMonitorAfterOption(command, options->MonitorBaud);
}

// korvex-cli sync: find the speed the board answers at and show its identity.
#include "CliBoards.h"
#include "Comm.h"
#include "Ebdata.h"
#include "MonitorMessages.h"

#include <CLI/CLI.hpp>
#include <QJsonValue>

namespace {

struct TSyncOptions {
    TBoardOptions Board;
    std::string Type;
    int Baud = 0;
};

int RunSync(const TSyncOptions& options) {
    const std::vector<std::string> ports = ResolvePorts(options.Board.Ports, true);
    if (!CommandBoardType(options.Type, TTypeNeed::Sectors))
        return CliExitFailure;
    const TSyncRequest request = StoredSyncRequest(options.Baud);
    return RunOnBoards(options.Board, ports, "sync", [&request, &options](TBoard& board) {
        TComms port;
        TBootMonitor monitor(port);
        if (!board.Connect(port, monitor, 0, request)) {
            if (options.Baud != 0 && board.Outcome() == TBoardOutcome::Failed)
                board.Fail("Leaving out --baud tries every speed.");
            return;
        }
        // One block, so that the boards' identities do not interleave.
        std::string identity = SyncTitle;
        for (const std::string& line : IdentityLines(*board.Identity(), board.Speed()))
            identity += "\n" + line;
        // What a USB adapter holds answers back by, where the system tells.
        const int latency = port.LatencyTimerMs();
        if (latency >= 0)
            identity += FormatText("\nAdapter latency timer: %d ms", latency);
        board.Json().Add("latency_timer_ms", latency >= 0 ? QJsonValue(latency) : QJsonValue());
        board.SetResult("Link speed: " + std::to_string(board.Speed()), 0, identity);
    });
}

} // namespace

void AddSyncCommand(TCliCommands& commands) {
    auto options = std::make_shared<TSyncOptions>();
    CLI::App* command = commands.Add(
        {"sync", "[--port PORT]... [--baud BAUD] [OPTIONS]",
         "synchronise the link with boards in flash programming mode and show their identity",
         "Tries every speed, fastest first, or only the speed stored in the window's\n"
         "preferences when automatic speed is off there. The last line gives the speed found:\n"
         "the other board commands take it as --linked BAUD to skip their own synchronisation.\n"},
        [options] { return RunSync(*options); });
    AddBoardOptions(command, options->Board, TBoardOptionSet::SeveralPorts, false);
    AddTypeOption(command, options->Type);
    AddBaudOption(command, options->Baud, "try only this speed");
}

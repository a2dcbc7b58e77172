// korvex-cli erase: one flash sector.
#include "CliBoards.h"
#include "CliOperationLog.h"
#include "Comm.h"
#include "Ebdata.h"
#include "FlashPlan.h"
#include "HexText.h"
#include "MonitorMessages.h"
#include "SilentBoard.h"

#include <CLI/CLI.hpp>

namespace {

struct TEraseOptions {
    TBoardOptions Board;
    std::string Log;
    std::string Type;
    std::string Address;
    bool Yes = false;
};

int RunErase(const TEraseOptions& options) {
    const std::vector<std::string> ports = ResolvePorts(options.Board.Ports, false);
    const uint32_t address = static_cast<uint32_t>(CliNumber(options.Address));
    const auto type = CommandBoardType(options.Type, TTypeNeed::Sectors);
    if (!type)
        return CliExitFailure;
    // The board types hold signed addresses, compared as such.
    const int signedAddress = static_cast<int>(address);
    if (!InFlashArea(*type, signedAddress)) {
        PrintCliError(EraseAddressOutside(type->GetFlashStart(), type->FlashEnd()).Text);
        return CliExitFailure;
    }
    const int sector = type->ProtectedSectorAt(signedAddress);
    if (sector >= 0 && !options.Yes) {
        PrintCliError(EraseProtectedQuestion(sector).Text + "\nGive --yes to erase it.");
        return CliExitFailure;
    }

    const TSyncRequest request = StoredSyncRequest(0);
    const TBoardWork work = [&](TBoard& board) {
        TComms port;
        TBootMonitor monitor(port);
        board.Json().AddString("address", AddrToHex(address)());
        if (!board.Connect(port, monitor, options.Board.Linked, request))
            return;
        board.Phase("Erasing");
        const TMonitorResult result = monitor.EraseSector(address);
        if (!result.Ok()) {
            board.Fail(WithAnswerLines(EraseFailure(result), result).Text);
            return;
        }
        board.Separator();
        board.SetResult(SectorErasedLine(address), 0);
    };
    return RunOnBoards(options.Board, ports, "erase",
                       LoggedWork(options.Log, "erase", nullptr, 0, work));
}

} // namespace

void AddEraseCommand(TCliCommands& commands) {
    auto options = std::make_shared<TEraseOptions>();
    CLI::App* command = commands.Add(
        {"erase", "ADDR [--yes] [OPTIONS]", "erase the flash sector holding an address",
         "ADDR must lie in the board type's flash; it is decimal, or hexadecimal after 0x.\n"},
        [options] { return RunErase(*options); });
    command->add_option("ADDR", options->Address, "an address in the sector")
        ->required()
        ->check(CliNumberCheck(false, 0xFFFFFFFFull));
    command->add_flag("-y,--yes", options->Yes, "erase the sector even when it is protected");
    AddTypeOption(command, options->Type);
    AddLogOption(command, options->Log);
    AddBoardOptions(command, options->Board, TBoardOptionSet::OnePort, true);
}

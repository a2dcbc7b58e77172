// korvex-cli: the command-line companion of the Korvex loader, for scripts, build systems and
// production benches.
#include "CliCommand.h"
#include "CliMonitor.h"

#include <CLI/CLI.hpp>
#include <QCoreApplication>

#include <csignal>

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    // A closed pipe shows as a failed write, which the console handles, rather than ending the
    // program in the middle of a board operation.
    std::signal(SIGPIPE, SIG_IGN);

    CLI::App program("Loads program images into ARM7 evaluation boards from scripts.",
                     CliProgramName);
    program.require_subcommand(0, 1);
    TCliCommands commands(program);
    AddSyncCommand(commands);
    AddReadCommand(commands);
    AddEraseCommand(commands);
    AddProgramCommand(commands);
    AddVerifyCommand(commands);
    AddSramCommand(commands);
    AddTypesCommand(commands);
    AddInfoCommand(commands);
    AddPortsCommand(commands);
    AddStationCommand(commands);
    AddMonitorCommand(commands);
    return commands.Run(argc, argv);
}

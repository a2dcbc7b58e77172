// korvex-cli ports [--all]: the serial ports the loader would offer, simulated boards included.
#include "CliCommand.h"
#include "CliConsole.h"
#include "Comm.h"

#include <CLI/CLI.hpp>

#include <cstdio>

namespace {

int RunPorts(bool all) {
    int listed = 0;
    for (const TPortCandidate& port : PortCandidates()) {
        const QByteArray device = port.Name.toLocal8Bit();
        const bool opens = TComms::PortExists(device.constData());
        if (!opens && !all)
            continue;
        QString details = port.Description;
        if (!opens)
            details = details.isEmpty() ? QStringLiteral("(cannot be opened now)")
                                        : details + QStringLiteral(" (cannot be opened now)");
        // Simulated boards are listed under the name they announce: it could steer the terminal.
        const std::string name = EscapeControlCharacters(device.toStdString());
        const std::string shown = EscapeControlCharacters(details.toLocal8Bit().toStdString());
        if (shown.empty())
            std::printf("%s\n", name.c_str());
        else
            std::printf("%-16s  %s\n", name.c_str(), shown.c_str());
        ++listed;
    }
    std::fflush(stdout);
    if (listed == 0) {
        PrintCliError("No serial ports found on this computer.");
        return CliExitFailure;
    }
    return CliExitOk;
}

} // namespace

void AddPortsCommand(TCliCommands& commands) {
    auto all = std::make_shared<bool>(false);
    CLI::App* command = commands.Add(
        {"ports", "[--all]", "list the serial ports a board can be reached on",
         "Lists the serial ports that can be opened now, one a line: the name to give as the\n"
         "port, then what is known of the adapter. Simulated boards started with\n"
         "korvex-boardsim are listed after the real ports. Fails when there is none.\n"},
        [all] { return RunPorts(*all); });
    command->add_flag("-a,--all", *all,
                      "also list the ports that cannot be opened now (busy or missing)");
}

// korvex-cli ports [--all]: the serial ports the loader would offer, simulated boards included.
#include "CliCommand.h"
#include "Comm.h"

#include <cstdio>

int RunPortsCommand(const TCliCommand& command, const std::vector<std::string>& args) {
    TCliArguments parsed;
    std::string error;
    if (!ParseCliArguments(args, {{"--all", 'a', false}}, parsed, error))
        return CliUsageError(command, error);
    if (parsed.Help) {
        PrintCommandHelp(command);
        return CliExitOk;
    }
    if (!parsed.Positional.empty())
        return CliUsageError(command, "unexpected argument '" + parsed.Positional[0] + "'");
    const bool all = parsed.Flags.count("--all") > 0;

    int listed = 0;
    for (const TPortCandidate& port : PortCandidates()) {
        const QByteArray name = port.Name.toLocal8Bit();
        const bool opens = TComms::PortExists(name.constData());
        if (!opens && !all)
            continue;
        QString details = port.Description;
        if (!opens)
            details = details.isEmpty() ? QStringLiteral("(cannot be opened now)")
                                        : details + QStringLiteral(" (cannot be opened now)");
        if (details.isEmpty())
            std::printf("%s\n", name.constData());
        else
            std::printf("%-16s  %s\n", name.constData(), details.toLocal8Bit().constData());
        ++listed;
    }
    std::fflush(stdout);
    if (listed == 0) {
        PrintCliError("No serial ports found on this computer.");
        return CliExitFailure;
    }
    return CliExitOk;
}

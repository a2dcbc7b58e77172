// korvex-cli: the command-line companion of the Korvex loader, for scripts and build systems.
#include "CliCommand.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

#ifndef KORVEX_VERSION
#define KORVEX_VERSION "unknown"
#endif

namespace {

void PrintProgramHelp() {
    std::printf("Usage: %s COMMAND [ARGUMENTS]\n"
                "Loads program images into ARM7 evaluation boards from scripts.\n\n"
                "Commands:\n",
                CliProgramName);
    for (const TCliCommand& command : CliCommands())
        std::printf("  %-10s %s\n", command.Name, command.Summary);
    std::printf("\nOptions:\n"
                "  -h, --help     show this help, or a command's help after its name\n"
                "  -V, --version  show the version\n"
                "\nRun '%s COMMAND --help' for a command's arguments.\n",
                CliProgramName);
}

int UnknownCommand(const char* name) {
    std::fprintf(stderr, "%s: unknown command '%s'\nTry '%s --help' for the list of commands.\n",
                 CliProgramName, name, CliProgramName);
    return CliExitUsage;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc < 2) {
        PrintProgramHelp();
        return CliExitUsage;
    }
    const char* first = argv[1];
    if (!std::strcmp(first, "--help") || !std::strcmp(first, "-h")) {
        PrintProgramHelp();
        return CliExitOk;
    }
    if (!std::strcmp(first, "--version") || !std::strcmp(first, "-V")) {
        std::printf("%s %s\n", CliProgramName, KORVEX_VERSION);
        return CliExitOk;
    }
    if (!std::strcmp(first, "help")) {
        if (argc < 3) {
            PrintProgramHelp();
            return CliExitOk;
        }
        const TCliCommand* command = FindCliCommand(argv[2]);
        if (!command)
            return UnknownCommand(argv[2]);
        PrintCommandHelp(*command);
        return CliExitOk;
    }
    const TCliCommand* command = FindCliCommand(first);
    if (!command)
        return UnknownCommand(first);
    return command->Run(*command, std::vector<std::string>(argv + 2, argv + argc));
}

#include "CliCommand.h"

#include <cstdio>

const char* const CliProgramName = "korvex-cli";

const std::vector<TCliCommand>& CliCommands() {
    static const std::vector<TCliCommand> commands = {
        {"info", "FILE [--output OUT.bin]", "read a program image and print its summary",
         "Reads FILE as the loader does (raw binary, Intel HEX or Motorola S-record, told apart\n"
         "by its first three bytes) and prints the summary the loader's console shows.\n"
         "\n"
         "  -o, --output OUT.bin  also write the loaded image bytes to OUT.bin: one block from\n"
         "                        the lowest address the file defines, gaps filled with 0xFF\n",
         RunInfoCommand},
        {"ports", "[--all]", "list the serial ports a board can be reached on",
         "Lists the serial ports that can be opened now, one a line: the name to give as the\n"
         "port, then what is known of the adapter. Simulated boards started with\n"
         "korvex-boardsim are listed after the real ports. Fails when there is none.\n"
         "\n"
         "  -a, --all  also list the ports that cannot be opened now (busy or missing)\n",
         RunPortsCommand},
    };
    return commands;
}

const TCliCommand* FindCliCommand(const std::string& name) {
    for (const TCliCommand& command : CliCommands())
        if (name == command.Name)
            return &command;
    return nullptr;
}

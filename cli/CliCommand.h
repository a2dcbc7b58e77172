#pragma once
// The commands of korvex-cli. Each command is one entry of the table in CliCommands.cpp and a
// run function in a file of its own; main() finds the entry by name and hands it the arguments
// that follow the name.

#include <map>
#include <string>
#include <vector>

enum TCliExit : int {
    CliExitOk = 0,
    CliExitFailure = 1, // the command ran and failed (the message went to stderr)
    CliExitUsage = 2,   // the command line itself is wrong
};

struct TCliCommand {
    const char* Name;
    const char* Arguments; // shown after the name in the usage line
    const char* Summary;   // one line for the command list
    const char* Details;   // the rest of the command's help, lines ending in '\n'
    int (*Run)(const TCliCommand& command, const std::vector<std::string>& args);
};

// Every command, in the order --help lists them.
const std::vector<TCliCommand>& CliCommands();
const TCliCommand* FindCliCommand(const std::string& name);

// --- Helpers that commands share ---

struct TCliOption {
    const char* Long; // "--output"
    char Short;       // 'o', or 0 for none
    bool TakesValue;
};

struct TCliArguments {
    std::vector<std::string> Positional;
    std::map<std::string, std::string> Values; // by long name, for options that take a value
    std::map<std::string, bool> Flags;         // by long name, for options that do not
    bool Help = false;                         // --help or -h
};

// Splits args into options and positional arguments; accepts "--name value", "--name=value",
// "-n value" and "--" to end the options. False with error set for an unknown option or a
// missing value.
bool ParseCliArguments(const std::vector<std::string>& args, const std::vector<TCliOption>& options,
                       TCliArguments& parsed, std::string& error);

void PrintCommandHelp(const TCliCommand& command);
// Reports a wrong command line on stderr and returns CliExitUsage.
int CliUsageError(const TCliCommand& command, const std::string& error);
// Writes a message to stderr, ending it with exactly one line feed.
void PrintCliError(const std::string& message);

extern const char* const CliProgramName;

// Commands
int RunInfoCommand(const TCliCommand& command, const std::vector<std::string>& args);
int RunPortsCommand(const TCliCommand& command, const std::vector<std::string>& args);

#include "CliCommand.h"

#include <cstdio>
#include <cstring>

namespace {

const TCliOption* FindOption(const std::vector<TCliOption>& options, const std::string& name) {
    for (const TCliOption& option : options) {
        if (name == option.Long)
            return &option;
        if (option.Short && name.size() == 2 && name[0] == '-' && name[1] == option.Short)
            return &option;
    }
    return nullptr;
}

} // namespace

bool ParseCliArguments(const std::vector<std::string>& args, const std::vector<TCliOption>& options,
                       TCliArguments& parsed, std::string& error) {
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            parsed.Positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            parsed.Help = true;
            continue;
        }
        const size_t equals = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
        const std::string name = arg.substr(0, equals);
        const TCliOption* option = FindOption(options, name);
        if (!option) {
            error = "unknown option '" + name + "'";
            return false;
        }
        if (!option->TakesValue) {
            if (equals != std::string::npos) {
                error = "option '" + name + "' takes no value";
                return false;
            }
            parsed.Flags[option->Long] = true;
            continue;
        }
        if (equals != std::string::npos) {
            parsed.Values[option->Long] = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            parsed.Values[option->Long] = args[++i];
        } else {
            error = "option '" + name + "' needs a value";
            return false;
        }
    }
    return true;
}

void PrintCommandHelp(const TCliCommand& command) {
    std::printf("Usage: %s %s %s\n%s.\n\n%s", CliProgramName, command.Name, command.Arguments,
                command.Summary, command.Details);
}

int CliUsageError(const TCliCommand& command, const std::string& error) {
    std::fprintf(stderr, "%s %s: %s\nUsage: %s %s %s\nTry '%s %s --help' for more.\n",
                 CliProgramName, command.Name, error.c_str(), CliProgramName, command.Name,
                 command.Arguments, CliProgramName, command.Name);
    return CliExitUsage;
}

void PrintCliError(const std::string& message) {
    std::fputs(message.c_str(), stderr);
    if (message.empty() || message.back() != '\n')
        std::fputc('\n', stderr);
}

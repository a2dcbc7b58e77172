// The command table on CLI11: the program's and each command's help, and what a wrong command
// line says.
#include "CliCommand.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <sstream>

const char* const CliProgramName = "korvex-cli";

namespace {

constexpr size_t HelpWidth = 79;

// CLI11's help with our usage lines: "Usage: korvex-cli read ADDR (LEN | --end ADDR) [options]",
// the summary, the options, then the command's own details.
class TCliFormatter : public CLI::Formatter {
public:
    explicit TCliFormatter(const std::vector<std::pair<const CLI::App*, TCliCommandText>>& texts)
        : Texts(texts) {
        column_width(24);
        label("Positionals", "Arguments");
    }

    // "  -p,--port PORT       description", the description wrapped to the width of a terminal.
    std::string make_option(const CLI::Option* option, bool positional) const override {
        const std::string name = "  " + make_option_name(option, positional) +
                                 (positional ? std::string() : make_option_opts(option));
        std::string text = name;
        size_t column = text.size();
        if (column + 2 > column_width_) {
            text += "\n";
            column = 0;
        }
        std::string word;
        bool first = true;
        const std::string description = make_option_desc(option) + " ";
        for (const char ch : description) {
            if (ch != ' ') {
                word += ch;
                continue;
            }
            if (word.empty())
                continue;
            if (!first && column + 1 + word.size() > HelpWidth) {
                text += "\n";
                column = 0;
                first = true;
            }
            if (column < column_width_) {
                text.append(column_width_ - column, ' ');
                column = column_width_;
            } else if (!first) {
                text += ' ';
                ++column;
            }
            text += word;
            column += word.size();
            word.clear();
            first = false;
        }
        return text + "\n";
    }

    std::string make_option_opts(const CLI::Option* option) const override {
        if (!option->get_option_text().empty())
            return " " + option->get_option_text();
        return option->get_expected_max() != 0 ? " VALUE" : std::string();
    }

    std::string make_help(const CLI::App* app, std::string,
                          CLI::AppFormatMode mode) const override {
        if (mode == CLI::AppFormatMode::Sub)
            return make_expanded(app);
        for (const auto& [command, text] : Texts)
            if (command == app)
                return CommandHelp(app, text);
        return ProgramHelp(app);
    }

private:
    std::string CommandHelp(const CLI::App* app, const TCliCommandText& text) const {
        std::ostringstream out;
        out << "Usage: " << CliProgramName << " " << text.Name << " " << text.Arguments << "\n"
            << text.Summary << ".\n";
        out << make_positionals(app) << make_groups(app, CLI::AppFormatMode::Normal);
        if (text.Details && *text.Details)
            out << "\n" << text.Details;
        return out.str();
    }

    std::string ProgramHelp(const CLI::App* app) const {
        std::ostringstream out;
        out << "Usage: " << CliProgramName << " COMMAND [ARGUMENTS]\n"
            << app->get_description() << "\n\nCommands:\n";
        for (const auto& [command, text] : Texts) {
            char line[160];
            std::snprintf(line, sizeof line, "  %-9s %s\n", text.Name, text.Summary);
            out << line;
        }
        out << "  help      show a command's help: help COMMAND\n"
               "\nOptions:\n"
               "  -h, --help     show this help, or a command's help after its name\n"
               "  -V, --version  show the version\n"
               "\nRun '"
            << CliProgramName
            << " COMMAND --help' for a command's arguments.\n"
               "Exit codes: 0 done, 1 failed, 2 wrong command line; interrupted: 130 (Ctrl+C),\n"
               "143 (SIGTERM), 129 (SIGHUP). Each board stops after its current block.\n";
        return out.str();
    }

    const std::vector<std::pair<const CLI::App*, TCliCommandText>> Texts;
};

} // namespace

TCliCommands::TCliCommands(CLI::App& program) : Program(program) {
    // Set before the commands are added: they take it over.
    Program.set_help_flag("-h,--help", "show this help");
}

CLI::App* TCliCommands::Add(const TCliCommandText& text, std::function<int()> run) {
    CLI::App* parser = Program.add_subcommand(text.Name, text.Summary);
    Entries.push_back({text, parser, std::move(run)});
    return parser;
}

const TCliCommands::TEntry* TCliCommands::Find(const std::string& name) const {
    for (const TEntry& entry : Entries)
        if (name == entry.Text.Name)
            return &entry;
    return nullptr;
}

int TCliCommands::UsageError(const TEntry* entry, const std::string& message) const {
    if (entry)
        std::fprintf(stderr, "%s %s: %s\nUsage: %s %s %s\nTry '%s %s --help' for more.\n",
                     CliProgramName, entry->Text.Name, message.c_str(), CliProgramName,
                     entry->Text.Name, entry->Text.Arguments, CliProgramName, entry->Text.Name);
    else
        std::fprintf(stderr, "%s: %s\nTry '%s --help' for the list of commands.\n", CliProgramName,
                     message.c_str(), CliProgramName);
    return CliExitUsage;
}

void TCliCommands::InstallHelp() {
    std::vector<std::pair<const CLI::App*, TCliCommandText>> texts;
    for (const TEntry& entry : Entries)
        texts.emplace_back(entry.Parser, entry.Text);
    auto formatter = std::make_shared<TCliFormatter>(texts);
    Program.formatter(formatter);
    for (const TEntry& entry : Entries)
        entry.Parser->formatter(formatter);
    Program.set_version_flag("-V,--version", std::string(CliProgramName) + " " + KORVEX_VERSION,
                             "show the version");
}

int TCliCommands::Run(int argc, char** argv) {
    InstallHelp();
    // "help COMMAND" as a command of its own, outside the table.
    std::string helpTopic;
    CLI::App* help = Program.add_subcommand("help", "show a command's help");
    help->add_option("COMMAND", helpTopic, "the command");

    if (argc < 2) {
        std::fputs(Program.help().c_str(), stdout);
        return CliExitUsage;
    }
    const std::string first = argv[1];
    if (first[0] != '-' && first != "help" && !Find(first))
        return UsageError(nullptr, "unknown command '" + first + "'");

    // The command whose arguments were being read when parsing stopped.
    const auto reached = [this]() -> const TEntry* {
        for (const TEntry& entry : Entries)
            if (entry.Parser->parsed())
                return &entry;
        return nullptr;
    };
    try {
        Program.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        const TEntry* entry = reached();
        std::fputs((entry ? entry->Parser->help() : Program.help()).c_str(), stdout);
        return CliExitOk;
    } catch (const CLI::CallForVersion& version) {
        std::printf("%s\n", version.what());
        return CliExitOk;
    } catch (const CLI::ParseError& error) {
        return UsageError(reached(), error.what());
    }
    if (help->parsed())
        return ShowHelp(helpTopic);
    return RunParsed();
}

int TCliCommands::ShowHelp(const std::string& topic) const {
    if (topic.empty()) {
        std::fputs(Program.help().c_str(), stdout);
        return CliExitOk;
    }
    const TEntry* entry = Find(topic);
    if (!entry)
        return UsageError(nullptr, "unknown command '" + topic + "'");
    std::fputs(entry->Parser->help().c_str(), stdout);
    return CliExitOk;
}

int TCliCommands::RunParsed() const {
    for (const TEntry& entry : Entries) {
        if (!entry.Parser->parsed())
            continue;
        try {
            return entry.Run();
        } catch (const TCliUsageError& error) {
            return UsageError(&entry, error.what());
        }
    }
    return UsageError(nullptr, "no command given");
}

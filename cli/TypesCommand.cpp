// korvex-cli types: the board types the window offers, the current one marked.
#include "CliCommand.h"
#include "Ebdata.h"
#include "ProtectText.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

bool SameName(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

std::string Shown(const TString& text) {
    return text.IsBlank() ? "-" : std::string(text());
}

int RunTypes() {
    bool builtIn = false;
    const std::vector<TTypeDef> types = AvailableBoardTypes(&builtIn);
    if (types.empty()) {
        PrintCliError("No board types are stored: add one in the window's preferences.");
        return CliExitFailure;
    }
    // The type the commands take: the first one named as the window's current type, or the
    // first of all when the window has none.
    const std::string current = WantedTypeName(std::string());
    size_t marked = types.size();
    for (size_t i = 0; i < types.size() && marked == types.size(); ++i)
        if (current.empty() || SameName(types[i].Name(), current))
            marked = i;

    std::vector<std::vector<std::string>> rows = {
        {"NAME", "SECTORS", "PROTECTED", "SRAM SIZE", "FLASH START", "FLASH"}};
    for (const TTypeDef& type : types) {
        TString size;
        if (type.Sectors.IsBlank() || !CheckSectors(type.Sectors, &size))
            size = "";
        const std::string protect = ProtectedSectorsText(type.Sectors, type.Protect);
        rows.push_back({Shown(type.Name), Shown(type.Sectors), protect.empty() ? "-" : protect,
                        Shown(type.SramSize), Shown(type.FlashStart), Shown(size)});
    }
    std::vector<size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows)
        for (size_t column = 0; column < row.size(); ++column)
            widths[column] = std::max(widths[column], row[column].size());
    for (size_t i = 0; i < rows.size(); ++i) {
        std::string line = i > 0 && i - 1 == marked ? "* " : "  ";
        for (size_t column = 0; column < rows[i].size(); ++column) {
            std::string cell = rows[i][column];
            if (column + 1 < rows[i].size())
                cell.resize(widths[column] + 2, ' ');
            line += cell;
        }
        std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
    if (builtIn)
        std::fprintf(stderr, "No board types are stored yet: these are the built-in factory "
                             "types.\n");
    return CliExitOk;
}

} // namespace

void AddTypesCommand(TCliCommands& commands) {
    commands.Add({"types", "", "list the board types, the current one marked with '*'",
                  "The types and the current one are those of the window's preferences. Until the\n"
                  "window has stored any, the built-in factory types serve; nothing is stored.\n"},
                 [] { return RunTypes(); });
}

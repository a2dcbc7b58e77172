#pragma once
// korvex-cli monitor: what a board's own program sends, on stdout; typed lines go to it.

#include <functional>
#include <string>
#include <vector>

namespace CLI {
class App;
}
class TCliCommands;

struct TCliMonitorOptions {
    std::string Port; // empty: the window's stored port
    int Baud = 115200;
    bool Timestamps = false;
    std::string Log;
    std::string Eol = "lf";
};

void AddMonitorCommand(TCliCommands& commands);
// Runs the monitor on a port until Ctrl+C (exit 0) or until the line fails (exit 1).
int RunMonitor(const TCliMonitorOptions& options);

// --monitor [BAUD] of a board command: monitor the board once the command succeeded.
void AddMonitorAfterOption(CLI::App* command, int& baud);
// Runs the command, then, when baud is set and the command succeeded, the monitor on its port.
// Monitoring needs exactly one port: that is checked before the command runs.
int RunThenMonitor(const std::vector<std::string>& ports, int baud, std::function<int()> run);

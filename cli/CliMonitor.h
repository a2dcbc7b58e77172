#pragma once
// korvex-cli monitor: what a board's own program sends, on stdout; typed lines go to it.

#include <string>

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

#pragma once
// --log FILE of the board commands: one JSON line appended per board.

#include "CliBoards.h"

#include <string>

// Adds --log FILE.
void AddLogOption(CLI::App* command, std::string& path);
// The work, followed by one line appended to the log for the board (when path is not empty):
// the time, the board's JSON object, the image's SHA-256 when there is an image. The log is
// opened here, before any board work; one that cannot be opened throws TCliUsageError.
TBoardWork LoggedWork(const std::string& path, const char* operation, const uint8_t* image,
                      int64_t imageLength, TBoardWork work);

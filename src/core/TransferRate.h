#pragma once
// The throughput and time left of a running transfer, as the window's status bar and
// korvex-cli's progress lines show them.

#include <cstdint>
#include <string>

// "10.6 KB/s, 0:25 left" for a transfer that moved doneBytes of totalBytes in elapsedMs; empty
// while there is nothing to measure yet.
std::string TransferRateText(int64_t doneBytes, int64_t totalBytes, double elapsedMs);

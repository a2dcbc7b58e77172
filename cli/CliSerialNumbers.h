#pragma once
// Serial numbers on a production line: --serial-next FILE, --serial-at ADDR and --serial-format
// of program and station. Each board takes the next number from the counter file just before it
// is programmed and gets its own copy of the image with the number in it; the board's records
// carry the number.

#include "SerialCounter.h"
#include "SerialPatch.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace CLI {
class App;
}
class TBoard;

struct TSerialOptions {
    std::string Counter; // the counter file; empty: no serial numbers
    std::string At;
    std::string Format = "u32le";
};

// Adds --serial-next, --serial-at and --serial-format.
void AddSerialOptions(CLI::App* command, TSerialOptions& options);
// What the options do, for the command's help.
#define KORVEX_SERIAL_HELP                                                                         \
    "With --serial-next FILE each board gets its own number at --serial-at ADDR: FILE holds\n"     \
    "the next number in decimal; a board takes it just before it is programmed, and FILE is\n"     \
    "rewritten with the number plus one (under a lock, flushed to disk) first, so no number\n"     \
    "is handed out twice, not even by two processes on one FILE or after a crash. A board\n"       \
    "that fails keeps its number. Its verify, --readback and --skip-unchanged check its own\n"     \
    "image; --json and --log carry \"serial\". --serial-format: u32le (default), u32be, or\n"      \
    "ascii:N (N decimal digits, zero-padded, N up to 15). --dry-run shows the number the\n"        \
    "next board would take and takes none.\n"

// The numbers of one run, shared by its boards.
class TSerialNumbers {
public:
    // Checks the options, the counter file and the place against the image before any board
    // work; throws TCliUsageError with the reason. Null without --serial-next.
    static std::shared_ptr<TSerialNumbers> Prepare(const TSerialOptions& options,
                                                   uint32_t imageStart, int64_t imageLength);

    // The image for one board: a copy in own with the board's number, taken now (in a dry run
    // the number the next board would take; none is taken). Null after the board failed.
    const uint8_t* ImageFor(TBoard& board, bool dryRun, const uint8_t* image,
                            std::vector<uint8_t>& own);

private:
    TSerialNumbers(const std::string& counter, const TSerialPlace& place, uint32_t imageStart,
                   int64_t imageLength)
        : Counter(counter), Place(place), ImageStart(imageStart), ImageLength(imageLength) {}

    TSerialCounter Counter;
    const TSerialPlace Place;
    const uint32_t ImageStart;
    const int64_t ImageLength;
};

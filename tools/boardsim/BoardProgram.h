// The simulated board's own program, as a board runs it after a reset into the flash: a
// start-up banner, a line every second, and an echo of what it receives. A state machine like
// the boot monitor: bytes in, text out, no ports or threads.
#ifndef KORVEX_BOARDPROGRAM_H
#define KORVEX_BOARDPROGRAM_H

#include <cstdint>
#include <string>
#include <vector>

struct TProgramConfig {
    int Speed = 115200;              // the speed the program sets its serial port to
    std::vector<std::string> Banner; // the start-up lines
    std::string LineEnd = "\r\n";    // what ends each line it prints
    int TickMs = 1000;               // a "tick N" line this often; 0: none
    bool Flood = false;              // numbered lines without pause, as fast as the line takes them
};

class TBoardProgram {
public:
    explicit TBoardProgram(const TProgramConfig& config) : Config(config) {}

    // Starts the program at nowMs (a monotonic clock): the banner.
    std::string Start(int64_t nowMs);
    // The bytes received, echoed; a received CR or LF ends the echoed line with the program's
    // own line end.
    std::string Receive(const char* data, size_t count);
    // What the program prints by nowMs: due tick lines, or in flood mode about `room` bytes.
    std::string Tick(int64_t nowMs, size_t room);

    // The bytes as a host listening at hostSpeed reads them: at a speed other than the
    // program's, the receiver samples wrong bits and gets other bytes.
    std::string OnLine(const std::string& bytes, int hostSpeed) const;

    int Speed() const { return Config.Speed; }
    bool Running() const { return Started; }

private:
    TProgramConfig Config;
    bool Started = false;
    int64_t NextTickMs = 0;
    uint64_t Ticks = 0;
    uint64_t FloodLines = 0;
};

#endif

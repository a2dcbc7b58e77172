// How long a port's answers take beyond the time their bytes need on the line: the time from a
// frame handed to the driver to the first byte of its answer, less 10 bits a byte of the frame
// and that byte at the line speed. A USB adapter's receive latency timer shows here; a board
// on a plain serial line answers within a fraction of a millisecond.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

struct TTurnaroundFigures {
    // Judged on the first blocks, not on the synchronisation's two answers alone.
    static constexpr int SamplesToJudge = 8;

    int Samples = 0;
    double AverageMs = 0; // beyond the line time
    int Speed = 0;        // the line speed they were taken at
    // The answers pass a server on the network, whose settings may hold them back.
    bool ThroughServer = false;

    // Answers late enough to cost a programming a good share of its time. A server's delay
    // is told sooner: it is a setting, where an adapter's timer may not be.
    bool Slow() const {
        return Samples >= SamplesToJudge && AverageMs > (ThroughServer ? 1.0 : 3.0);
    }
};

class TTurnaroundMeter {
public:
    // The figures come from the synchronisation and the first blocks; later exchanges add
    // nothing. Fewer than MinSamples say too little to be told.
    static constexpr int WindowSamples = 16;
    static constexpr int MinSamples = 2;

    // The port opened at a speed: the figures start anew.
    void Start(int speed, bool throughServer = false);
    // A frame of bytes was handed to the driver at atUs (a steady clock, microseconds).
    void Sent(int64_t atUs, unsigned bytes);
    // The next answer carries the board's own work (an erase, a sum over the flash): it is not
    // taken.
    void SkipNext() { Skip = true; }
    // Bytes arrived at atUs; the first after a frame ends its sample.
    void Received(int64_t atUs);
    // The port closes: the figures are told now if they were not yet.
    void Finish();

    // The average leaves the slowest quarter out: a busy computer now and then wakes late to
    // an answer, while an adapter's timer holds back every one.
    TTurnaroundFigures Figures() const;
    // Told once per opening: when the window of samples is full, or when the port closes
    // with at least MinSamples.
    std::function<void(const TTurnaroundFigures&)> Measured;

private:
    void Tell();

    int Speed = 0;
    bool ThroughServer = false;
    int Samples = 0;
    std::array<double, WindowSamples> TakenMs{};
    bool Awaiting = false; // a frame went out and no byte came since
    bool Skip = false;
    bool Told = false;
    int64_t SentUs = 0;
    unsigned SentBytes = 0;
};

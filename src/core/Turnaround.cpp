#include "Turnaround.h"

#include <algorithm>

void TTurnaroundMeter::Start(int speed, bool throughServer) {
    Speed = speed;
    ThroughServer = throughServer;
    Samples = 0;
    Awaiting = Skip = Told = false;
}

void TTurnaroundMeter::Sent(int64_t atUs, unsigned bytes) {
    Awaiting = !Skip && Speed > 0 && Samples < WindowSamples;
    Skip = false;
    SentUs = atUs;
    SentBytes = bytes;
}

void TTurnaroundMeter::Received(int64_t atUs) {
    if (!Awaiting)
        return;
    Awaiting = false;
    // The frame and the first byte of the answer, 10 bits a byte.
    const double lineUs = (SentBytes + 1.0) * 10.0 * 1e6 / Speed;
    TakenMs[Samples] = std::max(0.0, static_cast<double>(atUs - SentUs) - lineUs) / 1000.0;
    if (++Samples == WindowSamples)
        Tell();
}

void TTurnaroundMeter::Finish() {
    Awaiting = false;
    if (Samples >= MinSamples)
        Tell();
}

void TTurnaroundMeter::Tell() {
    if (Told)
        return;
    Told = true;
    if (Measured)
        Measured(Figures());
}

TTurnaroundFigures TTurnaroundMeter::Figures() const {
    TTurnaroundFigures figures;
    figures.Samples = Samples;
    std::array<double, WindowSamples> sorted = TakenMs;
    std::sort(sorted.begin(), sorted.begin() + Samples);
    const int kept = Samples - Samples / 4;
    double total = 0;
    for (int i = 0; i < kept; ++i)
        total += sorted[i];
    figures.AverageMs = kept > 0 ? total / kept : 0;
    figures.Speed = Speed;
    figures.ThroughServer = ThroughServer;
    return figures;
}

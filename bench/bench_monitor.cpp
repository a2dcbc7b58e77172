// Flash programming and reading through the boot-monitor protocol against the simulated board
// with its line-rate model: how close the transfers come to what the line itself allows, and how
// much processor time the host spends meanwhile (it should sleep while it waits).
#include "BoardSim.h"
#include "BootMonitor.h"
#include "Comm.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <vector>

namespace {

constexpr int Speed = 115200;
constexpr uint32_t FlashStart = 0x01000000;

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double WallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Seconds the bytes of every block take on the line at 10 bits a byte: a write block is the
// frame (n + 2 bytes) down and the acknowledge up, a read block the command (6 bytes) down and
// the reply (n + 2 bytes) up.
double WireSeconds(int64_t length, int bytesPerBlockBeyondData) {
    const int64_t blocks = (length + BlockSize - 1) / BlockSize;
    return static_cast<double>(length + blocks * bytesPerBlockBeyondData) * 10.0 / Speed;
}

struct TBench {
    TBench() : Sim(Config()) {
        Sim.Start();
        Monitor.Synchronize({Sim.PortPath(), false, Speed});
    }
    static TBoardConfig Config() {
        TBoardConfig config;
        BuiltInBoardType("EB40A", config.Type);
        config.LineRate = true;
        return config;
    }
    TBoardSim Sim;
    TComms Port;
    TBootMonitor Monitor{Port};
};

void Report(benchmark::State& state, double wire, double wall, double cpu) {
    state.SetIterationTime(wall);
    state.counters["wire_ratio"] = wire / wall;
    state.counters["cpu_over_wall"] = cpu / wall;
}

void ProgramFlash(benchmark::State& state) {
    const int64_t length = state.range(0);
    std::vector<uint8_t> image(static_cast<size_t>(length));
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 13 + 5);
    TBench bench;
    std::vector<uint32_t> sectors;
    for (int64_t at = 0; at < length; at += 0x8000)
        sectors.push_back(FlashStart + static_cast<uint32_t>(at));
    for (auto _ : state) {
        const double wall = WallSeconds(), cpu = ThreadCpuSeconds();
        const auto result =
            bench.Monitor.ProgramFlash(FlashStart, image.data(), length, sectors, {}, {});
        if (!result.Result.Ok())
            state.SkipWithError("programming failed");
        Report(state, WireSeconds(length, 3), WallSeconds() - wall, ThreadCpuSeconds() - cpu);
    }
    state.SetBytesProcessed(state.iterations() * length);
}

void ReadMemory(benchmark::State& state) {
    const int64_t length = state.range(0);
    TBench bench;
    std::vector<uint8_t> data;
    for (auto _ : state) {
        const double wall = WallSeconds(), cpu = ThreadCpuSeconds();
        if (!bench.Monitor.ReadRange(FlashStart, length, data, {}, {}).Ok())
            state.SkipWithError("read failed");
        Report(state, WireSeconds(length, 8), WallSeconds() - wall, ThreadCpuSeconds() - cpu);
    }
    state.SetBytesProcessed(state.iterations() * length);
}

// What the confirmation of the final verify costs: the board's second 'V' after a 64 KiB
// programming on a clean line, against the programming itself.
void FinalVerifyConfirmation(benchmark::State& state) {
    constexpr int64_t Length = 64 * 1024;
    constexpr int Rounds = 20;
    std::vector<uint8_t> image(static_cast<size_t>(Length));
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 7 + 3);
    TBench bench;
    for (auto _ : state) {
        double wall = WallSeconds();
        if (!bench.Monitor
                 .ProgramFlash(FlashStart, image.data(), Length, {FlashStart, FlashStart + 0x8000},
                               {}, {})
                 .Result.Ok())
            state.SkipWithError("programming failed");
        const double programming = WallSeconds() - wall;
        double once = 0, confirmed = 0;
        for (int round = 0; round < Rounds; ++round) {
            wall = WallSeconds();
            bench.Monitor.VerifyRange(FlashStart, image.data(), Length); // one 'V' on a clean line
            once += WallSeconds() - wall;
            wall = WallSeconds();
            bench.Monitor.VerifyImage(FlashStart, image.data(), Length);
            confirmed += WallSeconds() - wall;
        }
        const double cost = (confirmed - once) / Rounds;
        state.SetIterationTime(cost);
        state.counters["confirm_ms"] = cost * 1000;
        state.counters["programming_s"] = programming;
        state.counters["share_percent"] = cost / programming * 100;
    }
}

} // namespace

BENCHMARK(FinalVerifyConfirmation)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(ProgramFlash)->Arg(256 * 1024)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(ReadMemory)->Arg(64 * 1024)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

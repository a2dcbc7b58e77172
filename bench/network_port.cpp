// Programming 64 KiB at 115200 on the line-rate simulated board, straight through its
// pseudo-terminal and through ser2net on the loopback address (RFC 2217): each as a share of
// what the line allows, and the network port's share of the direct one. Before it, the
// synchronisation's walk down the speeds, through ser2net against straight.
#include "BoardSim.h"
#include "BootMonitor.h"
#include "Comm.h"
#include "Ser2net.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <vector>

namespace {

constexpr int Speed = 115200;
constexpr int64_t Length = 64 * 1024;
constexpr uint32_t FlashStart = 0x01000000;

// ser2net's own default holds each byte from the board back a little in case more follow.
enum class TRoute { Direct, Ser2net, Ser2netCharDelay };

double WallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The frame (n + 2 bytes) down and the acknowledge up, at 10 bits a byte, for every block.
double WireSeconds() {
    const int64_t blocks = (Length + BlockSize - 1) / BlockSize;
    return static_cast<double>(Length + blocks * 3) * 10.0 / Speed;
}

double DirectRatio = 0;

void ProgramFlash(benchmark::State& state) {
    const auto route = static_cast<TRoute>(state.range(0));
    TBoardConfig config;
    BuiltInBoardType("EB40A", config.Type);
    config.LineRate = true;
    TBoardSim board(config);
    board.Start();
    std::unique_ptr<TSer2net> server;
    std::string port = board.PortPath();
    if (route != TRoute::Direct) {
        server = std::make_unique<TSer2net>(port, route == TRoute::Ser2netCharDelay);
        std::string error;
        if (!server->Start(&error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        port = server->Url();
    }
    TComms link;
    TBootMonitor monitor(link);
    if (!monitor.Synchronize({port, false, Speed}).Ok()) {
        state.SkipWithError("no synchronisation");
        return;
    }
    std::vector<uint8_t> image(static_cast<size_t>(Length));
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 13 + 5);
    for (auto _ : state) {
        const double start = WallSeconds();
        const auto result =
            monitor.ProgramFlash(FlashStart, image.data(), Length, {FlashStart}, {}, {});
        const double wall = WallSeconds() - start;
        if (!result.Result.Ok())
            state.SkipWithError("programming failed");
        state.SetIterationTime(wall);
        const double ratio = WireSeconds() / wall;
        state.counters["wire_ratio"] = ratio;
        if (route == TRoute::Direct)
            DirectRatio = ratio;
        else if (DirectRatio > 0)
            state.counters["of_direct"] = ratio / DirectRatio;
    }
    state.SetBytesProcessed(state.iterations() * Length);
}

double DirectSyncSeconds = 0;

// The synchronisation's walk down to a board that answers only at 19200: four speeds tried.
void SynchroniseWalk(benchmark::State& state) {
    const auto route = static_cast<TRoute>(state.range(0));
    TBoardConfig config;
    BuiltInBoardType("EB40A", config.Type);
    config.AcceptedSpeeds = {19200};
    TBoardSim board(config);
    board.Start();
    std::unique_ptr<TSer2net> server;
    std::string port = board.PortPath();
    if (route != TRoute::Direct) {
        server = std::make_unique<TSer2net>(port, route == TRoute::Ser2netCharDelay);
        std::string error;
        if (!server->Start(&error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        port = server->Url();
    }
    for (auto _ : state) {
        TComms link;
        TBootMonitor monitor(link);
        const double start = WallSeconds();
        const bool synced = monitor.Synchronize({port, true, 0}).Ok();
        const double wall = WallSeconds() - start;
        if (!synced)
            state.SkipWithError("no synchronisation");
        state.SetIterationTime(wall);
        if (route == TRoute::Direct)
            DirectSyncSeconds = wall;
        else if (DirectSyncSeconds > 0)
            state.counters["of_direct"] = wall / DirectSyncSeconds;
    }
}

} // namespace

BENCHMARK(SynchroniseWalk)
    ->ArgName("route")
    ->Arg(static_cast<int>(TRoute::Direct))
    ->Arg(static_cast<int>(TRoute::Ser2net))
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK(ProgramFlash)
    ->ArgName("route")
    ->Arg(static_cast<int>(TRoute::Direct))
    ->Arg(static_cast<int>(TRoute::Ser2net))
    ->Arg(static_cast<int>(TRoute::Ser2netCharDelay))
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

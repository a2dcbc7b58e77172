// The board output pane while a board sends without pause for ten seconds, faster than any
// real line: how long the window's event loop is kept from other work (the gaps between the
// ticks of a 10 ms timer), and how many lines a second reach the pane.
#include "BoardOutputPane.h"
#include "BoardSim.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;

    TBoardConfig config;
    BuiltInBoardType("EB40A", config.Type);
    TProgramConfig program;
    program.Banner = {"flood"};
    program.Flood = true;
    TBoardSim board(config);
    board.SetProgram(program, true);
    if (!board.Start())
        return 1;

    TBoardOutputPane pane(nullptr, [&board] { return QString::fromStdString(board.PortPath()); });
    pane.resize(900, 600);
    pane.show();
    pane.SetConnected(true);

    std::vector<qint64> gaps;
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    QTimer tick;
    tick.setInterval(10);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        gaps.push_back(now - last);
        last = now;
    });
    tick.start();
    QTimer::singleShot(seconds * 1000, &application, &QApplication::quit);
    application.exec();
    pane.SetConnected(false);

    std::sort(gaps.begin(), gaps.end());
    const auto at = [&gaps](double share) {
        return gaps.empty() ? 0 : gaps[static_cast<size_t>(share * (gaps.size() - 1))];
    };
    const uint64_t lines = pane.DroppedLines() + static_cast<uint64_t>(pane.Output->blockCount());
    std::printf("board output flood, %d s: %.0f lines/s shown; event loop gaps (10 ms timer): "
                "median %lld ms, 99%% %lld ms, longest %lld ms\n",
                seconds, static_cast<double>(lines) / seconds, static_cast<long long>(at(0.5)),
                static_cast<long long>(at(0.99)), static_cast<long long>(at(1.0)));
    return 0;
}

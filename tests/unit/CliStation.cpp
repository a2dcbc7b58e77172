// korvex-cli station against simulated boards announced one after another while it runs: which
// boards are programmed, what each ends as, the tally and the exit code. Also the station's
// bookkeeping and its port patterns on their own.
#include "BoardTestKit.h"
#include "Eventually.h"
#include "ImageFileTestKit.h"
#include "PortAnnouncement.h"
#include "PseudoTerminal.h"
#include "Settings.h"
#include "StationBook.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QStandardPaths>

#include <csignal>
#include <map>
#include <memory>
#include <sstream>

using namespace imagetest;
using boardtest::FramesOf;

namespace {

const QString CliPath = QStringLiteral(KORVEX_BINARY_DIR "/cli/korvex-cli");
constexpr uint32_t Free = 0x01040000; // EB40A's first unprotected sector

// A board that appears on the station's port list while it lives.
struct TAnnouncedBoard {
    TAnnouncedBoard(char letter, char mark) {
        TBoardConfig config;
        EXPECT_TRUE(BuiltInBoardType("EB40A", config.Type));
        config.LineRate = mark == '~'; // at the line's own pace: slow enough to catch in progress
        if (mark == '!')
            config.Faults = boardtest::Faults({"E=flash:02"});
        Sim = std::make_unique<TBoardSim>(config);
        EXPECT_TRUE(Sim->Start());
        std::string error;
        EXPECT_TRUE(Announcement.Announce(std::string("EB40A-") + letter, Sim->PortPath(), &error))
            << error;
    }
    std::unique_ptr<TBoardSim> Sim;
    TPortAnnouncement Announcement;
};

// The station's JSON lines so far: each board's results in order, by its letter. A board's
// pseudo-terminal may be the one of a board gone before it, so a line goes to the letter that
// held its port when it came.
struct TStationOutput {
    std::string Text, Pending;
    std::map<std::string, char> Letters; // port -> letter
    std::map<char, std::vector<std::string>> Results;
    QJsonObject Tally;

    void Take(const QByteArray& more) {
        Text += more.toStdString();
        Pending += more.toStdString();
        for (size_t end; (end = Pending.find('\n')) != std::string::npos;) {
            const QJsonObject json =
                QJsonDocument::fromJson(Q(Pending.substr(0, end)).toUtf8()).object();
            Pending.erase(0, end + 1);
            const std::string port = json["port"].toString().toStdString();
            if (json["operation"] == "station")
                Tally = json;
            else if (Letters.count(port))
                Results[Letters[port]].push_back(json["result"].toString().toStdString());
        }
    }
    std::string Summary() const {
        std::string text;
        for (const auto& [letter, results] : Results)
            for (const std::string& result : results)
                text += std::string(text.empty() ? "" : " ") + letter + ":" + result;
        return text;
    }
};

class CliStation : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QFile::exists(CliPath)) << "build korvex-cli first";
        TSettingsKey::ClearAll();
        Image = boardtest::Pattern(20 * 1024, 7);
        File = Scratch.Write("image.bin", Image.data(), Image.size());
    }

    // Steps, separated by spaces: "+a" a board appears ("+a!" one whose erase fails, "+a~"
    // a slow one), "=a" wait until it finished, "~a" until it is being written, "-a" it goes
    // away, "." half a second passes, "^C" Ctrl+C; at the end the station must have ended.
    // Steps before a "|" come before the station starts, which then runs without --ports.
    void Play(const QStringList& extra, const std::string& steps) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME",
                           QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
        environment.insert("XDG_DATA_HOME", Q(Scratch.Path("data")));
        Station.setProcessEnvironment(environment);
        std::istringstream words(steps);
        const bool bench = steps.find('|') != std::string::npos;
        for (std::string step; bench && words >> step && step != "|";)
            Step(step);
        // The pattern takes the boards announced before the station had its first look too.
        const QStringList pattern{"--ports", "/dev/pts/*"};
        Station.start(CliPath, QStringList{"station", Q(File), "--address", QString::number(Free),
                                           "--type", "EB40A", "--json"} +
                                   (bench ? QStringList() : pattern) + extra);
        ASSERT_TRUE(Station.waitForStarted(10000));
        if (bench) // its first look is over once it watches the announcements
            EXPECT_EVENTUALLY(WatchesAnnouncements(Station.processId()));
        for (std::string step; words >> step;)
            Step(step);
        EXPECT_TRUE(Station.state() == QProcess::NotRunning || Station.waitForFinished(60000))
            << "the station did not end";
        Output.Take(Station.readAllStandardOutput());
    }

    static bool WatchesAnnouncements(qint64 pid) {
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
        for (const QFileInfo& fd : fds.entryInfoList(QDir::Files | QDir::System))
            if (fd.symLinkTarget().contains("inotify"))
                return true;
        return false;
    }

    void Step(const std::string& step) {
        const char letter = step.size() > 1 ? step[1] : 0;
        if (step[0] == '+') {
            Output.Take(Station.readAllStandardOutput()); // lines of the port's last board first
            Boards[letter] =
                std::make_unique<TAnnouncedBoard>(letter, step.size() > 2 ? step[2] : 0);
            Output.Letters[Boards[letter]->Sim->PortPath()] = letter;
            Held.clear();
        } else if (step[0] == '=') {
            EXPECT_EVENTUALLY_TIMEOUT(
                (Output.Take(Station.readAllStandardOutput()), Output.Results.count(letter)),
                30000);
        } else if (step[0] == '~') {
            EXPECT_EVENTUALLY(!FramesOf(Boards[letter]->Sim->Frames(), TFrameKind::Data).empty());
        } else if (step[0] == '-') {
            const std::string port = Boards[letter]->Sim->PortPath();
            Boards[letter].reset();
            HoldPortNumber(port);
        } else if (step[0] == '.') {
            QTest::qWait(500);
        } else if (step == "^C") {
            ::kill(static_cast<pid_t>(Station.processId()), SIGINT);
        }
    }

    // A board that comes right after one went could get its pseudo-terminal before the station
    // looked: the same device node, one board to the station. The gone board's number stays
    // taken until the next board has its own.
    void HoldPortNumber(const std::string& port) {
        for (int tries = 0; tries < 16; ++tries) {
            auto spare = std::make_unique<TPseudoTerminal>();
            if (!spare->Open())
                return;
            const bool got = spare->SlavePath() == port;
            Held.push_back(std::move(spare));
            if (got)
                return;
        }
    }

    TScratch Scratch;
    TBytes Image;
    std::string File;
    QProcess Station;
    TStationOutput Output;
    std::map<char, std::unique_ptr<TAnnouncedBoard>> Boards;
    std::vector<std::unique_ptr<TPseudoTerminal>> Held;
};

} // namespace

TEST_F(CliStation, ProgramsEachBoardAsItAppearsAndTalliesThem) {
    struct TCase {
        const char* Name;
        QStringList Extra;
        const char* Steps;
        const char* Results; // each board's results, in the order they came
        int Passed, Failed, Interrupted, ExitCode;
    };
    const std::vector<TCase> cases = {
        {"three in turn", {}, "+a =a -a +b =b -b +c =c ^C", "a:ok b:ok c:ok", 3, 0, 0, 0},
        {"one fails", {}, "+a +b! +c =a =b =c ^C", "a:ok b:failed c:ok", 2, 1, 0, 1},
        {"left attached", {}, "+a =a . . +b =b . . ^C", "a:ok b:ok", 2, 0, 0, 0},
        {"gone mid-way", {}, "+a~ ~a -a =a +b =b ^C", "a:failed b:ok", 1, 1, 0, 1},
        {"--count", {"--count", "2"}, "+a =a +b =b +c . .", "a:ok b:ok", 2, 0, 0, 0},
        {"Ctrl+C in progress", {}, "+a =a +b~ ~b ^C", "a:ok b:interrupted", 1, 0, 1, 130},
        {"no --ports: attached at the start", {"--count", "1"}, "+a | +b =b", "b:ok", 1, 0, 0, 0},
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.Name);
        TearDown();
        SetUp();
        Station.close();
        Output = {};
        Boards.clear();
        Play(test.Extra, test.Steps);
        EXPECT_EQ(Output.Summary(), test.Results) << Output.Text;
        EXPECT_EQ(Output.Tally["passed"].toInt(-1), test.Passed) << Output.Text;
        EXPECT_EQ(Output.Tally["failed"].toInt(-1), test.Failed);
        EXPECT_EQ(Output.Tally["interrupted"].toInt(-1), test.Interrupted);
        EXPECT_EQ(Station.exitCode(), test.ExitCode);
        for (const auto& [letter, board] : Boards)
            if (board && Output.Results[letter] == std::vector<std::string>{"ok"})
                EXPECT_EQ(board->Sim->ReadMemory(Free, Image.size()), Image) << letter;
    }
}

// Events: "+x" port x appears, "-x" goes away, "<x" was there before the start, "px" / "fx" its
// board passed / failed (a made-up 10 KiB in 2 s), "ux" passed without writing a byte. Started:
// the boards programmed, in order.
TEST(StationBook, ProgramsABoardOnceWhileItStaysAttached) {
    struct TCase {
        int Count;
        const char* Events;
        const char* Started;
        const char* Status;
    };
    const std::vector<TCase> cases = {
        {0, "+a +b pa +a", "a b",
         "1 waiting, 1 in progress, 1 passed, 0 failed; last board 5.0 KB/s"},
        {0, "<a +a +b fb", "b", "1 waiting, 0 in progress, 0 passed, 1 failed"},
        {0, "+a pa -a +a", "a a",
         "0 waiting, 1 in progress, 1 passed, 0 failed; last board 5.0 KB/s"},
        {0, "+a -a +a fa", "a a",
         "0 waiting, 1 in progress, 0 passed, 1 failed"}, // back while busy
        {0, "+a -a +a -a fa", "a", "0 waiting, 0 in progress, 0 passed, 1 failed"},
        {2, "+a +b +c pa -a +a", "a b",
         "0 waiting, 1 in progress, 1 passed, 0 failed; last board 5.0 KB/s"},
        {0, "+a +b pa ub", "a b",
         "2 waiting, 0 in progress, 2 passed, 0 failed; last board unchanged"},
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.Events);
        TStationBook book(test.Count);
        std::string started;
        const auto note = [&](bool start, char port) {
            if (start)
                started += std::string(started.empty() ? "" : " ") + port;
        };
        std::istringstream events(test.Events);
        for (std::string event; events >> event;) {
            const std::string port(1, event[1]);
            if (event[0] == '+')
                note(book.Appeared(port), event[1]);
            else if (event[0] == '-')
                book.Gone(port);
            else if (event[0] == '<')
                book.AlreadyThere(port);
            else
                note(book.Finished(port,
                                   event[0] == 'f' ? TBoardOutcome::Failed : TBoardOutcome::Done,
                                   event[0] == 'u' ? 0 : 10240, 2.0),
                     event[1]);
        }
        EXPECT_EQ(started, test.Started);
        EXPECT_EQ(book.StatusText(), test.Status);
    }
}

// Looks at the port list, separated by "|": each port as NAME/NODE[/BY-ID LINK]. Events: what
// the looks after the first reported, in order.
TEST(StationPorts, WatcherFollowsAPortByItsDeviceNode) {
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"ttyUSB0/5 | ttyUSB0/5/usb-FTDI_A64B3X", "~ttyUSB0"}, // udev's link, a moment later
        {"ttyUSB0/5/usb-FTDI_A64B3X | ttyUSB0/5/usb-FTDI_B7", "~ttyUSB0"},
        {"ttyUSB0/5 | ttyUSB0/9", "-ttyUSB0 +ttyUSB0"}, // plugged in again between two looks
        {"ttyUSB0/5 | | ttyUSB0/5", "-ttyUSB0 +ttyUSB0"},
        {"ttyUSB0/5 | ttyUSB1/6", "-ttyUSB0 +ttyUSB1"},
        {"ttyUSB0/5 | ttyUSB0/0 | ttyUSB0/5", ""}, // a look that could not tell the node
        {"ttyUSB0/5 ttyUSB1/6 | ttyUSB1/6 ttyUSB0/5", ""},
    };
    for (const auto& [looks, expected] : cases) {
        SCOPED_TRACE(looks);
        std::map<std::string, uint64_t> nodes;
        TPortWatcher watcher(
            [&](const TPortCandidate& port) { return nodes[port.Name.toStdString()]; });
        std::string events;
        std::istringstream text(std::string(looks) + " |");
        std::vector<TPortCandidate> ports;
        bool first = true;
        for (std::string word; text >> word;) {
            if (word != "|") {
                const QStringList parts = Q(word).split('/');
                TPortCandidate port;
                port.Name = parts[0];
                port.ById = parts.size() > 2 ? "/dev/serial/by-id/" + parts[2] : QString();
                nodes[port.Name.toStdString()] = parts[1].toULongLong();
                ports.push_back(port);
                continue;
            }
            const TPortChanges changes = watcher.Update(ports);
            for (const auto& [mark, list] :
                 {std::make_pair('-', &changes.Gone), std::make_pair('~', &changes.Changed),
                  std::make_pair('+', &changes.Appeared)})
                for (const TPortCandidate& port : *list)
                    if (!first)
                        events += (events.empty() ? "" : " ") + std::string(1, mark) +
                                  port.Name.toStdString();
            first = false;
            ports.clear();
        }
        EXPECT_EQ(events, expected);
    }
}

TEST(StationPorts, PatternMatchesAnyNameOfThePort) {
    TPortCandidate port;
    port.Name = "ttyUSB3";
    port.ById = "/dev/serial/by-id/usb-FTDI_FT232R_A64B3X-if00-port0";
    port.VendorId = 0x0403;
    port.ProductId = 0x6001;
    port.SerialNumber = "A64B3X";
    const std::vector<std::pair<const char*, bool>> cases = {
        {"ttyUSB*", true},          {"/dev/ttyUSB[0-3]", true}, {"ttyUSB[!3]", false},
        {"ttyUSB", false},          {"usb:A64B3X", true},       {"usb:0403:6001:*", true},
        {"usb:0403:6015*", false},  {"*FT232R*", true},         {"ttyACM?", false},
        {"usb-FTDI_*-port0", true},
    };
    for (const auto& [pattern, matches] : cases)
        EXPECT_EQ(PortMatches(pattern, port), matches) << pattern;
}

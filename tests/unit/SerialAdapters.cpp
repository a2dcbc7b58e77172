// USB serial adapters: low latency asked for while a port is open, the latency timer read
// back, adapters named by USB selector, and the hint when answers come late.
#include "Comm.h"
#include "FlashLedger.h"
#include "MonitorMessages.h"
#include "PortSelector.h"
#include "PseudoTerminal.h"
#include "ScratchDir.h"
#include "SerialLatency.h"
#include "Turnaround.h"

#include <QFile>
#include <gtest/gtest.h>

#include <linux/serial.h>

#include <string>
#include <vector>

namespace {

struct TRecordedAccess {
    bool Flags = true; // the driver has serial flags
    int Initial = 0;
    bool Accepts = true;
    QString Timer; // the sysfs latency_timer's text
    std::vector<int> Set;
    QString AskedPath;

    TSerialLatencyAccess Access() {
        return {[this](int, int& flags) {
                    flags = Initial;
                    return Flags;
                },
                [this](int, int flags) {
                    Set.push_back(flags);
                    return Accepts;
                },
                [this](const QString& path) {
                    AskedPath = path;
                    return Timer;
                }};
    }
};

class SerialAdapters : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Line.Open()); }
    void TearDown() override {
        SetSerialLatencyAccess({});
        SetPortCandidateSource({});
        SetSerialByIdFolder({});
    }
    std::string Settings(const std::string& device) const { return device + ":115200,N,8,1"; }
    TPseudoTerminal Line;
};

} // namespace

TEST_F(SerialAdapters, LowLatencyIsAskedForWhileOpenAndARefusalIsNoError) {
    constexpr int Low = ASYNC_LOW_LATENCY, Other = 0x40;
    struct TCase {
        const char* Name;
        bool Flags;
        int Initial;
        bool Accepts;
        const char* Timer;
        std::vector<int> Set; // on opening, then on closing
        int TimerMs;
    } cases[] = {
        {"asked and given back", true, Other, true, "16\n", {Other | Low, Other}, 16},
        {"already low latency", true, Other | Low, true, "1", {}, 1},
        {"refused", true, Other, false, "", {Other | Low}, -1},
        {"no serial flags (pseudo-terminal)", false, 0, true, "junk", {}, -1},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TRecordedAccess driver{c.Flags, c.Initial, c.Accepts, c.Timer, {}, {}};
        SetSerialLatencyAccess(driver.Access());
        TComms port;
        ASSERT_TRUE(port.Open(Settings(Line.SlavePath()).c_str()));
        EXPECT_EQ(port.LastError(), QString());
        EXPECT_EQ(port.LatencyTimerMs(), c.TimerMs);
        const std::string pts = Line.SlavePath().substr(Line.SlavePath().rfind('/') + 1);
        EXPECT_EQ(driver.AskedPath.toStdString(),
                  "/sys/class/tty/" + pts + "/device/latency_timer");
        port.Close();
        EXPECT_EQ(driver.Set, c.Set);
    }
}

TEST_F(SerialAdapters, UsbSelectorsFindExactlyOneAdapter) {
    const QString pts = QString::fromStdString(Line.SlavePath());
    const std::vector<TPortCandidate> listed = {
        {"ttyUSB0", "", false, "", "", 0x0403, 0x6001, "A1"},
        {pts, "", false, "", "", 0x0403, 0x6001, "B2"},
        {"ttyACM0", "", false, "", "", 0x2341, 0x0043, "A1"},
        {"ttyUSB3", "", false, "", "", 0x0403, 0x6015, "D4"}, // same maker, another product
        {"/dev/pts/99", "Simulated", true, "EB40A-flash-boardsim", "", 0x0403, 0x6001, "C3"},
    };
    SetPortCandidateSource([listed] { return listed; });
    const QString several = "matches several adapters: ttyUSB0 (serial A1), ttyACM0 (serial A1)";
    struct TCase {
        const char* Name;
        bool Opens;
        QString Text; // the device it opens, or a part of the refusal
    } cases[] = {
        {"usb:B2", true, pts},
        {"usb:0403:6001:A1", true, "ttyUSB0"},
        {"USB:2341:43", true, "ttyACM0"},
        {"usb:0403:6015", true, "ttyUSB3"},
        {"ttyUSB7", true, "ttyUSB7"},
        {"usb:A1", false, several},
        {"usb:0403:6001", false,
         "matches several adapters: ttyUSB0 (serial A1), " + pts + " (serial B2). Name"},
        {"usb:C3", false, "No USB serial adapter matches usb:C3"}, // simulated: no USB ids
        {"usb:0403:6001:b2", false, "No USB serial adapter matches"},
        {"usb:0403:zz", false, "is no USB selector"},
        {"usb:", false, "is no USB selector"},
        {"usb:1:2:3:4", false, "is no USB selector"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const TPortChoice choice = ResolvePortName(c.Name);
        ASSERT_EQ(choice.Ok(), c.Opens) << choice.Error.toStdString();
        EXPECT_TRUE((c.Opens ? choice.Device == c.Text : choice.Error.contains(c.Text)))
            << choice.Error.toStdString();
    }

    // Resolved when the port opens; refused with the listing; one ledger name for every way.
    TComms port;
    EXPECT_TRUE(port.Open(Settings("usb:0403:6001:B2").c_str()));
    EXPECT_FALSE(port.Open(Settings("usb:A1").c_str()));
    EXPECT_TRUE(port.LastError().contains(several)) << port.LastError().toStdString();
    EXPECT_EQ(PortSerialNumber("usb:B2"), "B2");
    for (const std::string& name : {pts.mid(5).toStdString(), std::string("usb:B2")})
        EXPECT_EQ(StablePortName(name), Line.SlavePath()) << name;
}

TEST_F(SerialAdapters, ByIdNamesLeadToTheirDeviceAndTheDeviceToItsName) {
    TScratchDir byId;
    const QString pts = QString::fromStdString(Line.SlavePath());
    const QString name = "usb-Maker_Adapter_X1-if00-port0";
    const QString link = QString::fromStdString(byId.Path()) + "/" + name;
    ASSERT_TRUE(QFile::link(pts, link));
    SetSerialByIdFolder(QString::fromStdString(byId.Path()));
    const struct {
        QString Name;
        QString Device;
    } cases[] = {
        {name, link},                                                           // as ls shows it
        {link, link},                                                           // a path as it is
        {"usb-Maker_Adapter_X2-if00-port0", "usb-Maker_Adapter_X2-if00-port0"}, // no such link
    };
    for (const auto& c : cases)
        EXPECT_EQ(ResolvePortName(c.Name).Device.toStdString(), c.Device.toStdString());

    // The port opens by that name, and every name of it keys the ledger by the link.
    TComms port;
    EXPECT_TRUE(port.Open(Settings(name.toStdString()).c_str())) << port.LastError().toStdString();
    EXPECT_EQ(SerialByIdLink(pts), link);
    for (const QString& way : {pts, name, link})
        EXPECT_EQ(StablePortName(way.toStdString()), link.toStdString()) << way.toStdString();
}

TEST(SlowAdapterHint, SaysHowLateAndWhatItCostsAtTheLineSpeed) {
    // A block of 80 bytes, its frame and its answer take 7.2 ms at 115200, 86 ms at 9600.
    const char* adapter = "(the USB adapter's latency timer)";
    const char* server = "through the server: programming will take about 1.3\u00D7 longer than "
                         "the line needs. On ser2net, set \"chardelay: false\" in the connection's "
                         "options and accept with tcp(nodelay). See README: Boards on another "
                         "machine.";
    const struct {
        double Ms;
        int Speed;
        bool ThroughServer;
        const char* Late;
        const char* Costs;
        const char* Cause;
    } cases[] = {
        {16, 115200, false, "16 ms late", "about 3\u00D7 longer", adapter},
        {16, 57600, false, "16 ms late", "about 2\u00D7 longer", adapter},
        {8, 9600, false, "8 ms late", "about 1.1\u00D7 longer", adapter},
        {2.1, 115200, true, "2.1 ms late", "about 1.3\u00D7 longer", server},
    };
    for (const auto& c : cases) {
        TTurnaroundFigures figures;
        figures.AverageMs = c.Ms;
        figures.Speed = c.Speed;
        figures.ThroughServer = c.ThroughServer;
        const std::string hint = SlowAnswersHint(figures);
        EXPECT_NE(hint.find(c.Late), std::string::npos) << hint;
        EXPECT_NE(hint.find(c.Costs), std::string::npos) << hint;
        EXPECT_NE(hint.find(c.Cause), std::string::npos) << hint;
    }
}

TEST(TurnaroundMeter, AveragesTheFirstAnswersBeyondTheLineTime) {
    const std::vector<double> timer(16, 16.0), charDelay(16, 2.0),
        hiccups = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40, 40, 40};
    std::vector<double> erase(16, 0.0);
    erase[3] = 900;
    struct TCase {
        const char* Name;
        std::vector<double> LateMs; // each answer beyond its line time
        int Skipped;                // the answer the monitor said carries board work; -1: none
        int Told;
        double AverageMs;
        bool Slow;
        bool ThroughServer = false;
    } cases[] = {
        {"an adapter's timer on every answer", timer, -1, 1, 16, true},
        {"a busy computer's hiccups", hiccups, -1, 1, 0, false},
        {"an erase's answer", erase, 3, 1, 0, false},
        {"the synchronisation alone: told, too few to judge", {16, 16}, -1, 1, 16, false},
        {"one answer: not told", {16}, -1, 0, 0, false},
        {"a server's character delay", charDelay, -1, 1, 2, true, true},
        {"as much on a local line", charDelay, -1, 1, 2, false, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TTurnaroundMeter meter;
        std::vector<TTurnaroundFigures> told;
        meter.Measured = [&told](const TTurnaroundFigures& figures) { told.push_back(figures); };
        meter.Start(83000, c.ThroughServer); // an 82-byte frame and a byte back: 10 ms of line
        int64_t now = 0;
        for (size_t i = 0; i < c.LateMs.size(); ++i, now += 1000000) {
            if (static_cast<int>(i) == c.Skipped)
                meter.SkipNext();
            meter.Sent(now, 82);
            meter.Received(now + 10000 + static_cast<int64_t>(c.LateMs[i] * 1000));
            meter.Received(now + 20000 + static_cast<int64_t>(c.LateMs[i] * 1000)); // its rest
        }
        meter.Finish();
        ASSERT_EQ(static_cast<int>(told.size()), c.Told);
        if (c.Told) {
            EXPECT_NEAR(told[0].AverageMs, c.AverageMs, 0.01);
            EXPECT_EQ(told[0].Slow(), c.Slow);
        }
    }
}

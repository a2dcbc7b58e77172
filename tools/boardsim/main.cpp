// korvex-boardsim: a simulated evaluation board on a pseudo-terminal, for trying Korvex and
// korvex-cli without hardware.
#include "BoardSim.h"
#include "LinkSpeed.h"
#include "PortAnnouncement.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <pthread.h>
#include <string>
#include <vector>

namespace {

const char* const Usage =
    R"(Usage: korvex-boardsim [options]

Simulates the boot monitor of an AT91 evaluation board on a pseudo-terminal. Prints the
port's device path on the first line of its output, then answers on it until interrupted
(Ctrl+C). While it runs, the port is announced so that Korvex and "korvex-cli ports" list it.

Board:
  --type NAME        factory board type: EB40, EB40A (default), EB42, EB55 or EB63
  --board ROW        own definition "NAME=sectors;protect;SRAM size;flash start",
                     e.g. "Demo=8x8K,2x32K;;0004 0000;0100 0000"
  --mode MODE        flash (default): flash programming mode, answers synchronisation,
                     R, E, W/D and V; sram: SRAM uploading mode, stores what it receives
  --speeds LIST      the only link speeds the board answers at, e.g. 115200 or 19200,9600;
                     each one of 115200, 57600, 38400, 19200, 9600, 4800, 2400 or 1200
                     (default: all eight)

Identity (hexadecimal values):
  --clock HZ         master clock in Hz; the clock divisor shown is clock / (16 x speed)
                     (default 48000000, which gives 26 at 115200)
  --chip XX          chip type (default 01)
  --flash-code XXXX  flash code (default 0020)
  --monitor-version XXXX
                     monitor version (default 0101)
  --base XXXXXXXX    base address (default: the type's flash start)

Faults (repeatable):
  --fault KIND[#N][@A[-B]]=ACTION
      KIND    sync (the identity), ack (the answer to 'A'), R, E, W, D or V
      #N      only the N-th of that kind since synchronisation, from 0; default all.
              sync, ack, E and D count the accepted ones, so the host's retries are
              further attempts of the same one; R, W and V count every frame
      @A-B    only attempts A to B, from 1; default all
      ACTION  silent       no answer
              byte:XX      answer XX instead (identity and read reply: XX as first byte)
              flash:XX     answer 'F' and the error code XX
              badsum       read reply with a wrong checksum
              short:N      only the first N bytes of the identity or read reply
  --fault silent-after:N   answer N frames, then nothing
  --fault hangup-after:N   answer N frames (SRAM mode: take N bytes), then hang up the line
  Examples: --fault sync=silent (no identity), --fault sync=byte:41 (wrong first byte),
            --fault ack=byte:15, --fault 'D#2@1-2=byte:4E', --fault D#0=flash:02

Other:
  --line-rate        answers take as long as they would on a real line (10 bits a byte)
  --quiet            do not print the frames received
  --save FILE        in SRAM mode, write the bytes received to FILE on exit
  --no-announce      do not announce the port
  --help             this text
  --version          the program's version
)";

bool Hex(const char* text, uint32_t limit, uint32_t& value) {
    char* end = nullptr;
    const unsigned long parsed = std::strtoul(text, &end, 16);
    if (!*text || *end || parsed > limit)
        return false;
    value = static_cast<uint32_t>(parsed);
    return true;
}

// A board's monitor answers only at the host's link speeds; any other would never be tried.
bool IsLinkSpeed(long speed) {
    return std::find(BaudRates, BaudRates + BaudRateCount, speed) != BaudRates + BaudRateCount;
}

// "115200, 57600, ... or 1200", for the message that refuses a speed.
std::string LinkSpeedList() {
    std::string list = std::to_string(BaudRates[0]);
    for (int i = 1; i < BaudRateCount; ++i) {
        list += i + 1 < BaudRateCount ? ", " : " or ";
        list += std::to_string(BaudRates[i]);
    }
    return list;
}

bool Speeds(const std::string& text, std::vector<int>& speeds) {
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma - start);
        char* end = nullptr;
        const long speed = std::strtol(item.c_str(), &end, 10);
        if (item.empty() || *end || !IsLinkSpeed(speed))
            return false;
        speeds.push_back(static_cast<int>(speed));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return !speeds.empty();
}

std::string Describe(const TFrameRecord& frame) {
    std::string text = FrameKindName(frame.Kind);
    char part[64];
    std::snprintf(part, sizeof part, " at %d:", frame.Speed);
    text += part;
    const size_t shown = std::min<size_t>(frame.Bytes.size(), 16);
    for (size_t i = 0; i < shown; ++i) {
        std::snprintf(part, sizeof part, " %02X", frame.Bytes[i]);
        text += part;
    }
    // SRAM data and noise go on filling their record after it is printed: no count for them.
    const bool growing = frame.Kind == TFrameKind::Sram || frame.Ignored;
    if (frame.Bytes.size() > shown && growing) {
        text += " ...";
    } else if (frame.Bytes.size() > shown) {
        std::snprintf(part, sizeof part, " ... (%zu bytes)", frame.Bytes.size());
        text += part;
    }
    if (frame.Ignored)
        text += "  [ignored: speed not accepted or not synchronised]";
    else if (!frame.Complete)
        text += "  [incomplete, dropped]";
    else if (frame.Reply.empty())
        text += frame.Kind == TFrameKind::Sram ? "" : "  -> no answer";
    else {
        text += "  ->";
        const size_t answer = std::min<size_t>(frame.Reply.size(), 16);
        for (size_t i = 0; i < answer; ++i) {
            std::snprintf(part, sizeof part, " %02X", frame.Reply[i]);
            text += part;
        }
        if (frame.Reply.size() > answer)
            text += " ...";
    }
    return text;
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "korvex-boardsim: %s\n", message.c_str());
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    TBoardConfig config;
    BuiltInBoardType("EB40A", config.Type);
    bool quiet = false, announce = true, baseGiven = false;
    std::string saveFile;

    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        auto value = [&](const char*& out) {
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return true;
        };
        const char* arg = nullptr;
        uint32_t number = 0;
        if (option == "--help" || option == "-h") {
            std::fputs(Usage, stdout);
            return 0;
        } else if (option == "--version") {
            std::printf("korvex-boardsim %s\n", KORVEX_VERSION);
            return 0;
        } else if (option == "--type") {
            if (!value(arg) || !BuiltInBoardType(arg, config.Type))
                return Fail("unknown board type; use EB40, EB40A, EB42, EB55 or EB63");
        } else if (option == "--board") {
            std::string error;
            if (!value(arg) || !ParseBoardRow(arg, config.Type, error))
                return Fail("invalid --board definition: " + error);
        } else if (option == "--mode") {
            if (!value(arg) || (std::strcmp(arg, "flash") && std::strcmp(arg, "sram")))
                return Fail("--mode takes flash or sram");
            config.Mode = std::strcmp(arg, "sram") ? TBoardMode::Flash : TBoardMode::Sram;
        } else if (option == "--speeds") {
            config.AcceptedSpeeds.clear();
            if (!value(arg) || !Speeds(arg, config.AcceptedSpeeds))
                return Fail("--speeds takes link speeds separated by commas, each one of " +
                            LinkSpeedList());
        } else if (option == "--clock") {
            char* end = nullptr;
            if (!value(arg))
                return Fail("--clock takes a frequency in Hz");
            const unsigned long clock = std::strtoul(arg, &end, 10);
            if (!*arg || *end || clock == 0 || clock > 0xFFFFFFFFul)
                return Fail("--clock takes a frequency in Hz");
            config.MasterClock = static_cast<uint32_t>(clock);
        } else if (option == "--chip") {
            if (!value(arg) || !Hex(arg, 0xFF, number))
                return Fail("--chip takes a hexadecimal byte");
            config.Identity.ChipType = static_cast<uint8_t>(number);
        } else if (option == "--flash-code" || option == "--monitor-version") {
            if (!value(arg) || !Hex(arg, 0xFFFF, number))
                return Fail(option + " takes a hexadecimal 16-bit value");
            (option == "--monitor-version" ? config.Identity.Version : config.Identity.FlashCode) =
                static_cast<uint16_t>(number);
        } else if (option == "--base") {
            if (!value(arg) || !Hex(arg, 0xFFFFFFFF, number))
                return Fail("--base takes a hexadecimal address");
            config.Identity.BaseAddress = number;
            baseGiven = true;
        } else if (option == "--fault") {
            std::string error;
            if (!value(arg) || !ParseFault(arg, config.Faults, error))
                return Fail("invalid --fault: " + error);
        } else if (option == "--line-rate") {
            config.LineRate = true;
        } else if (option == "--quiet") {
            quiet = true;
        } else if (option == "--save") {
            if (!value(arg))
                return Fail("--save takes a file name");
            saveFile = arg;
        } else if (option == "--no-announce") {
            announce = false;
        } else {
            return Fail("unknown option " + option + " (see --help)");
        }
    }
    if (!baseGiven)
        config.Identity.BaseAddress = config.Type.FlashStart;

    // Signals are taken by sigwait below; the board's thread must not see them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    TBoardSim board(config);
    if (!quiet)
        board.SetFrameObserver([](const TFrameRecord& frame) {
            std::fprintf(stderr, "%s\n", Describe(frame).c_str());
        });
    std::string error;
    if (!board.Start(&error))
        return Fail(error);

    const char* mode = config.Mode == TBoardMode::Flash ? "flash programming" : "SRAM uploading";
    std::fprintf(stderr, "Simulated %s board in %s mode on %s\n", config.Type.Name.c_str(), mode,
                 board.PortPath().c_str());

    TPortAnnouncement announcement;
    if (announce) {
        if (announcement.Announce(config.Type.Name +
                                      (config.Mode == TBoardMode::Sram ? "-sram" : "-flash") +
                                      "-boardsim",
                                  board.PortPath(), &error))
            std::fprintf(stderr, "Announced as %s\n", announcement.LinkPath().c_str());
        else
            std::fprintf(stderr, "korvex-boardsim: not announced: %s\n", error.c_str());
    }
    // The path comes last, so whoever reads it finds the board ready and announced.
    std::printf("%s\n", board.PortPath().c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "Press Ctrl+C to stop.\n");

    int received = 0;
    sigwait(&stopSignals, &received);
    announcement.Withdraw();
    board.Stop();

    if (config.Mode == TBoardMode::Sram) {
        const std::vector<uint8_t> data = board.SramData();
        uint32_t sum = 0;
        for (uint8_t byte : data)
            sum += byte;
        std::fprintf(stderr, "SRAM received %zu bytes, sum 0x%08X\n", data.size(), sum);
        if (!saveFile.empty()) {
            std::ofstream out(saveFile, std::ios::binary);
            out.write(reinterpret_cast<const char*>(data.data()),
                      static_cast<std::streamsize>(data.size()));
            if (!out)
                return Fail("cannot write " + saveFile);
        }
    }
    return 0;
}

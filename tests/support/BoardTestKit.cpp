#include "BoardTestKit.h"

#include "MonitorMessages.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace boardtest {

namespace {

const char* const KitSectors = "4x8K,2x32K";

} // namespace

TBoardConfig KitBoard(TBoardMode mode) {
    TBoardConfig config;
    config.Type.Name = "Kit";
    config.Type.FlashStart = FlashStart;
    config.Type.SramSize = SramSize;
    EXPECT_TRUE(ParseSectorLayout(KitSectors, FlashStart, config.Type.Sectors));
    config.Mode = mode;
    return config;
}

TMonitorTiming ShortPauses() {
    TMonitorTiming timing;
    timing.ErasePauseMs = 10;
    timing.WritePauseMs = 10;
    return timing;
}

TMonitorTiming ShortWaits() {
    TMonitorTiming timing = ShortPauses();
    timing.IdentityTimeoutMs = 150;
    timing.AnswerTimeoutMs = 250;
    timing.TransmitTimeoutMs = 250;
    return timing;
}

TBytes Pattern(size_t size, uint8_t seed) {
    TBytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return bytes;
}

TFaultPlan Faults(std::initializer_list<const char*> texts) {
    TFaultPlan plan;
    std::string error;
    for (const char* text : texts)
        EXPECT_TRUE(ParseFault(text, plan, error)) << error;
    return plan;
}

std::vector<TFrameRecord> FramesOf(const std::vector<TFrameRecord>& frames, TFrameKind kind) {
    std::vector<TFrameRecord> found;
    for (const TFrameRecord& frame : frames)
        if (frame.Kind == kind)
            found.push_back(frame);
    return found;
}

uint32_t FrameAddress(const TFrameRecord& frame) {
    if (frame.Bytes.size() < 5)
        return 0;
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value |= static_cast<uint32_t>(frame.Bytes[1 + i]) << (8 * i);
    return value;
}

bool IsSlowAdapterHintLine(const std::string& line) {
    // Its fixed parts, taken from the hint itself: what comes before the delay, and the end.
    const std::string hint = SlowAdapterHint(16, 115200);
    const std::string start = hint.substr(0, hint.find("16"));
    const std::string end = hint.substr(hint.find(" longer"));
    return line.find(start) != std::string::npos && line.size() >= end.size() &&
           line.compare(line.size() - end.size(), end.size(), end) == 0;
}

std::string WithoutSlowAdapterHint(const std::string& lines) {
    std::istringstream in(lines);
    std::string kept;
    for (std::string line; std::getline(in, line);)
        if (!IsSlowAdapterHintLine(line))
            kept += line + (in.eof() ? "" : "\n");
    return kept;
}

} // namespace boardtest

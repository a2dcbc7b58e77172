// Helpers for tests that talk to the simulated board: a small board type, short timings, data
// patterns, fault plans and the frames the board received. GUI-free.
#pragma once

#include "BoardSim.h"
#include "BootMonitor.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace boardtest {

using TBytes = std::vector<uint8_t>;

// The board type of these tests: four sectors of 8 KiB and two of 32 KiB from 0x01000000,
// sectors 0 and 1 protected, 4 KiB of SRAM.
constexpr uint32_t FlashStart = 0x01000000;
constexpr uint32_t FlashEnd = 0x01017FFF;
constexpr uint32_t SramSize = 0x1000;
// An unprotected sector start, where most programming happens.
constexpr uint32_t Sector2 = 0x01004000;
constexpr uint32_t Sector3 = 0x01006000;

TBoardConfig KitBoard(TBoardMode mode = TBoardMode::Flash);

// Timings for cases that must wait out a board that does not answer; every pause short. Cases
// whose answers come keep the real answer time-outs, so a loaded machine cannot fail them.
TMonitorTiming ShortPauses();
TMonitorTiming ShortWaits();

TBytes Pattern(size_t size, uint8_t seed = 1);

// A fault plan from fault texts ("D#1=flash:02", "hangup-after:5").
TFaultPlan Faults(std::initializer_list<const char*> texts);

// The frames of one kind the board received.
std::vector<TFrameRecord> FramesOf(const std::vector<TFrameRecord>& frames, TFrameKind kind);
// The address field of a read, erase, write-start or verify frame.
uint32_t FrameAddress(const TFrameRecord& frame);

// A busy machine can make the undelayed simulated board look like a slow USB adapter, and the
// hint that says so then joins the output. Tests that are not about the hint leave it out.
bool IsSlowAdapterHintLine(const std::string& line);
std::string WithoutSlowAdapterHint(const std::string& lines);

} // namespace boardtest

#pragma once
// korvex-cli program's work on one board, shared with the station: the options, the job every
// board gets, and the sequence itself (synchronise, plan, erase, write, verify).

#include "BootMonitor.h"
#include "CliBoards.h"
#include "CliSerialNumbers.h"
#include "Ebdata.h"
#include "FlashPlan.h"

#include <memory>
#include <optional>
#include <string>

class TFileImage;

struct TProgramOptions {
    TBoardOptions Board;
    std::string Type;
    std::string File;
    std::string Address;
    bool Yes = false;
    bool ReadBack = false;
    int MonitorBaud = 0; // --monitor: the speed to monitor the board at once it is programmed
    bool SkipUnchanged = false;
    bool DryRun = false;
    std::string Log;
    TSerialOptions Serial;
};

// What every board gets: the image, where it goes and the sectors to erase first.
struct TProgramJob {
    const uint8_t* Data = nullptr;
    int64_t Length = 0;
    uint32_t Address = 0;
    TFlashPlan Plan;
    TSyncRequest Request;
    std::shared_ptr<const TEBData> Type;
    std::shared_ptr<TSerialNumbers> Serials; // null: every board gets the image as it is
};

// Reads the image into image and checks it against the board type once for all boards; none
// after the reason went to stderr.
std::optional<TProgramJob> PrepareProgramJob(const TProgramOptions& options, TFileImage& image);
// Programs one board; the outcome and the figures are the board's.
void ProgramBoard(TBoard& board, const TProgramOptions& options, const TProgramJob& job);

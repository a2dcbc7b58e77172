// Serial link speeds and the stored speed choices of the boot-monitor link.
#pragma once

#include "TString.h"

// The link speeds in bits per second, fastest first; the stored speed settings are indexes
// into this table.
constexpr int BaudRateCount = 8;
extern const int BaudRates[BaudRateCount];

// Which stored speed ReadMaxSpeed answers for: the SRAM upload, or (anything else) the flash link.
constexpr int FlashSpeedSetting = 1;
constexpr int SramSpeedSetting = 2;

// A stored speed index as text: the index when it names an entry of BaudRates, else 0 (the
// fastest speed). A blank text also gives 0.
int SpeedIndexFromText(TString text);

// A stored automatic-speed switch as text: on unless the text converts to 0; blank means on.
bool AutoSpeedFromText(TString text);

// FlashAutoSpeed from the settings store: whether synchronisation tries every speed.
bool ReadAutoSpeed();

// The speed stored for the SRAM upload (which == SramSpeedSetting) or the flash link (anything
// else); 115200 when the store cannot be read or holds no usable index.
int ReadMaxSpeed(int which);

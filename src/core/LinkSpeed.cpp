#include "LinkSpeed.h"

#include "Settings.h"

const int BaudRates[BaudRateCount] = {115200, 57600, 38400, 19200, 9600, 4800, 2400, 1200};

int SpeedIndexFromText(TString text) {
    // Read as a long first so that a huge number cannot wrap into the valid range.
    const long index = text.ToInt();
    if (index < 0 || index >= BaudRateCount)
        return 0;
    return static_cast<int>(index);
}

bool AutoSpeedFromText(TString text) {
    if (text.IsBlank())
        return true;
    return text.ToInt() != 0;
}

bool ReadAutoSpeed() {
    TSettingsKey key;
    if (!key.IsOpen())
        return true;
    return AutoSpeedFromText(key.ReadString("FlashAutoSpeed"));
}

int ReadMaxSpeed(int which) {
    TSettingsKey key;
    if (!key.IsOpen())
        return BaudRates[0];
    const char* name = which == SramSpeedSetting ? "SramMaxSpeed" : "FlashMaxSpeed";
    return BaudRates[SpeedIndexFromText(key.ReadString(name))];
}

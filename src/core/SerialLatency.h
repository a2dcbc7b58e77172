// Low latency on USB serial adapters. Stop-and-wait pays an adapter's receive latency timer on
// every answer (16 ms by default on Linux's FTDI driver), so a port is asked for low latency
// while it is open, and the timer in force is read back where the system shows it. The calls
// to the driver go through a replaceable set of functions so that tests can see what was asked.
#pragma once

#include <QString>

#include <functional>

struct TSerialLatencyAccess {
    // The driver's serial flags of an open handle; false when the driver has none to give.
    std::function<bool(int handle, int& flags)> GetFlags;
    // Sets them; false when the driver refuses.
    std::function<bool(int handle, int flags)> SetFlags;
    // The text of a system file, or an empty text when it cannot be read.
    std::function<QString(const QString& path)> ReadText;
};

// The driver's own calls; tests install their own, an empty set brings these back.
TSerialLatencyAccess SystemSerialLatencyAccess();
void SetSerialLatencyAccess(TSerialLatencyAccess access);

// What a port's flags were before low latency was asked for.
struct TLowLatencyRestore {
    bool Changed = false;
    int PreviousFlags = 0;
};

// Asks for low latency on an open port. A driver that has no such setting or refuses it is
// left as it is: that is no error.
TLowLatencyRestore RequestLowLatency(int handle);
// Puts back the flags the port had before RequestLowLatency changed them.
void RestoreLatency(int handle, const TLowLatencyRestore& restore);

// The adapter's latency timer in milliseconds as the system reports it for a device
// ("/dev/ttyUSB0", "ttyUSB0"); -1 where it is not known (no USB adapter, another system).
int AdapterLatencyTimerMs(const QString& device);

// Naming a port so that it is found again: by device ("ttyUSB0", "/dev/ttyUSB0", "COM3"), by
// its /dev/serial/by-id name, or by USB selector, "usb:SERIAL" or "usb:VID:PID[:SERIAL]" (ids in
// hex), matched against the ports the system lists when the port is opened. An adapter that
// re-enumerates (ttyUSB0 becomes ttyUSB1) keeps its by-id name and its serial number.
#pragma once

#include "PortList.h"

#include <QString>

struct TPortChoice {
    QString Device; // what to open
    QString Error;  // why the name opens nothing; empty when it does
    bool Ok() const { return Error.isEmpty(); }
};

bool IsUsbSelector(const QString& name);

// The device a port name opens. A USB selector must match exactly one listed port; a bare
// by-id name is taken from /dev/serial/by-id; any other name is the device itself.
TPortChoice ResolvePortName(const QString& name);

// The serial number of the adapter behind a port name, or an empty text when it is not known.
QString PortSerialNumber(const QString& name);

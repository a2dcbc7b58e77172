// The ports the computer offers, before any is opened: the system's serial ports with what it
// knows of each USB adapter, and the simulated boards that announce their ports while they run.
#ifndef KORVEX_PORTLIST_H
#define KORVEX_PORTLIST_H

#include <QString>

#include <functional>
#include <vector>

// A port the port list may offer.
struct TPortCandidate {
    QString Name;        // what goes into the settings text: "COM1", "ttyUSB0", "/dev/pts/3"
    QString Description; // adapter or simulator details for a tooltip; may be empty
    bool Simulated = false;
    QString Board = QString(); // a simulated board's announced name, e.g. "EB40A-flash-boardsim"
    // What the system knows of a USB adapter; empty or -1 when it does not.
    QString ById = QString(); // its /dev/serial/by-id link
    int VendorId = -1;
    int ProductId = -1;
    QString SerialNumber = QString();
    QString Manufacturer = QString();
    QString Product = QString(); // the adapter's own description, "FT232R USB UART"
};

using TPortCandidateSource = std::function<std::vector<TPortCandidate>()>;

// Every port the computer may offer, before probing: COM0..COM11 on Windows; elsewhere the
// ports the system reports, in name order, followed by announced simulated boards.
std::vector<TPortCandidate> SystemPortCandidates();

// The candidates the port list uses: SystemPortCandidates unless a source was installed.
std::vector<TPortCandidate> PortCandidates();

// Replaces the candidate source (tests list pseudo-terminals); an empty function restores the
// system's list.
void SetPortCandidateSource(TPortCandidateSource source);

// Whether a serial device opens right now; it is closed again at once.
bool SerialDeviceOpens(const QString& device);

// The candidates that open right now, in candidate order.
std::vector<TPortCandidate> AvailablePorts();

// The folder in which simulated boards announce their ports while they run.
QString AnnouncedPortsFolder();

// Announced simulated ports whose simulator is still running, in name order.
std::vector<TPortCandidate> AnnouncedPorts();

// Whether an announcement link "<label>-<process id>" to the device belongs to a simulator that
// still runs: the process exists and, where the system lets us look, still holds the device
// open. A link left by a killed simulator whose process id now belongs to another program is
// stale too.
bool AnnouncementIsLive(const QString& linkName, const QString& device);

// The device's path as the system names it: "ttyUSB0" is /dev/ttyUSB0 (on Windows, COM3 as it is).
QString DevicePath(const QString& device);

// The folder of the system's stable names for USB serial adapters, /dev/serial/by-id unless
// another was set.
QString SerialByIdFolder();

// Replaces that folder (tests make their own links to pseudo-terminals); an empty text restores
// the system's.
void SetSerialByIdFolder(const QString& folder);

// The /dev/serial/by-id link to a device ("ttyUSB0" or a path), or an empty text.
QString SerialByIdLink(const QString& device);

#endif

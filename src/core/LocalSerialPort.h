// A serial port on this computer: the device opened exclusively with its line settings and no
// flow control, read and written straight at the driver, and a USB adapter asked for low latency
// while it is open (given back on close).
#ifndef KORVEX_LOCALSERIALPORT_H
#define KORVEX_LOCALSERIALPORT_H

#include "ByteLine.h"
#include "PortClaim.h"
#include "SerialLatency.h"

#include <memory>

class QSerialPort;

class TLocalSerialPort final : public TByteLine {
public:
    TLocalSerialPort();
    ~TLocalSerialPort() override;
    TLocalSerialPort(const TLocalSerialPort&) = delete;
    TLocalSerialPort& operator=(const TLocalSerialPort&) = delete;

    // Resolves a by-id name or USB selector now (the adapter may have moved since), opens the
    // device and sets its line. A device another program holds is refused as busy, for root
    // too; while open, the port holds the same locks against others. Opens at once or not at
    // all: nothing to wait for.
    bool Open(const TPortSettings& line, const TOpenWait& wait) override;
    int Receive(char* bytes, int count, int timeoutMs) override;
    bool Drain(int timeoutMs, const THook& waitHook) override;
    bool Send(const char* data, unsigned count, int timeoutMs, const THook& waitHook) override;
    bool WaitSent(int timeoutMs, const THook& waitHook) override;
    qint64 PendingOutput() const override;
    int Purge() override;
    bool CheckLost() override;
    QString Error() const override { return ErrorText; }
    TLineAbilities Abilities() const override;

private:
    // Claims the device and names it for the serial port library; false with ErrorText set
    // when another program holds it.
    bool ClaimDevice(const TPortSettings& line, const QString& resolved, QString& portName);

    TPortClaim Claim;                  // released after the port closed
    std::unique_ptr<QSerialPort> Port; // null until opened
    QString ErrorText;
    bool Gone = false;
    TLowLatencyRestore LatencyRestore;
    int LatencyTimer = -1;
};

#endif

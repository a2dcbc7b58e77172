#include "PortSelector.h"

#include <QFileInfo>
#include <QStringList>

#include <vector>

namespace {

struct TUsbSelector {
    int VendorId = -1; // -1: any
    int ProductId = -1;
    QString Serial; // empty: any
};

// A USB id of one to four hex digits.
bool ParseUsbId(const QString& text, int& id) {
    bool hex = false;
    id = text.toInt(&hex, 16);
    return hex && !text.isEmpty() && text.size() <= 4 && !text.startsWith(QLatin1Char('+')) &&
           !text.startsWith(QLatin1Char('-'));
}

bool ParseSelector(const QString& name, TUsbSelector& selector) {
    const QStringList fields = name.mid(4).split(QLatin1Char(':'));
    if (fields.size() == 1) {
        selector.Serial = fields[0];
        return !selector.Serial.isEmpty();
    }
    if (fields.size() > 3 || !ParseUsbId(fields[0], selector.VendorId) ||
        !ParseUsbId(fields[1], selector.ProductId))
        return false;
    selector.Serial = fields.size() == 3 ? fields[2] : QString();
    return fields.size() == 2 || !selector.Serial.isEmpty();
}

bool Matches(const TUsbSelector& selector, const TPortCandidate& port) {
    return (selector.VendorId < 0 || port.VendorId == selector.VendorId) &&
           (selector.ProductId < 0 || port.ProductId == selector.ProductId) &&
           (selector.Serial.isEmpty() || port.SerialNumber == selector.Serial);
}

TPortChoice ResolveSelector(const QString& name) {
    TPortChoice choice;
    TUsbSelector selector;
    if (!ParseSelector(name, selector)) {
        choice.Error = QStringLiteral("%1 is no USB selector: give usb:SERIAL or "
                                      "usb:VID:PID[:SERIAL], the ids in hex (usb:0403:6001).")
                           .arg(name);
        return choice;
    }
    std::vector<TPortCandidate> found;
    for (const TPortCandidate& port : PortCandidates())
        if (!port.Simulated && Matches(selector, port))
            found.push_back(port);
    if (found.size() == 1) {
        choice.Device = found.front().Name;
        return choice;
    }
    if (found.empty()) {
        choice.Error = QStringLiteral("No USB serial adapter matches %1: is it plugged in? "
                                      "'korvex-cli ports' lists the adapters.")
                           .arg(name);
        return choice;
    }
    QStringList listed;
    for (const TPortCandidate& port : found)
        listed << (port.SerialNumber.isEmpty()
                       ? port.Name
                       : QStringLiteral("%1 (serial %2)").arg(port.Name, port.SerialNumber));
    choice.Error = QStringLiteral("%1 matches several adapters: %2. Name one by its serial "
                                  "number (usb:VID:PID:SERIAL) or its device.")
                       .arg(name, listed.join(QStringLiteral(", ")));
    return choice;
}

} // namespace

bool IsUsbSelector(const QString& name) {
    return name.startsWith(QLatin1String("usb:"), Qt::CaseInsensitive);
}

TPortChoice ResolvePortName(const QString& name) {
    if (IsUsbSelector(name))
        return ResolveSelector(name);
    TPortChoice choice;
    choice.Device = name;
    // "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0" as ls /dev/serial/by-id shows it.
    const QString byId = SerialByIdFolder() + QLatin1Char('/') + name;
    if (!name.contains(QLatin1Char('/')) && !QFileInfo::exists(DevicePath(name)) &&
        QFileInfo(byId).isSymLink())
        choice.Device = byId;
    return choice;
}

QString PortSerialNumber(const QString& name) {
    const TPortChoice choice = ResolvePortName(name);
    if (!choice.Ok())
        return QString();
    const QString target = QFileInfo(DevicePath(choice.Device)).canonicalFilePath();
    for (const TPortCandidate& port : PortCandidates()) {
        if (port.Name == choice.Device ||
            (!target.isEmpty() && QFileInfo(DevicePath(port.Name)).canonicalFilePath() == target))
            return port.SerialNumber;
    }
    return QString();
}

// korvex-cli ports [--all] [--json]: the serial ports the loader would offer, simulated boards
// included, with what the system knows of each adapter.
#include "CliBoards.h"
#include "CliCommand.h"
#include "CliConsole.h"
#include "Comm.h"
#include "PortList.h"
#include "PortPolling.h"
#include "PortSelector.h"
#include "StationBook.h"

#include <CLI/CLI.hpp>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace {

QJsonValue TextOrNull(const QString& text) {
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

QJsonValue UsbIdOrNull(int id) {
    return id < 0 ? QJsonValue()
                  : QJsonValue(QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0')));
}

// One object a line, as the board commands print theirs; with --watch the event first.
void PrintPortJson(const TPortCandidate& port, bool busy, const char* event = nullptr) {
    QJsonObject entry{
        {"device", port.Name},
        {"by_id", TextOrNull(port.ById)},
        {"vendor_id", UsbIdOrNull(port.VendorId)},
        {"product_id", UsbIdOrNull(port.ProductId)},
        {"serial_number", TextOrNull(port.SerialNumber)},
        {"manufacturer", TextOrNull(port.Manufacturer)},
        {"description", TextOrNull(port.Simulated ? port.Description : port.Product)},
        {"busy", busy},
    };
    if (event)
        entry.insert("event", event);
    std::printf("%s\n", QJsonDocument(entry).toJson(QJsonDocument::Compact).constData());
}

// A port that does not open although its device is there and ours to use: another program
// holds it.
bool HeldByAnother(const QString& device) {
#ifdef _WIN32
    (void)device;
    return false;
#else
    const QFileInfo file(DevicePath(device));
    return file.exists() && file.isReadable() && file.isWritable();
#endif
}

// mark: empty for a port that opens, else why it does not.
void PrintPortText(const TPortCandidate& port, const QString& mark) {
    QString details = port.Description;
    if (!mark.isEmpty())
        details = details.isEmpty() ? mark : details + QLatin1Char(' ') + mark;
    // Simulated boards are listed under the name they announce: it could steer the terminal.
    const std::string name = EscapeControlCharacters(port.Name.toLocal8Bit().toStdString());
    const std::string shown = EscapeControlCharacters(details.toLocal8Bit().toStdString());
    if (shown.empty())
        std::printf("%s\n", name.c_str());
    else
        std::printf("%-16s  %s\n", name.c_str(), shown.c_str());
    // The name that stays when the adapter is plugged in elsewhere.
    if (!port.ById.isEmpty())
        std::printf("%-16s  %s\n", "",
                    EscapeControlCharacters(port.ById.toLocal8Bit().toStdString()).c_str());
}

int RunPorts(bool all, bool json) {
    int listed = 0;
    for (const TPortCandidate& port : PortCandidates()) {
        const bool opens = TComms::PortExists(port.Name.toLocal8Bit().constData());
        const bool busy = !opens && HeldByAnother(port.Name);
        if (!opens && !busy && !all)
            continue;
        if (json)
            PrintPortJson(port, busy);
        else
            PrintPortText(port, busy    ? QStringLiteral("(busy)")
                                : opens ? QString()
                                        : QStringLiteral("(cannot be opened now)"));
        ++listed;
    }
    std::fflush(stdout);
    if (listed == 0) {
        PrintCliError("No serial ports found on this computer.");
        return CliExitFailure;
    }
    return CliExitOk;
}

// --watch: each port as it goes away ("-"), shows other details ("~") and appears ("+"), the
// ports already there first, until Ctrl+C.
void PrintWatchEvent(const TPortCandidate& port, const char* event, bool json) {
    if (json) {
        PrintPortJson(port, false, event);
    } else if (event[0] == 'g') {
        std::printf("- %s\n",
                    EscapeControlCharacters(port.Name.toLocal8Bit().toStdString()).c_str());
    } else {
        std::printf("%s ", event[0] == 'c' ? "~" : "+");
        PrintPortText(port, QString());
    }
}

int WatchPorts(bool json) {
    InstallInterruptHandler();
    TPortWatcher watcher;
    while (!InterruptRequested()) {
        const TPortChanges changes = watcher.Update(PortCandidates());
        for (const TPortCandidate& port : changes.Gone)
            PrintWatchEvent(port, "gone", json);
        for (const TPortCandidate& port : changes.Changed)
            PrintWatchEvent(port, "changed", json);
        for (const TPortCandidate& port : changes.Appeared)
            PrintWatchEvent(port, "appeared", json);
        if (std::fflush(stdout) != 0)
            return CliExitFailure;
        WaitForPortChange();
    }
    return CliExitOk;
}

} // namespace

void AddPortsCommand(TCliCommands& commands) {
    auto all = std::make_shared<bool>(false);
    auto json = std::make_shared<bool>(false);
    auto watch = std::make_shared<bool>(false);
    CLI::App* command = commands.Add(
        {"ports", "[--all] [--json] [--watch]", "list the serial ports a board can be reached on",
         "Lists the serial ports that can be opened now, and those another program holds,\n"
         "marked (busy), one a line: the name to give as the port, then what is known of the\n"
         "adapter, and its /dev/serial/by-id name on a line of its own. Any of these names a port\n"
         "for --port, as does usb:SERIAL or usb:VID:PID[:SERIAL] (ids in hex): such a name\n"
         "finds the adapter again after it was plugged in elsewhere. Simulated boards started with "
         "korvex-boardsim are listed\n"
         "after the real ports. Fails when there is none.\n"},
        [all, json, watch] { return *watch ? WatchPorts(*json) : RunPorts(*all, *json); });
    command->add_flag("-a,--all", *all,
                      "also list the ports that cannot be opened for another reason (no access, "
                      "missing)");
    command->add_flag("--json", *json,
                      "one JSON object per port: device, by_id, vendor_id, product_id, "
                      "serial_number, manufacturer, description, busy (null when unknown)");
    command->add_flag("-w,--watch", *watch,
                      "print each port as it goes away (-), appears (+) or shows other details "
                      "such as a by-id link made after it (~), until Ctrl+C; with --json an "
                      "\"event\" of \"gone\", \"appeared\" or \"changed\"");
}

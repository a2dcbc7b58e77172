#include "StationBook.h"

#include "CliConsole.h"
#include "MonitorMessages.h"

#include "PortSelector.h"

#include <QFile>
#include <QJsonObject>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <cstdio>

namespace {

// One set of brackets at text[0]; the length of the set in the pattern, 0 when it has no end.
size_t MatchSet(const std::string& pattern, size_t at, char ch, bool& matched) {
    size_t i = at + 1;
    const bool negated = i < pattern.size() && pattern[i] == '!';
    if (negated)
        ++i;
    matched = false;
    for (bool first = true; i < pattern.size() && (first || pattern[i] != ']'); first = false) {
        if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
            matched |= ch >= pattern[i] && ch <= pattern[i + 2];
            i += 3;
        } else {
            matched |= ch == pattern[i++];
        }
    }
    if (i >= pattern.size())
        return 0;
    matched ^= negated;
    return i + 1 - at;
}

std::string UsbId(int id) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", id & 0xFFFF);
    return text;
}

std::string Local(const QString& text) {
    return text.toLocal8Bit().toStdString();
}

} // namespace

bool GlobMatch(const std::string& pattern, const std::string& text) {
    size_t p = 0, t = 0, starP = std::string::npos, starT = 0;
    while (t < text.size()) {
        bool matched = false;
        size_t step = 1;
        if (p < pattern.size() && pattern[p] == '[') {
            step = MatchSet(pattern, p, text[t], matched);
            if (step == 0) { // an unclosed bracket stands for itself
                step = 1;
                matched = text[t] == '[';
            }
        } else if (p < pattern.size() && pattern[p] != '*') {
            matched = pattern[p] == '?' || pattern[p] == text[t];
        }
        if (matched) {
            p += step;
            ++t;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starT = t;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

std::vector<std::string> PortNamesOf(const TPortCandidate& port) {
    std::vector<std::string> names{Local(port.Name)};
    if (!port.Name.startsWith(QLatin1Char('/')))
        names.push_back("/dev/" + Local(port.Name));
    if (!port.ById.isEmpty()) {
        names.push_back(Local(port.ById));
        names.push_back(Local(port.ById.mid(port.ById.lastIndexOf(QLatin1Char('/')) + 1)));
    }
    const std::string serial = Local(port.SerialNumber);
    if (!serial.empty())
        names.push_back("usb:" + serial);
    if (port.VendorId >= 0 && port.ProductId >= 0) {
        const std::string ids = "usb:" + UsbId(port.VendorId) + ":" + UsbId(port.ProductId);
        names.push_back(ids);
        if (!serial.empty())
            names.push_back(ids + ":" + serial);
    }
    return names;
}

bool PortMatches(const std::string& pattern, const TPortCandidate& port) {
    const std::vector<std::string> names = PortNamesOf(port);
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& name) { return GlobMatch(pattern, name); });
}

uint64_t DeviceNodeIdentity(const TPortCandidate& port) {
#ifdef _WIN32
    (void)port;
    return 0;
#else
    struct stat node {};
    const QByteArray path = QFile::encodeName(DevicePath(port.Name));
    return ::stat(path.constData(), &node) == 0 ? static_cast<uint64_t>(node.st_ino) : 0;
#endif
}

TPortChanges TPortWatcher::Update(const std::vector<TPortCandidate>& ports) {
    const auto sameDetails = [](const TPortCandidate& a, const TPortCandidate& b) {
        return a.Board == b.Board && a.Description == b.Description &&
               a.SerialNumber == b.SerialNumber && a.ById == b.ById && a.VendorId == b.VendorId &&
               a.ProductId == b.ProductId && a.Manufacturer == b.Manufacturer &&
               a.Product == b.Product;
    };
    std::vector<TKnownPort> now;
    for (const TPortCandidate& port : ports)
        now.push_back({port, Identity ? Identity(port) : 0});
    // The same node: the same name, and no other node behind it where both are known.
    const auto sameNode = [](const TKnownPort& a, const TKnownPort& b) {
        return a.Port.Name == b.Port.Name && (a.Node == 0 || b.Node == 0 || a.Node == b.Node);
    };
    const auto find = [&](const std::vector<TKnownPort>& list, const TKnownPort& port) {
        return std::find_if(list.begin(), list.end(),
                            [&](const TKnownPort& other) { return sameNode(port, other); });
    };
    TPortChanges changes;
    for (const TKnownPort& old : Known)
        if (find(now, old) == now.end())
            changes.Gone.push_back(old.Port);
    for (TKnownPort& port : now) {
        const auto old = find(Known, port);
        if (old == Known.end()) {
            changes.Appeared.push_back(port.Port);
            continue;
        }
        if (!sameDetails(old->Port, port.Port))
            changes.Changed.push_back(port.Port);
        if (port.Node == 0) // a look that could not tell keeps what the last one knew
            port.Node = old->Node;
    }
    Known = std::move(now);
    return changes;
}

void TStationBook::AlreadyThere(const std::string& port) {
    Attached.insert(port);
}

bool TStationBook::Start(const std::string& port) {
    if (CountReached())
        return false;
    ++Started;
    Busy.insert(port);
    return true;
}

bool TStationBook::Appeared(const std::string& port) {
    if (!Attached.insert(port).second)
        return false;
    if (Busy.count(port)) {
        Deferred.insert(port);
        return false;
    }
    return Start(port);
}

void TStationBook::Gone(const std::string& port) {
    Attached.erase(port);
    Deferred.erase(port);
    Served.erase(port);
}

bool TStationBook::Finished(const std::string& port, TBoardOutcome outcome, int64_t bytes,
                            double seconds) {
    Busy.erase(port);
    if (Attached.count(port))
        Served.insert(port);
    ++Tally[static_cast<int>(outcome)];
    if (outcome == TBoardOutcome::Done && seconds > 0)
        LastRate = bytes > 0 ? static_cast<double>(bytes) / 1024.0 / seconds : 0;
    return Deferred.erase(port) > 0 && Attached.count(port) && Start(port);
}

int TStationBook::Waiting() const {
    return static_cast<int>(std::count_if(Served.begin(), Served.end(), [this](const auto& port) {
        return !Busy.count(port) && !Deferred.count(port);
    }));
}

std::string TStationBook::StatusText() const {
    std::string text = FormatText("%d waiting, %d in progress, %d passed, %d failed", Waiting(),
                                  InProgress(), Passed(), Failed());
    if (LastRate > 0)
        text += FormatText("; last board %.1f KB/s", LastRate);
    else if (LastRate == 0) // every sector already held the image
        text += "; last board unchanged";
    return text;
}

std::string TStationBook::TallyText() const {
    return FormatText("Passed: %d, failed: %d, interrupted: %d.", Passed(), Failed(),
                      Interrupted());
}

std::string TStationBook::TallyJson(double seconds) const {
    TJsonFields json;
    json.AddString("operation", "station");
    json.AddNumber("passed", static_cast<int64_t>(Passed()));
    json.AddNumber("failed", static_cast<int64_t>(Failed()));
    json.AddNumber("interrupted", static_cast<int64_t>(Interrupted()));
    json.AddNumber("seconds", seconds, 3);
    return json.Text();
}

int TStationBook::ExitCode(int interruptedCode) const {
    if (Failed() > 0)
        return CliExitFailure;
    return Interrupted() > 0 ? interruptedCode : CliExitOk;
}

std::string FinishedBoardLine(const std::string& port, const std::string& serial,
                              TBoardOutcome outcome, double seconds, const std::string& reason,
                              int64_t number) {
    std::string line = port + (serial.empty() ? "" : " (serial " + serial + ")") +
                       (number < 0 ? "" : ", serial number " + std::to_string(number)) + ": ";
    switch (outcome) {
    case TBoardOutcome::Done:
        return line + FormatText("passed in %.1f s", seconds);
    case TBoardOutcome::Failed:
        return line + FormatText("FAILED in %.1f s: ", seconds) + OneLine(reason);
    case TBoardOutcome::Interrupted:
        break;
    }
    return line + FormatText("interrupted after %.1f s", seconds);
}

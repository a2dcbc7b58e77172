#include "FlashLedger.h"

#include "Ebdata.h"
#include "HexText.h"
#include "Misc.h"
#include "PortSelector.h"
#include "Settings.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <map>
#include <mutex>

namespace {

constexpr int LedgerFormat = 1;
constexpr int LockWaitMs = 10000;
// A ledger holds a line or two per sector: one larger than this is nothing Korvex wrote.
constexpr qint64 MaxLedgerBytes = 1024 * 1024;

QJsonObject KeyJson(const TLedgerKey& key) {
    QJsonObject json;
    json["port"] = QString::fromStdString(key.Port);
    json["chip_type"] = key.Identity.ChipType;
    json["flash_code"] = key.Identity.FlashCode;
    json["version"] = key.Identity.Version;
    json["base_address"] = static_cast<qint64>(key.Identity.BaseAddress);
    json["layout"] = QString::fromStdString(key.Layout);
    return json;
}

bool IsSha256Hex(const QString& text) {
    if (text.size() != 64)
        return false;
    return std::all_of(text.begin(), text.end(), [](QChar ch) {
        return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f');
    });
}

// The root object of a ledger file's text; false with the reason when it is no ledger.
bool LedgerRoot(const QByteArray& text, QJsonObject& root, std::string& warning) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        warning = "it does not parse";
        return false;
    }
    root = document.object();
    if (root["format"].toInt() != LedgerFormat || !root["sectors"].isArray()) {
        warning = "its format is unknown";
        return false;
    }
    return true;
}

bool LedgerSectors(const QJsonObject& root, std::vector<TLedgerEntry>& entries,
                   std::string& warning) {
    for (const QJsonValue& value : root["sectors"].toArray()) {
        const QJsonObject sector = value.toObject();
        const qint64 start = sector["start"].toInteger(-1);
        const qint64 length = sector["length"].toInteger(-1);
        const QString sha = sector["sha256"].toString();
        if (start < 0 || start > 0xFFFFFFFFLL || length <= 0 || length > 0xFFFFFFFFLL ||
            !IsSha256Hex(sha)) {
            warning = "a sector entry is malformed";
            entries.clear();
            return false;
        }
        entries.push_back(
            {static_cast<uint32_t>(start), static_cast<uint32_t>(length), sha.toStdString()});
    }
    return true;
}

// The entries of a ledger file's text; false when it is not a ledger of this key, with the
// reason in warning when it is no well-formed ledger at all.
bool ParseLedger(const QByteArray& text, const TLedgerKey& key, std::vector<TLedgerEntry>& entries,
                 std::string& warning) {
    QJsonObject root;
    if (!LedgerRoot(text, root, warning))
        return false;
    // A file named after another key (a name collision) is simply not this board's.
    if (root["key"].toObject() != KeyJson(key))
        return false;
    return LedgerSectors(root, entries, warning);
}

enum class TFileRead { Missing, Read, Refused, Unreadable };

// The text of a ledger file or its note. A symbolic link is not followed (its target is no
// file of ours, to trust or to overwrite) and a file larger than any ledger is not read: both
// are Refused with the reason.
TFileRead ReadLedgerFile(const QString& path, QByteArray& text, std::string& why) {
    const QFileInfo info(path);
    if (info.isSymLink()) {
        why = "it is a symbolic link";
        return TFileRead::Refused;
    }
    if (!info.exists())
        return TFileRead::Missing;
    QFile file(path);
    if (info.size() <= MaxLedgerBytes && !file.open(QIODevice::ReadOnly)) {
        why = file.errorString().toStdString();
        return TFileRead::Unreadable;
    }
    // Read no further than the limit: the file may have grown since.
    text = file.isOpen() ? file.read(MaxLedgerBytes + 1) : QByteArray();
    if (info.size() > MaxLedgerBytes || text.size() > MaxLedgerBytes) {
        why = "it is larger than 1 MiB";
        return TFileRead::Refused;
    }
    return TFileRead::Read;
}

// A link where a ledger file is written is removed first: the new file takes its place and the
// link's target stays as it was.
void ReplaceLink(const QString& path) {
    if (QFileInfo(path).isSymLink())
        QFile::remove(path);
}

QString PendingPath(const QString& ledgerPath) {
    return ledgerPath + ".pending";
}

// The sector starts a programming began on; a note that cannot be trusted counts as every
// sector (false), with the reason in why when it was refused.
bool ReadPending(const QString& ledgerPath, std::vector<uint32_t>& starts, std::string& why) {
    QByteArray text;
    const TFileRead read = ReadLedgerFile(PendingPath(ledgerPath), text, why);
    if (read != TFileRead::Read) {
        if (read == TFileRead::Unreadable)
            why.clear();
        return read == TFileRead::Missing;
    }
    const QJsonDocument document = QJsonDocument::fromJson(text);
    if (!document.isArray())
        return false;
    for (const QJsonValue& value : document.array())
        starts.push_back(static_cast<uint32_t>(value.toInteger()));
    return true;
}

} // namespace

std::string StablePortName(const std::string& device) {
    // The window names a port as the system lists it ("ttyUSB0"), the command line by path,
    // by-id name or USB selector: each way leads to the one device, and so to one name.
    const TPortChoice choice = ResolvePortName(QString::fromStdString(device));
    if (!choice.Ok())
        return device;
    const QString path = DevicePath(choice.Device);
    const QString byId = SerialByIdLink(path);
    if (!byId.isEmpty())
        return byId.toStdString();
    const QString target = QFileInfo(path).canonicalFilePath();
    return target.isEmpty() ? device : target.toStdString();
}

std::string SectorLayoutText(const TEBData& type) {
    std::string text;
    for (int i = 0; i < type.GetSectorCount(); ++i) {
        const TSectData& sector = type.GetSector(i);
        if (!text.empty())
            text += ',';
        text += std::string(AddrToHex(static_cast<uint32_t>(sector.Start))()) + "+" +
                std::to_string(sector.Length);
    }
    return text;
}

TLedgerKey MakeLedgerKey(const std::string& device, const TMonitorIdentity& identity,
                         const TEBData& type) {
    TLedgerKey key;
    key.Port = StablePortName(device);
    key.Identity = identity;
    // The clock divisor follows the link speed, not the board: it stays out of the key.
    key.Identity.ClockDivisor = 0;
    key.Layout = SectorLayoutText(type);
    return key;
}

QString LedgerFolder() {
    // The window's AppLocalDataLocation; korvex-cli carries another application name.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/" +
           QString::fromLatin1(MsgBoxCaption) + "/ledger";
}

QString LedgerPath(const TLedgerKey& key) {
    const QByteArray keyText = QJsonDocument(KeyJson(key)).toJson(QJsonDocument::Compact);
    const QByteArray name =
        QCryptographicHash::hash(keyText, QCryptographicHash::Sha256).toHex().left(32);
    return LedgerFolder() + "/" + QString::fromLatin1(name) + ".json";
}

namespace {

std::string IgnoredWarning(const QString& path, const std::string& why) {
    return "The flash ledger " + path.toStdString() + " is ignored: " + why +
           "; every sector is written.";
}

} // namespace

TLedgerRead ReadLedger(const TLedgerKey& key) {
    TLedgerRead read;
    const QString path = LedgerPath(key);
    QByteArray text;
    std::string why;
    switch (ReadLedgerFile(path, text, why)) {
    case TFileRead::Missing:
        return read;
    case TFileRead::Refused:
        read.Warning = IgnoredWarning(path, why);
        return read;
    case TFileRead::Unreadable:
        read.Warning = "The flash ledger " + path.toStdString() + " cannot be read (" + why +
                       "); every sector is written.";
        return read;
    case TFileRead::Read:
        break;
    }
    if (!ParseLedger(text, key, read.Entries, why) && !why.empty())
        read.Warning = IgnoredWarning(path, why);
    std::vector<uint32_t> pending;
    why.clear();
    if (!ReadPending(path, pending, why)) {
        read.Entries.clear();
        if (!why.empty())
            read.Warning = IgnoredWarning(PendingPath(path), why);
    }
    read.Entries.erase(std::remove_if(read.Entries.begin(), read.Entries.end(),
                                      [&pending](const TLedgerEntry& entry) {
                                          return std::find(pending.begin(), pending.end(),
                                                           entry.Start) != pending.end();
                                      }),
                       read.Entries.end());
    return read;
}

namespace {

// Says why the ledger file at path was not written; always false.
bool LedgerWriteFailed(const QString& path, const QString& reason, std::string* error) {
    if (error)
        *error = "The flash ledger " + path.toStdString() +
                 " could not be written: " + reason.toStdString();
    return false;
}

} // namespace

namespace {

// The entries a ledger file at path holds for key, less those of pending sectors. A corrupt
// ledger is dropped whole rather than partly trusted.
std::map<uint32_t, TLedgerEntry> KeptEntries(const TLedgerKey& key, const QString& path) {
    std::map<uint32_t, TLedgerEntry> kept;
    QByteArray text;
    std::vector<TLedgerEntry> entries;
    std::string ignored;
    if (ReadLedgerFile(path, text, ignored) == TFileRead::Read &&
        ParseLedger(text, key, entries, ignored))
        for (const TLedgerEntry& entry : entries)
            kept[entry.Start] = entry;
    // Sectors a programming began on and did not finish lose their entries for good.
    std::vector<uint32_t> pending;
    if (!ReadPending(path, pending, ignored))
        kept.clear();
    for (uint32_t start : pending)
        kept.erase(start);
    return kept;
}

// Adds entries to merged: each replaces those of the same start and those it overlaps.
void MergeEntries(std::map<uint32_t, TLedgerEntry>& merged,
                  const std::vector<TLedgerEntry>& entries) {
    for (const TLedgerEntry& entry : entries) {
        for (auto it = merged.begin(); it != merged.end();) {
            const uint64_t oldEnd = uint64_t{it->second.Start} + it->second.Length;
            const uint64_t newEnd = uint64_t{entry.Start} + entry.Length;
            if (it->second.Start < newEnd && entry.Start < oldEnd)
                it = merged.erase(it);
            else
                ++it;
        }
        merged[entry.Start] = entry;
    }
}

QByteArray LedgerText(const TLedgerKey& key, const std::map<uint32_t, TLedgerEntry>& entries) {
    QJsonArray sectors;
    for (const auto& [start, entry] : entries) {
        QJsonObject sector;
        sector["start"] = static_cast<qint64>(entry.Start);
        sector["length"] = static_cast<qint64>(entry.Length);
        sector["sha256"] = QString::fromStdString(entry.Sha256);
        sectors.append(sector);
    }
    QJsonObject root;
    root["format"] = LedgerFormat;
    root["key"] = KeyJson(key);
    root["sectors"] = sectors;
    return QJsonDocument(root).toJson();
}

} // namespace

bool RecordLedger(const TLedgerKey& key, const std::vector<TLedgerEntry>& entries,
                  std::string* error) {
    const QString path = LedgerPath(key);
    const auto fail = [error, &path](const QString& reason) {
        return LedgerWriteFailed(path, reason, error);
    };
    if (!QDir().mkpath(LedgerFolder()))
        return fail("the folder cannot be made");
    // Read, merge and replace under one lock: another board's programming on the same port
    // must not lose these sectors, nor these its own.
    QLockFile lock(path + ".lock");
    if (!lock.tryLock(LockWaitMs))
        return fail("it stays locked by another program");
    std::map<uint32_t, TLedgerEntry> merged = KeptEntries(key, path);
    MergeEntries(merged, entries);
    ReplaceLink(path);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    file.write(LedgerText(key, merged));
    if (!file.commit())
        return fail(file.errorString());
    QFile::remove(PendingPath(path));
    return true;
}

namespace {

// The starts of every entry of the ledger file at path, whichever board's it is; none when it
// is no ledger to trust anyway.
std::vector<uint32_t> EntryStarts(const QString& path) {
    QByteArray text;
    QJsonObject root;
    std::vector<TLedgerEntry> entries;
    std::string ignored;
    if (ReadLedgerFile(path, text, ignored) == TFileRead::Read && LedgerRoot(text, root, ignored))
        LedgerSectors(root, entries, ignored);
    std::vector<uint32_t> starts;
    for (const TLedgerEntry& entry : entries)
        starts.push_back(entry.Start);
    return starts;
}

// Adds sector starts to the pending note of the ledger file at ledgerPath.
bool MarkPending(const QString& ledgerPath, const std::vector<uint32_t>& sectorStarts,
                 std::string* error) {
    const QString path = PendingPath(ledgerPath);
    const auto fail = [error, &path](const QString& reason) {
        return LedgerWriteFailed(path, reason, error);
    };
    if (!QDir().mkpath(LedgerFolder()))
        return fail("the folder cannot be made");
    QLockFile lock(ledgerPath + ".lock");
    if (!lock.tryLock(LockWaitMs))
        return fail("it stays locked by another program");
    std::vector<uint32_t> starts;
    std::string ignored;
    // A note that cannot be trusted stood for every sector: the new one names them all.
    if (!ReadPending(ledgerPath, starts, ignored))
        starts = EntryStarts(ledgerPath);
    starts.insert(starts.end(), sectorStarts.begin(), sectorStarts.end());
    QJsonArray array;
    for (uint32_t start : starts)
        array.append(static_cast<qint64>(start));
    ReplaceLink(path);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    file.write(QJsonDocument(array).toJson(QJsonDocument::Compact));
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

// The starts of the entries of the ledger file at path that overlap a range, when the ledger
// is one of port; none when it is not, or is no ledger to trust anyway.
std::vector<uint32_t> OverlappedStarts(const QString& path, const QString& port,
                                       const std::vector<TFlashRange>& ranges) {
    QByteArray text;
    QJsonObject root;
    std::vector<TLedgerEntry> entries;
    std::string ignored;
    if (ReadLedgerFile(path, text, ignored) != TFileRead::Read ||
        !LedgerRoot(text, root, ignored) || root["key"].toObject()["port"].toString() != port ||
        !LedgerSectors(root, entries, ignored))
        return {};
    std::vector<uint32_t> starts;
    for (const TLedgerEntry& entry : entries)
        for (const TFlashRange& range : ranges)
            if (entry.Start < uint64_t{range.Start} + range.Length &&
                range.Start < uint64_t{entry.Start} + entry.Length) {
                starts.push_back(entry.Start);
                break;
            }
    return starts;
}

} // namespace

bool MarkLedgerPending(const TLedgerKey& key, const std::vector<uint32_t>& sectorStarts,
                       std::string* error) {
    return MarkPending(LedgerPath(key), sectorStarts, error);
}

bool MarkPortPending(const std::string& device, const std::vector<TFlashRange>& ranges,
                     std::string* error) {
    const QString port = QString::fromStdString(StablePortName(device));
    const QDir folder(LedgerFolder());
    bool marked = true;
    for (const QString& name : folder.entryList({"*.json"}, QDir::Files, QDir::Name)) {
        const QString path = folder.filePath(name);
        const std::vector<uint32_t> starts = OverlappedStarts(path, port, ranges);
        if (!starts.empty() && !MarkPending(path, starts, error))
            marked = false;
    }
    return marked;
}

bool ReadSkipUnchanged() {
    TSettingsKey key;
    return key.IsOpen() && std::string(key.ReadString(SkipUnchangedSetting)()) == "1";
}

namespace {

std::mutex IdentityLock;
std::map<std::string, TMonitorIdentity>& Identities() {
    static std::map<std::string, TMonitorIdentity> identities;
    return identities;
}

} // namespace

void RememberBoardIdentity(const std::string& port, const TMonitorIdentity& identity) {
    std::lock_guard<std::mutex> lock(IdentityLock);
    Identities()[port] = identity;
}

bool RememberedBoardIdentity(const std::string& port, TMonitorIdentity& identity) {
    std::lock_guard<std::mutex> lock(IdentityLock);
    const auto found = Identities().find(port);
    if (found == Identities().end())
        return false;
    identity = found->second;
    return true;
}

#include "FlashLedger.h"

#include "Ebdata.h"
#include "HexText.h"
#include "Misc.h"
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

// The entries of a ledger file's text; false when it is not a ledger of this key, with the
// reason in warning when it is no well-formed ledger at all.
bool ParseLedger(const QByteArray& text, const TLedgerKey& key, std::vector<TLedgerEntry>& entries,
                 std::string& warning) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        warning = "it does not parse";
        return false;
    }
    const QJsonObject root = document.object();
    if (root["format"].toInt() != LedgerFormat || !root["sectors"].isArray()) {
        warning = "its format is unknown";
        return false;
    }
    // A file named after another key (a name collision) is simply not this board's.
    if (root["key"].toObject() != KeyJson(key))
        return false;
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

QString PendingPath(const TLedgerKey& key) {
    return LedgerPath(key) + ".pending";
}

// The sector starts a programming began on; unreadable text counts as every sector.
bool ReadPending(const TLedgerKey& key, std::vector<uint32_t>& starts) {
    QFile file(PendingPath(key));
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    if (!document.isArray())
        return false;
    for (const QJsonValue& value : document.array())
        starts.push_back(static_cast<uint32_t>(value.toInteger()));
    return true;
}

} // namespace

std::string StablePortName(const std::string& device) {
    const QString target = QFileInfo(QString::fromStdString(device)).canonicalFilePath();
    if (target.isEmpty())
        return device;
    QDir links("/dev/serial/by-id");
    const QFileInfoList entries =
        links.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& link : entries)
        if (link.isSymLink() && link.canonicalFilePath() == target)
            return link.absoluteFilePath().toStdString();
    return device;
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

TLedgerRead ReadLedger(const TLedgerKey& key) {
    TLedgerRead read;
    QFile file(LedgerPath(key));
    if (!file.exists())
        return read;
    if (!file.open(QIODevice::ReadOnly)) {
        read.Warning = "The flash ledger " + file.fileName().toStdString() + " cannot be read (" +
                       file.errorString().toStdString() + "); every sector is written.";
        return read;
    }
    std::string why;
    if (!ParseLedger(file.readAll(), key, read.Entries, why) && !why.empty())
        read.Warning = "The flash ledger " + file.fileName().toStdString() + " is ignored: " + why +
                       "; every sector is written.";
    std::vector<uint32_t> pending;
    if (!ReadPending(key, pending))
        read.Entries.clear();
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
    QFile old(path);
    if (old.open(QIODevice::ReadOnly)) {
        std::vector<TLedgerEntry> entries;
        std::string ignored;
        if (ParseLedger(old.readAll(), key, entries, ignored))
            for (const TLedgerEntry& entry : entries)
                kept[entry.Start] = entry;
    }
    // Sectors a programming began on and did not finish lose their entries for good.
    std::vector<uint32_t> pending;
    if (!ReadPending(key, pending))
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
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    file.write(LedgerText(key, merged));
    if (!file.commit())
        return fail(file.errorString());
    QFile::remove(PendingPath(key));
    return true;
}

bool MarkLedgerPending(const TLedgerKey& key, const std::vector<uint32_t>& sectorStarts,
                       std::string* error) {
    const QString path = PendingPath(key);
    const auto fail = [error, &path](const QString& reason) {
        return LedgerWriteFailed(path, reason, error);
    };
    if (!QDir().mkpath(LedgerFolder()))
        return fail("the folder cannot be made");
    QLockFile lock(LedgerPath(key) + ".lock");
    if (!lock.tryLock(LockWaitMs))
        return fail("it stays locked by another program");
    std::vector<uint32_t> starts;
    ReadPending(key, starts);
    starts.insert(starts.end(), sectorStarts.begin(), sectorStarts.end());
    QJsonArray array;
    for (uint32_t start : starts)
        array.append(static_cast<qint64>(start));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    file.write(QJsonDocument(array).toJson(QJsonDocument::Compact));
    if (!file.commit())
        return fail(file.errorString());
    return true;
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

#include "ProgramPlan.h"

#include "Ebdata.h"
#include "HexText.h"
#include "MonitorMessages.h"

#include <QCryptographicHash>

#include <algorithm>

namespace {

constexpr uint8_t Erased = 0xFF;
// Frame and answer sizes on the line.
constexpr int EraseBytes = 5 + 1;
constexpr int WriteStartBytes = 6 + 1;
constexpr int BlockOverhead = 2 + 1; // 'D' and the sum, then the answer
constexpr int VerifyBytes = 13 + 1;

// The sector's whole content as the programming leaves it.
std::vector<uint8_t> SectorContent(const TSectorPlan& sector, uint32_t address,
                                   const uint8_t* data) {
    std::vector<uint8_t> content(sector.Length, Erased);
    const uint8_t* from = data + (sector.DataStart - address);
    std::copy(from, from + sector.DataLength, content.begin() + (sector.DataStart - sector.Start));
    return content;
}

int64_t RunLineBytes(int64_t length) {
    const int64_t whole = length / BlockSize;
    const int64_t remainder = length % BlockSize;
    // The run of whole blocks is announced even when there is none.
    int64_t bytes = WriteStartBytes + whole * (BlockSize + BlockOverhead);
    if (remainder > 0)
        bytes += WriteStartBytes + remainder + BlockOverhead;
    return bytes;
}

const char* ActionText(TSectorAction action) {
    switch (action) {
    case TSectorAction::Write:
        return "erase and write";
    case TSectorAction::Skip:
        return "skip (unchanged)";
    case TSectorAction::Untouched:
        break;
    }
    return "untouched";
}

} // namespace

std::vector<int> TProgramPlan::SectorsOf(TSectorAction action) const {
    std::vector<int> indexes;
    for (size_t i = 0; i < Sectors.size(); ++i)
        if (Sectors[i].Action == action)
            indexes.push_back(static_cast<int>(i));
    return indexes;
}

int TProgramPlan::Count(TSectorAction action) const {
    return static_cast<int>(
        std::count_if(Sectors.begin(), Sectors.end(),
                      [action](const TSectorPlan& s) { return s.Action == action; }));
}

int TProgramPlan::Checks() const {
    return static_cast<int>(std::count_if(Sectors.begin(), Sectors.end(),
                                          [](const TSectorPlan& s) { return s.InLedger; }));
}

std::vector<uint32_t> TProgramPlan::EraseAddresses() const {
    std::vector<uint32_t> addresses;
    for (const TSectorPlan& sector : Sectors)
        if (sector.Action == TSectorAction::Write)
            addresses.push_back(sector.DataStart);
    return addresses;
}

std::vector<TWriteRun> TProgramPlan::WriteRuns() const {
    std::vector<TWriteRun> runs;
    for (const TSectorPlan& sector : Sectors) {
        if (sector.Action != TSectorAction::Write)
            continue;
        const int64_t offset = sector.DataStart - Address;
        if (!runs.empty() && runs.back().Offset + runs.back().Length == offset)
            runs.back().Length += sector.DataLength;
        else
            runs.push_back({offset, sector.DataLength});
    }
    return runs;
}

int64_t TProgramPlan::DataBytes() const {
    int64_t bytes = 0;
    for (const TWriteRun& run : WriteRuns())
        bytes += run.Length;
    return bytes;
}

int64_t TProgramPlan::LineBytes() const {
    int64_t bytes = static_cast<int64_t>(EraseAddresses().size()) * EraseBytes +
                    static_cast<int64_t>(Checks()) * VerifyBytes + VerifyBytes;
    for (const TWriteRun& run : WriteRuns())
        bytes += RunLineBytes(run.Length);
    return bytes;
}

double TProgramPlan::LineSeconds(int speed) const {
    return speed > 0 ? static_cast<double>(LineBytes()) * 10.0 / speed : 0.0;
}

std::vector<uint32_t> TProgramPlan::WrittenSectors() const {
    std::vector<uint32_t> starts;
    for (const TSectorPlan& sector : Sectors)
        if (sector.Action == TSectorAction::Write)
            starts.push_back(sector.Start);
    return starts;
}

std::vector<TLedgerEntry> TProgramPlan::LedgerEntries() const {
    std::vector<TLedgerEntry> entries;
    for (const TSectorPlan& sector : Sectors)
        if (sector.Action != TSectorAction::Untouched)
            entries.push_back({sector.Start, sector.Length, sector.Sha256});
    return entries;
}

int TProgramPlan::SectorAt(uint32_t address) const {
    for (size_t i = 0; i < Sectors.size(); ++i)
        if (address >= Sectors[i].Start && address - Sectors[i].Start < Sectors[i].Length)
            return static_cast<int>(i);
    return -1;
}

int TProgramPlan::SectorWrittenAt(int64_t done) const {
    for (const TWriteRun& run : WriteRuns()) {
        if (done < run.Length)
            return SectorAt(Address + static_cast<uint32_t>(run.Offset + done));
        done -= run.Length;
    }
    return -1;
}

TProgramPlan BuildProgramPlan(const TEBData& type, uint32_t address, const uint8_t* data,
                              int64_t length) {
    TProgramPlan plan;
    plan.Address = address;
    plan.Length = length;
    const int64_t end = static_cast<int64_t>(address) + length; // one past the image
    for (int i = 0; i < type.GetSectorCount(); ++i) {
        const TSectData& source = type.GetSector(i);
        TSectorPlan sector;
        sector.Start = static_cast<uint32_t>(source.Start);
        sector.Length = static_cast<uint32_t>(source.Length);
        sector.Protected = source.Protected;
        const int64_t from = std::max<int64_t>(address, sector.Start);
        const int64_t to = std::min<int64_t>(end, int64_t{sector.Start} + sector.Length);
        if (length > 0 && from < to) {
            sector.Action = TSectorAction::Write;
            sector.DataStart = static_cast<uint32_t>(from);
            sector.DataLength = static_cast<uint32_t>(to - from);
            const std::vector<uint8_t> content = SectorContent(sector, address, data);
            const QByteArrayView view(content.data(), static_cast<qsizetype>(content.size()));
            sector.Sha256 =
                QCryptographicHash::hash(view, QCryptographicHash::Sha256).toHex().toStdString();
        }
        plan.Sectors.push_back(sector);
    }
    return plan;
}

void ApplyLedger(TProgramPlan& plan, const std::vector<TLedgerEntry>& entries) {
    for (TSectorPlan& sector : plan.Sectors) {
        if (sector.Action == TSectorAction::Untouched)
            continue;
        const TLedgerEntry wanted{sector.Start, sector.Length, sector.Sha256};
        sector.InLedger = std::find(entries.begin(), entries.end(), wanted) != entries.end();
    }
}

TMonitorResult ConfirmSkips(TBootMonitor& monitor, TProgramPlan& plan, const uint8_t* data) {
    for (TSectorPlan& sector : plan.Sectors) {
        if (!sector.InLedger || sector.Action == TSectorAction::Untouched)
            continue;
        const std::vector<uint8_t> content = SectorContent(sector, plan.Address, data);
        const TMonitorResult checked =
            monitor.VerifyRange(sector.Start, content.data(), static_cast<int64_t>(content.size()));
        if (checked.Ok()) {
            sector.Action = TSectorAction::Skip;
        } else if (checked.Status != TMonitorStatus::Refused || checked.Response == 0) {
            // No answer at all: nothing is known, so nothing is skipped.
            for (TSectorPlan& each : plan.Sectors)
                if (each.Action == TSectorAction::Skip)
                    each.Action = TSectorAction::Write;
            return checked;
        }
    }
    return TMonitorResult();
}

std::vector<std::string> PlanLines(const TProgramPlan& plan, int speed, bool protectedAllowed) {
    const char* const columns = "%6s  %-21s  %-9s  %-22s  %10s";
    std::vector<std::string> lines = {
        FormatText(columns, "Sector", "Range", "Protected", "Action", "Data bytes")};
    for (size_t i = 0; i < plan.Sectors.size(); ++i) {
        const TSectorPlan& sector = plan.Sectors[i];
        // Untouched sectors of the same protection go on one line: a type has dozens.
        size_t last = i;
        while (sector.Action == TSectorAction::Untouched && last + 1 < plan.Sectors.size() &&
               plan.Sectors[last + 1].Action == TSectorAction::Untouched &&
               plan.Sectors[last + 1].Protected == sector.Protected)
            ++last;
        const TSectorPlan& lastSector = plan.Sectors[last];
        const std::string index =
            last == i ? std::to_string(i) : std::to_string(i) + "-" + std::to_string(last);
        const std::string range = std::string(AddrToHex(sector.Start)()) + "-" +
                                  AddrToHex(lastSector.Start + lastSector.Length - 1)();
        const bool refused =
            sector.Protected && sector.Action == TSectorAction::Write && !protectedAllowed;
        const int64_t data = sector.Action == TSectorAction::Write ? sector.DataLength : 0;
        lines.push_back(FormatText(columns, index.c_str(), range.c_str(),
                                   sector.Protected ? "yes" : "no",
                                   refused ? "protected: needs --yes" : ActionText(sector.Action),
                                   std::to_string(data).c_str()));
        i = last;
    }
    const int written = plan.Count(TSectorAction::Write);
    lines.push_back(
        FormatText("%d %s to erase and write, %d to skip; %lld data bytes, %lld bytes on the line: "
                   "%.1f s at %d baud.",
                   written, written == 1 ? "sector" : "sectors", plan.Count(TSectorAction::Skip),
                   static_cast<long long>(plan.DataBytes()),
                   static_cast<long long>(plan.LineBytes()), plan.LineSeconds(speed), speed));
    return lines;
}

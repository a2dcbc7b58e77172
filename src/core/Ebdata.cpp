#include "Ebdata.h"

#include "AppGlobals.h"
#include "HexText.h"
#include "LibError.h"
#include "Misc.h"
#include "Settings.h"
#include "Tools.h"

#include <ini.h>

#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <strings.h>

namespace {

// Above this many sectors a layout is refused: no flash has that many, and building the records
// for an absurd count would exhaust memory.
constexpr int MaxSectorCount = 65536;

constexpr int OneMiB = 1048576;

// Addresses wrap within 32 bits instead of overflowing.
int AddWrapped(int a, int b) {
    return static_cast<int>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

// The decimal number at the start of `text` (0 when it does not begin with a digit). False
// when the number does not fit an int.
bool LeadingNumber(const char* text, int* value) {
    long long number = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        number = number * 10 + (*text - '0');
        if (number > INT_MAX)
            return false;
    }
    *value = static_cast<int>(number);
    return true;
}

bool OnlyCharacters(const TString& text, const char* allowed) {
    for (int i = 0; i < text.Length(); ++i)
        if (text[i] == '\0' || !strchr(allowed, text[i]))
            return false;
    return true;
}

struct TSectorGroup {
    int Count;
    int Length;
};

// Reads a Sectors text into its groups; false when it is not a valid layout.
bool ParseSectorGroups(const TString& text, std::vector<TSectorGroup>* groups, int* total) {
    TString layout(text);
    layout.Remove(' ');
    if (layout.IsBlank() || !OnlyCharacters(layout, "0123456789,xXbBkK"))
        return false;

    long long bytes = 0;
    long long sectors = 0;
    const int groupCount = layout.AsciiWords(',', true);
    for (int i = 0; i < groupCount; ++i) {
        const TString group = layout.AsciiWord(i, ',', true);
        // Only a lower-case x separates count and size.
        if (group.AsciiWords('x', true) != 2)
            return false;
        const TString countText = group.AsciiWord(0, 'x', true);
        TString sizeText = group.AsciiWord(1, 'x', true);
        sizeText.ToUpper();

        int count = 0;
        int size = 0;
        if (!LeadingNumber(countText, &count))
            return false;
        const char unit = sizeText.IsBlank() ? '\0' : sizeText[sizeText.Length() - 1];
        if (unit == 'B' || unit == 'K') {
            sizeText.Remove(unit);
            if (!LeadingNumber(sizeText, &size))
                return false;
            if (unit == 'K') {
                if (size > INT_MAX / 1024)
                    return false;
                size *= 1024;
            }
        }
        if (count <= 0 || size <= 0)
            return false;

        sectors += count;
        bytes += static_cast<long long>(count) * size;
        if (sectors > MaxSectorCount || bytes > INT_MAX)
            return false;
        if (groups)
            groups->push_back({count, size});
    }
    if (total)
        *total = static_cast<int>(bytes);
    return true;
}

TString SizeLabel(int total) {
    TString label;
    if (total < OneMiB) {
        label.sprintf("%dK", total / 1024);
    } else if (total % OneMiB == 0) {
        label.sprintf("%dM", total / OneMiB);
    } else {
        // Tenths of a MiB, rounded, for the small field beside the sectors; never rounded up
        // into the next MiB, so the figure before the point stays the whole MiB count.
        const int whole = total / OneMiB;
        int tenths =
            static_cast<int>((static_cast<long long>(total % OneMiB) * 10 + OneMiB / 2) / OneMiB);
        if (tenths > 9)
            tenths = 9;
        label.sprintf("%d.%dM", whole, tenths);
    }
    return label;
}

// A sector number of a Protect item; false when it is not below `sectorCount`.
bool SectorNumber(const TString& text, int sectorCount, int* number) {
    return LeadingNumber(text, number) && *number >= 0 && *number < sectorCount;
}

// One Protect item: a sector number, or a range "n-m" of which m itself is not included.
bool ParseProtectItem(const TString& item, int sectorCount, int* first, int* last) {
    const int hyphen = item.Find('-');
    if (hyphen < 0) {
        if (!SectorNumber(item, sectorCount, first))
            return false;
        *last = *first;
        return true;
    }
    const TString from = item.Left(hyphen);
    TString to = item.Mid(hyphen + 1, item.Length());
    const int secondHyphen = to.Find('-');
    if (secondHyphen >= 0)
        to = to.Left(secondHyphen);
    if (from.IsBlank() || to.IsBlank())
        return false;
    int upper = 0;
    if (!SectorNumber(from, sectorCount, first) || !SectorNumber(to, sectorCount, &upper))
        return false;
    *last = upper - 1;
    return true;
}

} // namespace

const char* TypeRangeRefusal(const TString& sectors, const TString& sramSize,
                             const TString& flashStart) {
    // Addresses and sizes are compared as signed 32-bit numbers: beyond these bounds a range
    // would contradict itself.
    int sram = 0;
    if (ParseHexAddress(sramSize, &sram) && sram < 0)
        return " - SRAM size must be below 8000 0000.";
    int total = 0;
    int start = 0;
    if (sectors.IsBlank() || !ParseSectorGroups(sectors, nullptr, &total) || total <= 0 ||
        !ParseHexAddress(flashStart, &start))
        return nullptr;
    const int64_t first = static_cast<uint32_t>(start);
    const int64_t last = first + total - 1;
    if ((first < 0x80000000LL && last >= 0x80000000LL) || last > 0xFFFFFFFFLL)
        return " - the flash area must not reach across 8000 0000 or past FFFF FFFF.";
    return nullptr;
}

int TSectData::End() const {
    return AddWrapped(Start, Length - 1);
}

bool CheckSectors(const TString& text, TString* sizeText) {
    int total = 0;
    const bool valid = ParseSectorGroups(text, nullptr, &total);
    if (sizeText)
        *sizeText = valid ? SizeLabel(total) : TString("0K");
    return valid;
}

bool CheckProtected(const TString& text, int sectorCount) {
    TString items(text);
    items.Remove(' ');
    if (items.IsBlank())
        return true;
    if (!OnlyCharacters(items, "0123456789,-"))
        return false;
    const int count = items.AsciiWords(',', true);
    for (int i = 0; i < count; ++i) {
        int first = 0;
        int last = 0;
        if (!ParseProtectItem(items.AsciiWord(i, ',', true), sectorCount, &first, &last))
            return false;
    }
    return true;
}

bool ParseHexAddress(const TString& text, int* value) {
    TString digits(text);
    digits.Remove(" -.");
    if (digits.IsBlank())
        return false;
    // Leading zeros may make the text longer than eight digits; a value that needs more than
    // 32 bits is refused rather than kept in part (1 0000 0000 is not 0).
    uint64_t number = 0;
    for (int i = 0; i < digits.Length(); ++i) {
        if (!isxdigit(static_cast<unsigned char>(digits[i])))
            return false;
        number = (number << 4) | HexDigitValue(digits[i]);
        if (number > UINT32_MAX)
            return false;
    }
    *value = static_cast<int>(static_cast<uint32_t>(number));
    return true;
}

// ---------------------------------------------------------------------------------------------

TEBData::TEBData() : SramSize(0), FlashStart(0), Sectors(true) {}

TEBData::TEBData(const TString& name) : Name(name), SramSize(0), FlashStart(0), Sectors(true) {}

bool TEBData::SetSectors(const TString& text) {
    Sectors.RemoveAll();
    // Built from the groups exactly as the check reads them, so that a size such as "1B2K"
    // gives the sectors the size label promised.
    std::vector<TSectorGroup> groups;
    if (!ParseSectorGroups(text, &groups, nullptr))
        return false;
    int start = FlashStart;
    for (const TSectorGroup& group : groups) {
        for (int i = 0; i < group.Count; ++i) {
            Sectors.Add(new TSectData(start, group.Length));
            start = AddWrapped(start, group.Length);
        }
    }
    return true;
}

bool TEBData::SetProtected(const TString& text) {
    TString items(text);
    items.Remove(' ');
    if (items.IsBlank())
        return true;
    if (!CheckProtected(items, Sectors.Count()))
        return false;
    const int count = items.AsciiWords(',', true);
    for (int i = 0; i < count; ++i) {
        int first = 0;
        int last = 0;
        ParseProtectItem(items.AsciiWord(i, ',', true), Sectors.Count(), &first, &last);
        for (int sector = first; sector <= last; ++sector)
            Sectors[sector]->Protected = true;
    }
    return true;
}

bool TEBData::SetFlashStart(const TString& text) {
    int start = 0;
    if (!ParseHexAddress(text, &start))
        return false;
    FlashStart = start;
    for (int i = 0; i < Sectors.Count(); ++i)
        Sectors[i]->Start = AddWrapped(Sectors[i]->Start, start);
    return true;
}

bool TEBData::SetSramSize(const TString& text) {
    int size = 0;
    if (!ParseHexAddress(text, &size))
        return false;
    SramSize = size;
    return true;
}

const TSectData& TEBData::GetSector(int index) const {
    if (index < 0 || index >= Sectors.Count())
        throw std::out_of_range("sector index out of range");
    return *Sectors[index];
}

int TEBData::SectorSizeAt(int address) const {
    for (int i = 0; i < Sectors.Count(); ++i) {
        const TSectData* sector = Sectors[i];
        if (address >= sector->Start && address <= sector->End())
            return sector->Length;
    }
    return 0;
}

int TEBData::FlashEnd() const {
    return Sectors.Count() == 0 ? 0 : Sectors[Sectors.Count() - 1]->End();
}

int TEBData::ProtectedSectorAt(int address) const {
    for (int i = 0; i < Sectors.Count(); ++i) {
        const TSectData* sector = Sectors[i];
        if (sector->Protected && address >= sector->Start && address <= sector->End())
            return i;
    }
    return -1;
}

// ---------------------------------------------------------------------------------------------
// The stored list

namespace {

const char* const TypeDefsValue = "TypeDefs";
const char* const LastTypeValue = "LastType";

bool SplitEntry(const TString& entryText, TTypeDef* entry) {
    if (entryText.AsciiWords(';', false) != 5)
        return false;
    if (entry) {
        entry->Name = entryText.AsciiWord(0, ';', false);
        entry->Sectors = entryText.AsciiWord(1, ';', false);
        entry->Protect = entryText.AsciiWord(2, ';', false);
        entry->SramSize = entryText.AsciiWord(3, ';', false);
        entry->FlashStart = entryText.AsciiWord(4, ';', false);
    }
    return true;
}

// One piece of a TypeDefs text between the '|' that separate entries: its text as stored
// (trimmed, quotes kept) and the entry it reads as, if it reads as one.
struct TStoredPiece {
    TString Text;
    bool IsEntry = false;
    TTypeDef Entry;
};

// The pieces of a TypeDefs text. A '|' between double quotes does not separate, and the
// quotes are no part of what a piece reads as: the field splitting of the string class,
// done here by hand so that the rewrites can keep each piece's own text.
std::vector<TStoredPiece> StoredPieces(const TString& typeDefs) {
    std::vector<TStoredPiece> pieces;
    const char* start = typeDefs;
    bool inQuotes = false;
    for (const char* p = start;; ++p) {
        if (*p == '"') {
            inQuotes = !inQuotes;
            continue;
        }
        if (*p != '\0' && (*p != '|' || inQuotes))
            continue;
        TStoredPiece piece;
        piece.Text = TString(start, static_cast<int>(p - start));
        piece.Text.RLTrim();
        TString reading(piece.Text);
        reading.Remove('"');
        reading.RLTrim();
        piece.IsEntry = SplitEntry(reading, &piece.Entry);
        pieces.push_back(piece);
        if (*p == '\0')
            return pieces;
        start = p + 1;
    }
}

// A piece with an odd number of quotes (only the last one can have it) gets its quote closed,
// so that nothing written after it is taken into it; it reads the same.
TString WithQuotesClosed(const TString& text) {
    TString closed(text);
    if (closed.Count('"') % 2 != 0)
        closed += "\"";
    return closed;
}

// Calls `visit(entry)` for every five-field entry, in stored order.
template <typename TVisit> void ForEachEntry(const TString& typeDefs, TVisit visit) {
    for (const TStoredPiece& piece : StoredPieces(typeDefs))
        if (piece.IsEntry)
            visit(piece.Entry);
}

// Stored texts carry no quotes of their own: the readers would take them for grouping.
TString WithoutQuotes(const TString& text) {
    TString result(text);
    result.Remove('"');
    return result;
}

bool SameName(const TString& a, const TString& b) {
    return a.Equals(b, true);
}

// The first entry named `name`; with `anyWhenBlank` a blank name takes the first entry.
bool FindEntry(const TString& typeDefs, const TString& name, bool anyWhenBlank, TTypeDef* found) {
    bool matched = false;
    ForEachEntry(typeDefs, [&](const TTypeDef& entry) {
        if (!matched && ((anyWhenBlank && name.IsBlank()) || SameName(entry.Name, name))) {
            matched = true;
            if (found)
                *found = entry;
        }
    });
    return matched;
}

// Rewrites the list: `rewrite` returns the text that replaces an entry, or false to leave it
// out. Every other entry is copied as stored. Empty pieces and pieces that do not read as an
// entry are dropped, except those holding a quote: a quote typed into the stored value may
// have joined entries that the user still wants once the quote is mended.
template <typename TRewrite> TString RewriteEntries(const TString& typeDefs, TRewrite rewrite) {
    TString result;
    bool first = true;
    for (const TStoredPiece& piece : StoredPieces(typeDefs)) {
        TString text = WithQuotesClosed(piece.Text);
        if (piece.IsEntry ? !rewrite(piece.Entry, &text) : piece.Text.Find('"') < 0)
            continue;
        if (!first)
            result += "|";
        result += text;
        first = false;
    }
    return result;
}

} // namespace

const char* const TypeDefReservedCharacters = ";|\"";

bool IsStorableTypeName(const TString& name) {
    if (name.IsBlank())
        return false;
    for (const char* reserved = TypeDefReservedCharacters; *reserved; ++reserved)
        if (name.Find(*reserved) >= 0)
            return false;
    return true;
}

std::vector<TTypeDef> SplitTypeDefs(const TString& typeDefs) {
    std::vector<TTypeDef> entries;
    ForEachEntry(typeDefs, [&](const TTypeDef& entry) { entries.push_back(entry); });
    return entries;
}

TString TypeDefText(const TTypeDef& entry) {
    TString text(entry.Name);
    text += ";";
    text += entry.Sectors;
    text += ";";
    text += entry.Protect;
    text += ";";
    text += entry.SramSize;
    text += ";";
    text += entry.FlashStart;
    return WithoutQuotes(text);
}

std::unique_ptr<TEBData> BuildTypeDef(const TTypeDef& entry) {
    auto type = std::make_unique<TEBData>(entry.Name);
    type->SetSectors(entry.Sectors);
    type->SetProtected(entry.Protect);
    type->SetFlashStart(entry.FlashStart);
    type->SetSramSize(entry.SramSize);
    return type;
}

bool FindTypeDef(const TString& typeDefs, const TString& name, TTypeDef* found) {
    return FindEntry(typeDefs, name, true, found);
}

int ListTypeNames(const TString& typeDefs, const TString& lastType, std::vector<TString>* names) {
    int selected = -1;
    int index = 0;
    ForEachEntry(typeDefs, [&](const TTypeDef& entry) {
        if (names)
            names->push_back(entry.Name);
        if (SameName(entry.Name, lastType))
            selected = index;
        ++index;
    });
    if (selected < 0 && index > 0)
        selected = 0;
    return selected;
}

TString AddTypeDef(const TString& typeDefs, const TTypeDef& entry) {
    TString text = WithQuotesClosed(typeDefs);
    if (!text.IsBlank())
        text += "|";
    text += TypeDefText(entry);
    return text;
}

TString ReplaceTypeDefs(const TString& typeDefs, const TString& name, const TTypeDef& entry) {
    const TString replacement = TypeDefText(entry);
    return RewriteEntries(typeDefs, [&](const TTypeDef& stored, TString* text) {
        if (SameName(stored.Name, name))
            *text = replacement;
        return true;
    });
}

TString RemoveTypeDefs(const TString& typeDefs, const TString& name) {
    return RewriteEntries(
        typeDefs, [&](const TTypeDef& stored, TString*) { return !SameName(stored.Name, name); });
}

int ListTypeNames(const TSettingsKey& key, std::vector<TString>* names) {
    return ListTypeNames(key.ReadString(TypeDefsValue), key.ReadString(LastTypeValue), names);
}

TTypeDef ReadTypeSections(const TSettingsKey& key, const TString& name) {
    TTypeDef entry;
    if (!FindEntry(key.ReadString(TypeDefsValue), name, false, &entry))
        entry = TTypeDef();
    entry.Name = name;
    return entry;
}

bool AddTypeDef(TSettingsKey& key, const TTypeDef& entry) {
    return key.WriteString(TypeDefsValue, AddTypeDef(key.ReadString(TypeDefsValue), entry));
}

bool ReplaceTypeDefs(TSettingsKey& key, const TString& name, const TTypeDef& entry) {
    return key.WriteString(TypeDefsValue,
                           ReplaceTypeDefs(key.ReadString(TypeDefsValue), name, entry));
}

bool RemoveTypeDefs(TSettingsKey& key, const TString& name) {
    return key.WriteString(TypeDefsValue, RemoveTypeDefs(key.ReadString(TypeDefsValue), name));
}

// ---------------------------------------------------------------------------------------------
// Factory defaults

namespace {

const char* const FactoryFileName = "FactoryDefaults.ini";
const char* const ReportHeading = "Default settings that failed to import:\n\n";
const char* const ReportContinued = "Default settings that failed to import (continued):\n\n";

// Checks the sections of a factory row; returns the refusal text, or nullptr when accepted.
const char* RefusalOfSections(const TString& sections) {
    if (sections.AsciiWords(';', false) != 4)
        return " - expecting 4 sections separated by ';'";
    const TString sectors = sections.AsciiWord(0, ';', false);
    const TString protect = sections.AsciiWord(1, ';', false);
    const TString sramSize = sections.AsciiWord(2, ';', false);
    const TString flashStart = sections.AsciiWord(3, ';', false);

    if (!sectors.IsBlank()) {
        TEBData definition;
        if (!definition.SetSectors(sectors))
            return " - invalid sectors format.";
        if (!definition.SetProtected(protect))
            return " - invalid protected sectors numbers.";
    } else if (!protect.IsBlank() || !flashStart.IsBlank()) {
        return " - protected sectors and flash start must be blank if no sectors are specified.";
    }
    int value = 0;
    if (!ParseHexAddress(sramSize, &value) ||
        (!flashStart.IsBlank() && !ParseHexAddress(flashStart, &value)))
        return " - invalid SRAM size or Flash addr. format.";
    if (const char* refusal = TypeRangeRefusal(sectors, sramSize, flashStart))
        return refusal;
    return nullptr;
}

// Reading [TYPES] with inih. Its line buffer is short, so the reader keeps every whole line
// and a row longer than that buffer is taken from the whole line instead of being cut.
struct TIniRowReader {
    FILE* File;
    std::string Line;
    bool LineCut;
    bool FirstLine;
    bool InTypes;
    std::vector<TString>* Rows;
};

const char* const IniBlanks = " \t\r\n";

// Where a row's value ends: at an inline comment, a ';' after a blank, as inih reads it.
size_t InlineCommentAt(const std::string& line) {
    for (size_t i = 1; i < line.size(); ++i)
        if (line[i] == ';' && (line[i - 1] == ' ' || line[i - 1] == '\t'))
            return i;
    return std::string::npos;
}

// inih passes over a row of [TYPES] that has no '=' (or ':') without a word; such a row is
// kept here, so that the import reports it instead of losing it.
void KeepRowWithoutSeparator(TIniRowReader* reader) {
    const std::string& line = reader->Line;
    if (line.empty() || strchr(";#", line[0]))
        return;
    if (line[0] == '[') {
        const size_t close = line.find(']');
        if (close != std::string::npos && close < InlineCommentAt(line))
            reader->InTypes = strcasecmp(line.substr(1, close - 1).c_str(), "TYPES") == 0;
        return;
    }
    if (!reader->InTypes)
        return;
    const std::string row = line.substr(0, InlineCommentAt(line));
    const size_t end = row.find_last_not_of(IniBlanks);
    if (end != std::string::npos && row.find_first_of("=:") == std::string::npos)
        reader->Rows->push_back(TString(row.substr(0, end + 1).c_str()));
}

char* ReadIniLine(char* buffer, int size, void* stream) {
    TIniRowReader* reader = static_cast<TIniRowReader*>(stream);
    reader->Line.clear();
    int c;
    while ((c = fgetc(reader->File)) != EOF) {
        reader->Line += static_cast<char>(c);
        if (c == '\n')
            break;
    }
    if (reader->Line.empty() || size <= 0)
        return nullptr;
    if (reader->FirstLine && reader->Line.compare(0, 3, "\xEF\xBB\xBF") == 0)
        reader->Line.erase(0, 3);
    reader->FirstLine = false;
    // inih takes an indented line for the continuation of the row above it; here every row
    // stands on its own, indented or not.
    reader->Line.erase(0, std::min(reader->Line.find_first_not_of(" \t"), reader->Line.size()));
    KeepRowWithoutSeparator(reader);
    const size_t kept = std::min(reader->Line.size(), static_cast<size_t>(size - 1));
    reader->LineCut = kept < reader->Line.size();
    memcpy(buffer, reader->Line.data(), kept);
    buffer[kept] = '\0';
    return buffer;
}

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(IniBlanks);
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(IniBlanks) - first + 1);
}

// Name and value of a whole line, split as inih splits a short one.
void SplitIniLine(const std::string& line, std::string* name, std::string* value) {
    const size_t separator = line.find_first_of("=:");
    *name = Trimmed(line.substr(0, separator));
    std::string rest = separator == std::string::npos ? std::string() : line.substr(separator + 1);
    *value = Trimmed(rest.substr(0, InlineCommentAt(rest)));
}

int CollectTypeRow(void* user, const char* section, const char* name, const char* value) {
    TIniRowReader* reader = static_cast<TIniRowReader*>(user);
    if (strcasecmp(section, "TYPES") != 0)
        return 1;
    std::string row;
    if (reader->LineCut) {
        std::string wholeName;
        std::string wholeValue;
        SplitIniLine(reader->Line, &wholeName, &wholeValue);
        row = wholeName + "=" + wholeValue;
    } else {
        row = std::string(name) + "=" + value;
    }
    reader->Rows->push_back(TString(row.c_str()));
    return 1;
}

[[noreturn]] void RaiseError(const char* message) {
    throw TException(message);
}

} // namespace

bool CheckFactoryRow(const TString& row, TString* name, TString* sections, TString* reason) {
    const int equals = row.Find('=');
    if (equals < 0) {
        *reason = " - missing type name";
        return false;
    }
    TString rowName = row.Left(equals);
    rowName.RLTrim();
    if (!IsStorableTypeName(rowName)) {
        *reason = rowName.IsBlank() ? " - missing type name"
                                    : " - type name must not contain ';', '|' or '\"'.";
        return false;
    }
    TString rowSections = row.Mid(equals + 1, row.Length());
    const int nextEquals = rowSections.Find('=');
    if (nextEquals >= 0)
        rowSections = rowSections.Left(nextEquals);
    rowSections.RLTrim();

    if (const char* refusal = RefusalOfSections(rowSections)) {
        *reason = refusal;
        return false;
    }
    *name = rowName;
    *sections = rowSections;
    return true;
}

std::vector<TString> BuiltInFactoryRows() {
    // EB40 is an SRAM-only board here, so it has no flash start either. It comes last: the
    // first row is the type a first start selects, and that has always been the EB40A.
    return {"EB40A=8x32K,2x32K,30x64K;0-8;0003 FF00;0100 0000",
            "EB42=8x32K,2x32K,30x64K;0-8;0004 0000;0100 0000",
            "EB55=8x32K,2x32K,30x64K;0-8;0004 0000;0100 0000",
            "EB63=8x32K,2x32K,30x64K;0-7;0004 0000;0100 0000", "EB40=;;0008 0000;"};
}

bool ReadFactoryRows(const char* path, std::vector<TString>* rows) {
    FILE* file = fopen(path, "rb");
    if (!file)
        return false;
    TIniRowReader reader{file, std::string(), false, true, false, rows};
    const int result = ini_parse_stream(ReadIniLine, &reader, CollectTypeRow, &reader);
    const bool readError = ferror(file) != 0;
    fclose(file);
    // A positive result is the first line inih could not make sense of: it skips such lines.
    return result >= 0 && !readError;
}

void BuildFactoryTypeDefs(const std::vector<TString>& rows, TString* typeDefs, TString* report) {
    *typeDefs = TString();
    TString refused;
    for (const TString& row : rows) {
        TString name;
        TString sections;
        TString reason;
        if (CheckFactoryRow(row, &name, &sections, &reason)) {
            *typeDefs += name;
            *typeDefs += ";";
            *typeDefs += WithoutQuotes(sections);
            *typeDefs += "|";
        } else {
            refused += row;
            refused += reason;
            refused += "\n";
        }
    }
    *report = TString();
    if (!refused.IsBlank()) {
        *report = ReportHeading;
        *report += refused;
    }
}

void ImportFactoryDefaults() {
    TSettingsKey key;
    if (!key.IsOpen())
        RaiseError("Unable to open registry key");

    std::vector<TString> rows;
    TString path(StartDir);
    path += FactoryFileName;
    if (FileExists(path)) {
        if (!ReadFactoryRows(path, &rows)) {
            TString message;
            message.sprintf("Unable to read %.400s", path());
            RaiseError(message);
        }
    } else {
        rows = BuiltInFactoryRows();
    }

    TString typeDefs;
    TString report;
    BuildFactoryTypeDefs(rows, &typeDefs, &report);
    if (!key.WriteString(TypeDefsValue, typeDefs))
        RaiseError("Unable to open registry key");
    if (!report.IsBlank())
        ShowLongInformation(report, ReportContinued);
}

void ShowLongInformation(const TString& text, const char* continuedHeading) {
    const int limit = MsgBoxTextSize - 1;
    const TString heading(continuedHeading);
    LIB_ASSERT(heading.Length() < limit / 2, "heading.Length() < limit / 2", "src/core/Ebdata");
    int position = 0;
    while (position < text.Length()) {
        TString box(position == 0 ? "" : continuedHeading);
        const int room = limit - box.Length();
        int take = text.Length() - position;
        if (take > room) {
            // Break after the last whole line that fits; a longer line is cut.
            take = room;
            for (int i = position + room - 1; i > position; --i) {
                if (text[i] == '\n') {
                    take = i - position + 1;
                    break;
                }
            }
        }
        box += text.Mid(position, take);
        MsgBox(MB_ICONINFORMATION, "%s", box());
        position += take;
    }
}

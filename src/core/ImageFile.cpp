#include "ImageFile.h"
#include "ElfImage.h"
#include "File.h"
#include "HexText.h"

#include <QDateTime>

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

// ---------------------------------------------------------------------------------------------
// TFileImage

void TFileImage::Clear() {
    FBuffer.reset();
    FLength = 0;
}

bool TFileImage::Allocate(int32_t n) {
    Clear();
    if (n <= 0)
        return n == 0;
    FBuffer.reset(new (std::nothrow) uint8_t[static_cast<size_t>(n)]);
    if (!FBuffer)
        return false;
    FLength = n;
    return true;
}

const char* ImageFormatName(TImageFormat format) {
    switch (format) {
    case TImageFormat::IntelHex:
        return "Intel Hex";
    case TImageFormat::MotorolaS:
        return "Motorola S";
    case TImageFormat::Elf:
        return "ELF";
    case TImageFormat::Binary:
        break;
    }
    return "Binary";
}

namespace {

// ---------------------------------------------------------------------------------------------
// Text helpers

#ifdef __GNUC__
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
#endif

std::string FormatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    const int needed = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string text;
    if (needed > 0) {
        text.resize(static_cast<size_t>(needed) + 1);
        std::vsnprintf(&text[0], text.size(), format, args);
        text.resize(static_cast<size_t>(needed));
    }
    va_end(args);
    return text;
}

std::string AddressWithDecimal(int32_t value) {
    return static_cast<const char*>(AddrToHexDec(static_cast<uint32_t>(value)));
}

std::string AddressText(int64_t value) {
    return static_cast<const char*>(AddrToHex(static_cast<uint32_t>(value)));
}

// Digit values, -1 for characters that are no hexadecimal digit.
constexpr std::array<int8_t, 256> MakeHexDigits() {
    std::array<int8_t, 256> digits{};
    for (int c = 0; c < 256; ++c)
        digits[c] = -1;
    for (int c = '0'; c <= '9'; ++c)
        digits[c] = static_cast<int8_t>(c - '0');
    for (int c = 'A'; c <= 'F'; ++c)
        digits[c] = static_cast<int8_t>(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; ++c)
        digits[c] = static_cast<int8_t>(c - 'a' + 10);
    return digits;
}
constexpr std::array<int8_t, 256> HexDigits = MakeHexDigits();

int DigitValue(char c) {
    return HexDigits[static_cast<unsigned char>(c)];
}

bool AllHex(const char* text, size_t count) {
    int check = 0;
    for (size_t i = 0; i < count; ++i)
        check |= DigitValue(text[i]);
    return check >= 0;
}

// The value of 2 * bytes hexadecimal digits, high byte first; the digits are known to be valid.
uint32_t HexValue(const char* text, int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < 2 * bytes; ++i)
        value = (value << 4) | static_cast<uint32_t>(DigitValue(text[i]));
    return value;
}

void StoreHexBytes(const char* text, int count, uint8_t* out) {
    for (int i = 0; i < count; ++i, text += 2)
        out[i] = static_cast<uint8_t>((DigitValue(text[0]) << 4) | DigitValue(text[1]));
}

// ---------------------------------------------------------------------------------------------
// Lines as the reader sees them: at most 255 characters each, ending after a line feed, after a
// carriage return and line feed, or after a carriage return alone (old Macintosh files); the
// line end stays in the line. A longer line comes in several pieces, and each piece counts as a
// line.
//
// The file is read in chunks, never held whole: a text file is several times the size of the
// image it describes.

constexpr size_t MaxPieceLength = 255;
constexpr size_t ChunkSize = 64 * 1024;

// A fingerprint of a block of bytes, to tell whether the second reading saw the same file.
// Four lanes of words keep the multiplier busy: it runs over every byte of the file twice.
uint64_t BlockFingerprint(const char* bytes, size_t size) {
    constexpr uint64_t Multiplier = 0x9E3779B97F4A7C15ULL;
    uint64_t lanes[4] = {1, 2, 3, 4};
    uint64_t words[4];
    for (; size >= sizeof words; bytes += sizeof words, size -= sizeof words) {
        std::memcpy(words, bytes, sizeof words);
        for (int i = 0; i < 4; ++i)
            lanes[i] = ((lanes[i] ^ words[i]) * Multiplier) ^ (lanes[i] >> 31);
    }
    std::memset(words, 0, sizeof words);
    std::memcpy(words, bytes, size);
    uint64_t hash = static_cast<uint64_t>(size);
    for (int i = 0; i < 4; ++i) {
        hash = (hash ^ lanes[i] ^ words[i]) * Multiplier;
        hash ^= hash >> 29;
    }
    return hash;
}

class TLineReader {
public:
    explicit TLineReader(TRegularFileReader& file)
        : FFile(file), FBuffer(new char[ChunkSize]), FNext(FBuffer.get()), FEnd(FNext) {}

    // The next piece; false at the end of the file or when reading failed (Failed()).
    bool Next() {
        for (;;) {
            if (!Fill() || FNext == FEnd)
                return false;
            const bool continuesCut = !FTerminated;
            Cut();
            // A line of exactly 255 characters leaves only its line end for the next piece:
            // that is no blank line, and no record to check.
            if (!(continuesCut && Fields == 0))
                return true;
        }
    }

    bool Failed() const { return FFailed; }
    uint64_t Fingerprint() const { return FFingerprint; }

    const char* Text = nullptr;
    size_t Size = 0;   // characters as read
    size_t Fields = 0; // characters before the line end: all that a record may use
    int Number = 0;

private:
    // Keeps more than a piece's length in the buffer until the file ends, so that a carriage
    // return at a piece's end can see whether a line feed follows it.
    bool Fill() {
        if (FAtEnd || static_cast<size_t>(FEnd - FNext) > MaxPieceLength)
            return true;
        const size_t kept = static_cast<size_t>(FEnd - FNext);
        std::memmove(FBuffer.get(), FNext, kept);
        FNext = FBuffer.get();
        FEnd = FNext + kept;
        const long long wanted = static_cast<long long>(ChunkSize - kept);
        const long long got = FFile.Read(FBuffer.get() + kept, wanted);
        if (got < 0) {
            FFailed = true;
            return false;
        }
        FAtEnd = got < wanted; // a read stops short only at the end of the file
        // Reads stop short only at the end, so the same file is read in the same blocks.
        FFingerprint = FFingerprint * 31 + BlockFingerprint(FEnd, static_cast<size_t>(got));
        FEnd += got;
        FNextReturn = nullptr;
        return true;
    }

    void Cut() {
        const size_t limit = std::min(static_cast<size_t>(FEnd - FNext), MaxPieceLength);
        const char* const start = FNext;
        const char* const stop = start + limit;
        const auto feed = static_cast<const char*>(std::memchr(start, '\n', limit));
        const char* const searched = feed ? feed : stop;
        // Most files hold no carriage return at all, or one a line: the next one is looked for
        // once, not in every line.
        if (!FNextReturn || FNextReturn < start) {
            FNextReturn = static_cast<const char*>(
                std::memchr(start, '\r', static_cast<size_t>(FEnd - start)));
            if (!FNextReturn)
                FNextReturn = FEnd;
        }
        const char* const ret = FNextReturn < searched ? FNextReturn : nullptr;
        const char* end = stop;
        FTerminated = false;
        if (ret && !(ret + 1 == stop && ret + 1 < FEnd && ret[1] == '\n')) {
            end = ret + 1 == feed ? feed + 1 : ret + 1;
            FTerminated = true;
        } else if (feed) {
            end = feed + 1;
            FTerminated = true;
        }
        Text = start;
        Size = static_cast<size_t>(end - start);
        FNext = end;
        Fields = Size;
        if (Fields > 0 && Text[Fields - 1] == '\n')
            --Fields;
        if (Fields > 0 && Text[Fields - 1] == '\r')
            --Fields;
        ++Number;
    }

    TRegularFileReader& FFile;
    std::unique_ptr<char[]> FBuffer;
    const char* FNext;
    const char* FEnd;
    const char* FNextReturn = nullptr; // the next carriage return, FEnd for none; null: unknown
    bool FAtEnd = false;
    bool FFailed = false;
    bool FTerminated = true;
    uint64_t FFingerprint = 0;
};

// ---------------------------------------------------------------------------------------------
// Records

enum class TRecordKind { Data, Base, Skip, Invalid, BadChecksum };

struct TRecord {
    TRecordKind Kind = TRecordKind::Skip;
    int64_t Address = 0;        // Data: target address of the first byte
    int Count = 0;              // Data: number of bytes
    const char* Data = nullptr; // Data: the first byte's two digits
    int64_t Base = 0;           // Base: the new upper address bits
    int Checksum = 0;           // BadChecksum: the record's checksum
    int Expected = 0;           // and the one its bytes call for
};

TRecord Invalid() {
    TRecord record;
    record.Kind = TRecordKind::Invalid;
    return record;
}

TRecord WrongChecksum(uint32_t checksum, uint32_t expected) {
    TRecord record;
    record.Kind = TRecordKind::BadChecksum;
    record.Checksum = static_cast<int>(checksum & 0xFF);
    record.Expected = static_cast<int>(expected & 0xFF);
    return record;
}

// Adds up the bytes of 2 * count hexadecimal digits; false when one is no digit.
bool AddHexBytes(const char* text, size_t count, uint32_t& sum) {
    int check = 0;
    uint32_t total = 0;
    for (size_t i = 0; i < count; ++i, text += 2) {
        const int high = DigitValue(text[0]);
        const int low = DigitValue(text[1]);
        check |= high | low;
        total += (static_cast<uint32_t>(high) << 4) | static_cast<uint32_t>(low);
    }
    sum += total;
    return check >= 0;
}

// Only blanks may follow a record's checksum: anything else would be a second record run
// into the first, or a damaged one.
bool OnlyBlanks(const char* from, const char* to) {
    for (; from < to; ++from)
        if (*from != ' ' && *from != '\t')
            return false;
    return true;
}

// ':' count(2) address(4) type(2) data(2 * count) checksum(2): the checksum makes the sum of
// all bytes from the count on 0. verify checks the data digits and the checksum, which the
// second pass, reading lines known to be good, can leave out.
TRecord DecodeIntel(const TLineReader& line, int64_t base, bool verify) {
    const char* text = line.Text;
    if (text[0] != ':')
        return Invalid();
    constexpr size_t DataColumn = 9;
    if (line.Fields < DataColumn || !AllHex(text + 1, DataColumn - 1))
        return Invalid();
    const int count = static_cast<int>(HexValue(text + 1, 1));
    const uint32_t address = HexValue(text + 3, 2);
    const uint32_t type = HexValue(text + 7, 1);
    const size_t checksumColumn = DataColumn + 2 * static_cast<size_t>(count);
    if (line.Fields < checksumColumn + 2 ||
        !OnlyBlanks(text + checksumColumn + 2, text + line.Fields))
        return Invalid();
    // 00 data, 01 end of file, 02 and 04 address bases of two bytes, 03 and 05 start addresses.
    if (type > 0x05 || ((type == 0x02 || type == 0x04) && count != 2))
        return Invalid();
    if (verify) {
        uint32_t sum = 0;
        if (!AddHexBytes(text + 1, 4 + static_cast<size_t>(count) + 1, sum))
            return Invalid();
        if ((sum & 0xFF) != 0) {
            const uint32_t checksum = HexValue(text + checksumColumn, 1);
            return WrongChecksum(checksum, 0u - (sum - checksum));
        }
    }
    const char* data = text + DataColumn;
    TRecord record;
    if (type == 0x00) {
        record.Kind = TRecordKind::Data;
        record.Address = base + address;
        record.Count = count;
        record.Data = data;
    } else if (type == 0x02 || type == 0x04) {
        // Extended segment address (paragraphs of 16 bytes, written by objcopy for images
        // below 1 MiB) or extended linear address (the upper 16 address bits).
        record.Kind = TRecordKind::Base;
        record.Base = static_cast<int64_t>(HexValue(data, 2)) << (type == 0x02 ? 4 : 16);
    }
    return record;
}

// 'S' type count(2) address(4, 6 or 8) data checksum(2): the count covers address, data and
// checksum, and the checksum is the ones' complement of the sum of the bytes from the count on.
// S0 headers, S5/S6 record counts and S7/S8/S9 ends are checked and skipped.
TRecord DecodeMotorola(const TLineReader& line, int64_t, bool verify) {
    const char* text = line.Text;
    if (text[0] != 'S' || line.Fields < 2)
        return Invalid();
    int addressBytes = 0;
    switch (text[1]) {
    case '0':
    case '1':
    case '5':
    case '9':
        addressBytes = 2;
        break;
    case '2':
    case '6':
    case '8':
        addressBytes = 3;
        break;
    case '3':
    case '7':
        addressBytes = 4;
        break;
    default:
        return Invalid();
    }
    const size_t dataColumn = 4 + 2 * static_cast<size_t>(addressBytes);
    if (line.Fields < dataColumn || !AllHex(text + 2, dataColumn - 2))
        return Invalid();
    const int count = static_cast<int>(HexValue(text + 2, 1)) - addressBytes - 1;
    if (count < 0)
        return Invalid();
    const size_t checksumColumn = dataColumn + 2 * static_cast<size_t>(count);
    if (line.Fields < checksumColumn + 2 ||
        !OnlyBlanks(text + checksumColumn + 2, text + line.Fields))
        return Invalid();
    if (verify) {
        uint32_t sum = 0;
        if (!AddHexBytes(text + 2, 1 + static_cast<size_t>(addressBytes + count) + 1, sum))
            return Invalid();
        if ((sum & 0xFF) != 0xFF) {
            const uint32_t checksum = HexValue(text + checksumColumn, 1);
            return WrongChecksum(checksum, ~(sum - checksum));
        }
    }
    if (text[1] < '1' || text[1] > '3')
        return TRecord();
    TRecord record;
    record.Kind = TRecordKind::Data;
    record.Address = HexValue(text + 4, addressBytes);
    record.Count = count;
    record.Data = text + dataColumn;
    return record;
}

void FailAtLine(TImageReadResult& result, TImageFailure failure, const TLineReader& line) {
    result.Failure = failure;
    result.Line = line.Number;
    // Shown with %s: the text ends at a NUL as it would in any C string.
    result.LineText.assign(line.Text, strnlen(line.Text, line.Size));
}

// Fails the load at the record if it is no good record; true when it is.
bool AcceptRecord(const TRecord& record, TImageFailure badRecord, const TLineReader& line,
                  TImageReadResult& result) {
    if (record.Kind == TRecordKind::Invalid) {
        FailAtLine(result, badRecord, line);
        return false;
    }
    if (record.Kind == TRecordKind::BadChecksum) {
        FailAtLine(result, TImageFailure::BadChecksum, line);
        result.Checksum = record.Checksum;
        result.ExpectedChecksum = record.Expected;
        return false;
    }
    return true;
}

// The span of a text file's data: from its lowest address to just after its highest one.
struct TSpan {
    int64_t Lowest = -1;
    int64_t Highest = -1;
    int Lines = 0;            // the lines the measure saw
    uint64_t Fingerprint = 0; // and what they held
};

// The first pass: checks every record and measures the span of the data records. A record
// without data bytes defines no address. False, with the failure in result, at the first bad
// record.
template <class TDecoder>
bool MeasureRecords(TRegularFileReader& file, TDecoder decode, TImageFailure badRecord,
                    TImageReadResult& result, TSpan& span) {
    int64_t base = 0;
    TLineReader measure(file);
    while (measure.Next()) {
        const TRecord record = decode(measure, base, true);
        if (!AcceptRecord(record, badRecord, measure, result))
            return false;
        if (record.Kind == TRecordKind::Base)
            base = record.Base;
        if (record.Kind != TRecordKind::Data || record.Count == 0)
            continue;
        if (record.Address + record.Count > MaxImageAddress || record.Address >= MaxImageAddress) {
            FailAtLine(result, TImageFailure::AddressTooHigh, measure);
            result.Address = std::max(record.Address, MaxImageAddress);
            return false;
        }
        if (span.Lowest == -1 || record.Address < span.Lowest)
            span.Lowest = record.Address;
        if (span.Highest == -1 || record.Address + record.Count > span.Highest)
            span.Highest = record.Address + record.Count;
    }
    if (measure.Failed()) {
        result.Failure = TImageFailure::CannotRead;
        return false;
    }
    span.Lines = measure.Number;
    span.Fingerprint = measure.Fingerprint();
    return true;
}

// The second pass: stores the data records into the image in file order, so a later record
// overwrites an earlier one at the same address. It must see the very file the first pass
// measured: one that changed in between (a build tool rewriting it) is refused rather than
// loaded half old, half new.
template <class TDecoder>
void FillRecords(TRegularFileReader& file, TDecoder decode, const TSpan& span,
                 TImageReadResult& result, TFileImage& image) {
    if (!file.Rewind()) {
        result.Failure = TImageFailure::CannotRead;
        return;
    }
    int64_t base = 0;
    bool same = true;
    TLineReader fill(file);
    while (same && fill.Next()) {
        const TRecord record = decode(fill, base, false);
        if (record.Kind == TRecordKind::Base)
            base = record.Base;
        else if (record.Kind == TRecordKind::Invalid)
            same = false;
        else if (record.Kind == TRecordKind::Data && record.Count > 0) {
            same = record.Address >= span.Lowest && record.Address + record.Count <= span.Highest;
            if (same)
                StoreHexBytes(record.Data, record.Count,
                              image.Data() + (record.Address - span.Lowest));
        }
    }
    if (fill.Failed())
        result.Failure = TImageFailure::CannotRead;
    else if (!same || fill.Number != span.Lines || fill.Fingerprint() != span.Fingerprint)
        result.Failure = TImageFailure::Changed;
}

// Two passes over the lines, so that the image is allocated once at its final size.
template <class TDecoder>
void ReadRecords(TRegularFileReader& file, TDecoder decode, TImageFailure badRecord,
                 TImageReadResult& result, TFileImage& image) {
    TSpan span;
    if (!MeasureRecords(file, decode, badRecord, result, span))
        return;
    const int64_t length = span.Highest - span.Lowest;
    if (length > MaxImageLength) {
        result.Failure = TImageFailure::TooLarge;
        result.Address = span.Lowest;
        result.SpanLength = length;
        return;
    }
    if (!image.Allocate(static_cast<int32_t>(length))) {
        result.Failure = TImageFailure::OutOfMemory;
        result.SpanLength = length;
        return;
    }
    if (length > 0)
        std::memset(image.Data(), 0xFF, static_cast<size_t>(length));
    result.Start = static_cast<int32_t>(span.Lowest);
    result.End = static_cast<int32_t>(span.Highest - 1);
    result.Length = static_cast<int32_t>(length);
    FillRecords(file, decode, span, result, image);
}

TImageFormat RecogniseFormat(const char* first) {
    const auto decimal = [](char c) { return c >= '0' && c <= '9'; };
    if (!decimal(first[1]) || !decimal(first[2]))
        return TImageFormat::Binary;
    if (first[0] == ':')
        return TImageFormat::IntelHex;
    if (first[0] == 'S')
        return TImageFormat::MotorolaS;
    return TImageFormat::Binary;
}

// The text format a file's name promises (by its extension, in any letter case), Binary for
// any other name.
TImageFormat FormatOfName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return TImageFormat::Binary;
    std::string extension = path.substr(dot + 1);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    for (const char* intel : {"hex", "ihx", "ihex"})
        if (extension == intel)
            return TImageFormat::IntelHex;
    for (const char* motorola : {"srec", "s19", "s28", "s37", "mot"})
        if (extension == motorola)
            return TImageFormat::MotorolaS;
    return TImageFormat::Binary;
}

void ReadBinary(TRegularFileReader& file, TImageReadResult& result, TFileImage& image) {
    const int64_t size = file.Size();
    if (size < 3) { // 3 bytes were read, yet the file claims less: it is being rewritten
        result.Failure = TImageFailure::CannotRead;
        return;
    }
    if (size > MaxImageLength) {
        result.Failure = TImageFailure::TooLarge;
        result.Address = 0;
        result.SpanLength = size;
        return;
    }
    if (!image.Allocate(static_cast<int32_t>(size))) {
        result.Failure = TImageFailure::OutOfMemory;
        result.SpanLength = size;
        return;
    }
    if (!file.Rewind() || file.Read(image.Data(), size) != size) {
        result.Failure = TImageFailure::CannotRead;
        return;
    }
    result.Start = 0;
    result.Length = static_cast<int32_t>(size);
    result.End = result.Length - 1;
}

} // namespace

TImageReadResult ReadImageFile(const std::string& path, TFileImage& image) {
    image.Clear();
    TImageReadResult result;
    TRegularFileReader file;
    if (!file.Open(path.c_str())) {
        result.Failure = TImageFailure::CannotOpen;
        result.Reason = file.Reason();
        return result;
    }
    result.Modified = static_cast<std::time_t>(file.Modified());

    char first[4];
    const long long got = file.Read(first, sizeof first);
    if (got < 0) {
        result.Failure = TImageFailure::CannotRead;
        return result;
    }
    if (got < 3) {
        result.Failure = TImageFailure::TooShort;
        result.FileSize = got;
        return result;
    }
    if (HasElfMark(first, static_cast<size_t>(got))) {
        ReadElfImage(file, result, image);
        if (!result.Ok())
            image.Clear();
        return result;
    }
    result.Format = RecogniseFormat(first);
    const TImageFormat named = FormatOfName(path);
    if (result.Format == TImageFormat::Binary && named != TImageFormat::Binary) {
        result.Failure = TImageFailure::NotNamedFormat;
        result.NamedFormat = named;
    } else if (result.Format == TImageFormat::Binary)
        ReadBinary(file, result, image);
    else if (!file.Rewind())
        result.Failure = TImageFailure::CannotRead;
    else if (result.Format == TImageFormat::IntelHex)
        ReadRecords(file, DecodeIntel, TImageFailure::BadIntelRecord, result, image);
    else
        ReadRecords(file, DecodeMotorola, TImageFailure::BadMotorolaRecord, result, image);
    if (!result.Ok())
        image.Clear();
    return result;
}

TImageMessage ImageFailureMessage(const TImageReadResult& result, const std::string& path) {
    const char* file = path.c_str();
    switch (result.Failure) {
    case TImageFailure::None:
        break;
    case TImageFailure::CannotOpen:
        if (result.Reason.empty())
            return {FormatText("Unable to open:\n%s", file), true};
        return {FormatText("Unable to open:\n%s\n%s", file, result.Reason.c_str()), true};
    case TImageFailure::TooShort:
        return {FormatText("Input file:\n%s\nhas insufficient length: %d bytes.", file,
                           static_cast<int>(result.FileSize)),
                true};
    case TImageFailure::BadIntelRecord:
        return {FormatText("File doesn't appear to have valid Intel HEX record at line %d:\n%s",
                           result.Line, result.LineText.c_str()),
                false};
    case TImageFailure::BadMotorolaRecord:
        return {FormatText("File doesn't appear to have valid Motorola SREC record at line %d:\n%s",
                           result.Line, result.LineText.c_str()),
                false};
    case TImageFailure::BadChecksum:
        return {FormatText("File has %s record with wrong checksum %02X (expected %02X) at line "
                           "%d:\n%s",
                           result.Format == TImageFormat::IntelHex ? "Intel HEX" : "Motorola SREC",
                           result.Checksum, result.ExpectedChecksum, result.Line,
                           result.LineText.c_str()),
                false};
    case TImageFailure::CannotRead:
        return {FormatText("Unable to read file:\n%s", file), true};
    case TImageFailure::Changed:
        return {
            FormatText("Input file:\n%s\nchanged while it was being read; load it again.", file),
            true};
    case TImageFailure::AddressTooHigh:
        if (result.Format == TImageFormat::Elf)
            return {FormatText("Input file:\n%s\nholds data at address %s or above.\n"
                               "Addresses from 0x80000000 upwards cannot be loaded.",
                               file, AddressText(result.Address).c_str()),
                    true};
        return {FormatText("Input file:\n%s\nholds data at address %s or above at line %d:\n%s\n"
                           "Addresses from 0x80000000 upwards cannot be loaded.",
                           file, AddressText(result.Address).c_str(), result.Line,
                           result.LineText.c_str()),
                false};
    case TImageFailure::TooLarge:
        return {FormatText("Input file:\n%s\nspans %lld bytes from %s, more than the %lld MiB "
                           "an image can hold.",
                           file, static_cast<long long>(result.SpanLength),
                           AddressText(result.Address).c_str(),
                           static_cast<long long>(MaxImageLength >> 20)),
                true};
    case TImageFailure::OutOfMemory:
        return {FormatText("Not enough memory to load:\n%s\n(%lld bytes needed)", file,
                           static_cast<long long>(result.SpanLength)),
                true};
    case TImageFailure::NotNamedFormat:
        return {FormatText("Input file:\n%s\nis named as %s file but holds no %s.\n"
                           "Rename it (to .bin, for example) to load it as a binary image.",
                           file,
                           result.NamedFormat == TImageFormat::IntelHex ? "an Intel HEX"
                                                                        : "a Motorola S-record",
                           result.NamedFormat == TImageFormat::IntelHex ? "Intel HEX records"
                                                                        : "S-records"),
                true};
    case TImageFailure::ElfUnreadable:
        return {FormatText("Input file:\n%s\nis not a readable ELF file: %s.", file,
                           result.Reason.c_str()),
                true};
    case TImageFailure::ElfNot32Bit:
        return {FormatText("Input file:\n%s\nis not a 32-bit ELF file; only 32-bit ARM "
                           "executables can be loaded.",
                           file),
                true};
    case TImageFailure::ElfBigEndian:
        return {FormatText("Input file:\n%s\nis not a little-endian ELF file; only "
                           "little-endian ARM executables can be loaded.",
                           file),
                true};
    case TImageFailure::ElfWrongMachine:
        return {FormatText("Input file:\n%s\nis an ELF file for %s, not for ARM.", file,
                           ElfMachineName(result.Machine).c_str()),
                true};
    case TImageFailure::ElfNotExecutable:
        return {FormatText("Input file:\n%s\nis an ELF file of type %d, not an executable: "
                           "load the linked program.",
                           file, result.ElfType),
                true};
    case TImageFailure::ElfNoLoadableData:
        return {FormatText("Input file:\n%s\nholds no loadable data: no program segment has "
                           "bytes in the file.",
                           file),
                true};
    case TImageFailure::ElfSegmentPastEnd:
        return {FormatText("Input file:\n%s\nis damaged: a segment of %lld bytes at file offset "
                           "%lld reaches past the file's end (%lld bytes).",
                           file, static_cast<long long>(result.SpanLength),
                           static_cast<long long>(result.Address),
                           static_cast<long long>(result.FileSize)),
                true};
    case TImageFailure::ElfOverlap:
        return {FormatText("Input file:\n%s\nhas segments that overlap: %lld bytes at %s and "
                           "%lld bytes at %s.",
                           file, static_cast<long long>(result.Segments[0].Length),
                           AddressText(result.Segments[0].Address).c_str(),
                           static_cast<long long>(result.Segments[1].Length),
                           AddressText(result.Segments[1].Address).c_str()),
                true};
    }
    return {};
}

std::vector<std::string> ImageSummaryLines(const TImageReadResult& result,
                                           const std::string& path) {
    std::vector<std::string> lines{"Loaded file:   " + path,
                                   std::string("Type:          ") + ImageFormatName(result.Format),
                                   "Start address: " + AddressWithDecimal(result.Start),
                                   "End address:   " + AddressWithDecimal(result.End),
                                   "Length:        " + AddressWithDecimal(result.Length)};
    if (result.Format == TImageFormat::Elf) {
        lines.push_back("Entry point:   " + AddressText(result.Entry));
        for (const TImageSegment& segment : result.Segments)
            lines.push_back("Segment:       " + AddressText(segment.Address) + ", length " +
                            AddressWithDecimal(static_cast<int32_t>(segment.Length)));
    }
    return lines;
}

std::string ImageRefreshedLine(const TImageReadResult& result) {
    const QTime time =
        QDateTime::fromSecsSinceEpoch(static_cast<qint64>(result.Modified)).toLocalTime().time();
    return FormatText("File content refreshed. (file time stamp: %d:%02d:%02d)", time.hour(),
                      time.minute(), time.second());
}

#include "ImageFile.h"
#include "HexText.h"

#include <QDateTime>
#include <QFile>
#include <QString>

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

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
// Lines as the reader sees them: at most 255 characters each, ending after a line feed, which
// stays in the line together with any carriage return before it. A longer line comes in several
// pieces, and each piece counts as a line.

constexpr size_t MaxPieceLength = 255;

class TLineReader {
public:
    TLineReader(const char* text, size_t size) : FNext(text), FEnd(text + size) {}

    bool Next() {
        do {
            if (FNext == FEnd)
                return false;
            const bool previousCut = Size == MaxPieceLength && Text[Size - 1] != '\n';
            Cut();
            // A line of exactly 255 characters leaves only its line end for the next piece:
            // that is no blank line, and no record to check.
            if (!(previousCut && Fields == 0))
                return true;
        } while (true);
    }

    const char* Text = nullptr;
    size_t Size = 0;   // characters as read
    size_t Fields = 0; // characters before the line end: all that a record may use
    int Number = 0;

private:
    void Cut() {
        const size_t limit = std::min(static_cast<size_t>(FEnd - FNext), MaxPieceLength);
        const void* feed = std::memchr(FNext, '\n', limit);
        Text = FNext;
        Size = feed ? static_cast<size_t>(static_cast<const char*>(feed) - FNext) + 1 : limit;
        FNext += Size;
        Fields = Size;
        if (Fields > 0 && Text[Fields - 1] == '\n')
            --Fields;
        if (Fields > 0 && Text[Fields - 1] == '\r')
            --Fields;
        ++Number;
    }

    const char* FNext;
    const char* FEnd;
};

// The whole text, read once and held for both passes. It is copied rather than mapped: a file
// that its build tool rewrites while it is being read would then end the program with a bus
// error, where a copy merely holds what was read.
class TFileText {
public:
    bool Load(QFile& file) {
        if (!file.seek(0))
            return false;
        try {
            const qint64 size = file.size();
            if (size > 0 && static_cast<quint64>(size) < FCopy.max_size())
                FCopy.reserve(static_cast<size_t>(size));
            char chunk[65536];
            for (;;) {
                const qint64 got = file.read(chunk, sizeof chunk);
                if (got < 0)
                    return false;
                if (got == 0)
                    break;
                FCopy.append(chunk, static_cast<size_t>(got));
            }
        } catch (const std::bad_alloc&) {
            return false;
        } catch (const std::length_error&) {
            return false;
        }
        return true;
    }
    const char* Text() const { return FCopy.data(); }
    size_t Size() const { return FCopy.size(); }

private:
    std::string FCopy;
};

// ---------------------------------------------------------------------------------------------
// Records

enum class TRecordKind { Data, Base, Skip, Invalid };

struct TRecord {
    TRecordKind Kind = TRecordKind::Skip;
    int64_t Address = 0;        // Data: target address of the first byte
    int Count = 0;              // Data: number of bytes
    const char* Data = nullptr; // Data: the first byte's two digits
    int64_t Base = 0;           // Base: the new upper address bits
};

TRecord Invalid() {
    TRecord record;
    record.Kind = TRecordKind::Invalid;
    return record;
}

// ':' count(2) address(4) type(2) data(2 * count) checksum; the checksum is not read.
TRecord DecodeIntel(const TLineReader& line, int64_t base, bool checkData) {
    const char* text = line.Text;
    if (text[0] != ':')
        return Invalid();
    constexpr size_t DataColumn = 9;
    if (line.Fields < DataColumn || !AllHex(text + 1, DataColumn - 1))
        return Invalid();
    const int count = static_cast<int>(HexValue(text + 1, 1));
    const uint32_t address = HexValue(text + 3, 2);
    const uint32_t type = HexValue(text + 7, 1);
    const char* data = text + DataColumn;
    TRecord record;
    if (type == 0x00) {
        if (line.Fields < DataColumn + 2 * static_cast<size_t>(count) ||
            (checkData && !AllHex(data, 2 * static_cast<size_t>(count))))
            return Invalid();
        record.Kind = TRecordKind::Data;
        record.Address = base + address;
        record.Count = count;
        record.Data = data;
    } else if (type == 0x02 || type == 0x04) {
        // Extended segment address (paragraphs of 16 bytes, written by objcopy for images
        // below 1 MiB) or extended linear address (the upper 16 address bits).
        if (line.Fields < DataColumn + 4 || !AllHex(data, 4))
            return Invalid();
        record.Kind = TRecordKind::Base;
        record.Base = static_cast<int64_t>(HexValue(data, 2)) << (type == 0x02 ? 4 : 16);
    }
    return record;
}

// 'S' type count(2) address(4, 6 or 8) data checksum; the count covers address, data and
// checksum; the checksum is not read. S0 headers, S5/S6 record counts and S7/S8/S9 ends are
// skipped.
TRecord DecodeMotorola(const TLineReader& line, int64_t, bool checkData) {
    const char* text = line.Text;
    if (text[0] != 'S' || line.Size < 2)
        return Invalid();
    int addressBytes = 0;
    switch (text[1]) {
    case '1':
        addressBytes = 2;
        break;
    case '2':
        addressBytes = 3;
        break;
    case '3':
        addressBytes = 4;
        break;
    case '0':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9':
        return TRecord();
    default:
        return Invalid();
    }
    const size_t dataColumn = 4 + 2 * static_cast<size_t>(addressBytes);
    if (line.Fields < dataColumn || !AllHex(text + 2, dataColumn - 2))
        return Invalid();
    const int count = static_cast<int>(HexValue(text + 2, 1)) - addressBytes - 1;
    if (count < 0)
        return Invalid();
    const char* data = text + dataColumn;
    if (line.Fields < dataColumn + 2 * static_cast<size_t>(count) ||
        (checkData && !AllHex(data, 2 * static_cast<size_t>(count))))
        return Invalid();
    TRecord record;
    record.Kind = TRecordKind::Data;
    record.Address = HexValue(text + 4, addressBytes);
    record.Count = count;
    record.Data = data;
    return record;
}

void FailAtLine(TImageReadResult& result, TImageFailure failure, const TLineReader& line) {
    result.Failure = failure;
    result.Line = line.Number;
    // Shown with %s: the text ends at a NUL as it would in any C string.
    result.LineText.assign(line.Text, strnlen(line.Text, line.Size));
}

// Two passes over the lines: measure the span of all data records, then allocate the image
// once at its final size and fill it in file order, so a later record overwrites an earlier
// one at the same address.
// The data digits are checked in the first pass only; the second reads lines known to be good.
template <class TDecoder>
void ReadRecords(const TFileText& text, TDecoder decode, TImageFailure badRecord,
                 TImageReadResult& result, TFileImage& image) {
    int64_t lowest = -1;
    int64_t highest = -1;
    int64_t base = 0;
    TLineReader measure(text.Text(), text.Size());
    while (measure.Next()) {
        const TRecord record = decode(measure, base, true);
        if (record.Kind == TRecordKind::Invalid)
            return FailAtLine(result, badRecord, measure);
        if (record.Kind == TRecordKind::Base)
            base = record.Base;
        if (record.Kind != TRecordKind::Data)
            continue;
        if (record.Address + record.Count > MaxImageAddress || record.Address >= MaxImageAddress) {
            FailAtLine(result, TImageFailure::AddressTooHigh, measure);
            result.Address = std::max(record.Address, MaxImageAddress);
            return;
        }
        if (lowest == -1 || record.Address < lowest)
            lowest = record.Address;
        if (highest == -1 || record.Address + record.Count > highest)
            highest = record.Address + record.Count;
    }

    const int64_t length = highest - lowest;
    if (length > MaxImageLength) {
        result.Failure = TImageFailure::TooLarge;
        result.Address = lowest;
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
    result.Start = static_cast<int32_t>(lowest);
    result.End = static_cast<int32_t>(highest - 1);
    result.Length = static_cast<int32_t>(length);

    base = 0;
    TLineReader fill(text.Text(), text.Size());
    while (fill.Next()) {
        const TRecord record = decode(fill, base, false);
        if (record.Kind == TRecordKind::Base)
            base = record.Base;
        else if (record.Kind == TRecordKind::Data)
            StoreHexBytes(record.Data, record.Count, image.Data() + (record.Address - lowest));
    }
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

void ReadBinary(QFile& file, TImageReadResult& result, TFileImage& image) {
    const int64_t size = file.size();
    if (size < 3) { // 3 bytes were read, yet the file claims less: a device, not a file
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
    if (!file.seek(0) ||
        file.read(reinterpret_cast<char*>(image.Data()), size) != static_cast<qint64>(size)) {
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
    QFile file(QString::fromLocal8Bit(path.data(), static_cast<qsizetype>(path.size())));
    if (!file.open(QIODevice::ReadOnly)) {
        result.Failure = TImageFailure::CannotOpen;
        return result;
    }
    result.Modified = static_cast<std::time_t>(
        file.fileTime(QFileDevice::FileModificationTime).toSecsSinceEpoch());

    char first[3];
    if (file.read(first, sizeof first) != static_cast<qint64>(sizeof first)) {
        result.Failure = TImageFailure::TooShort;
        result.FileSize = file.size();
        return result;
    }
    result.Format = RecogniseFormat(first);
    if (result.Format == TImageFormat::Binary) {
        ReadBinary(file, result, image);
    } else {
        TFileText text;
        if (!text.Load(file)) {
            result.Failure = TImageFailure::CannotRead;
        } else if (result.Format == TImageFormat::IntelHex) {
            ReadRecords(text, DecodeIntel, TImageFailure::BadIntelRecord, result, image);
        } else {
            ReadRecords(text, DecodeMotorola, TImageFailure::BadMotorolaRecord, result, image);
        }
    }
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
        return {FormatText("Unable to open:\n%s", file), true};
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
    case TImageFailure::CannotRead:
        return {FormatText("Unable to read file:\n%s", file), true};
    case TImageFailure::AddressTooHigh:
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
    }
    return {};
}

std::vector<std::string> ImageSummaryLines(const TImageReadResult& result,
                                           const std::string& path) {
    return {"Loaded file:   " + path,
            std::string("Type:          ") + ImageFormatName(result.Format),
            "Start address: " + AddressWithDecimal(result.Start),
            "End address:   " + AddressWithDecimal(result.End),
            "Length:        " + AddressWithDecimal(result.Length)};
}

std::string ImageRefreshedLine(const TImageReadResult& result) {
    const QTime time =
        QDateTime::fromSecsSinceEpoch(static_cast<qint64>(result.Modified)).toLocalTime().time();
    return FormatText("File content refreshed. (file time stamp: %d:%02d:%02d)", time.hour(),
                      time.minute(), time.second());
}

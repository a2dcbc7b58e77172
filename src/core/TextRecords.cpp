#include "TextRecords.h"
#include "File.h"

#include <algorithm>
#include <cstring>

namespace {

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

void StoreHexBytes(const char* text, int count, uint8_t* out) {
    for (int i = 0; i < count; ++i, text += 2)
        out[i] = static_cast<uint8_t>((DigitValue(text[0]) << 4) | DigitValue(text[1]));
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
bool MeasureRecords(TRegularFileReader& file, TRecordDecoder decode, TImageFailure badRecord,
                    TImageReadResult& result, TSpan& span) {
    int64_t base = 0;
    TLineReader measure(file);
    while (measure.Next()) {
        const TRecord record = decode(measure.Text, measure.Fields, base, true);
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
void FillRecords(TRegularFileReader& file, TRecordDecoder decode, const TSpan& span,
                 TImageReadResult& result, TFileImage& image) {
    if (!file.Rewind()) {
        result.Failure = TImageFailure::CannotRead;
        return;
    }
    int64_t base = 0;
    bool same = true;
    TLineReader fill(file);
    while (same && fill.Next()) {
        const TRecord record = decode(fill.Text, fill.Fields, base, false);
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

} // namespace

void ReadRecords(TRegularFileReader& file, TRecordDecoder decode, TImageFailure badRecord,
                 TImageReadResult& result, TFileImage& image) {
    if (!file.Rewind()) { // the dispatcher has read the first bytes
        result.Failure = TImageFailure::CannotRead;
        return;
    }
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

bool StartsWithRecord(const char* first, char marker) {
    const auto decimal = [](char c) { return c >= '0' && c <= '9'; };
    return first[0] == marker && decimal(first[1]) && decimal(first[2]);
}

std::optional<TImageMessage> RecordFailureMessage(const TImageReadResult& result,
                                                  const std::string& path, const char* formatName) {
    const char* file = path.c_str();
    switch (result.Failure) {
    case TImageFailure::BadChecksum:
        return TImageMessage{
            ImageText("File has %s record with wrong checksum %02X (expected %02X) "
                      "at line %d:\n%s",
                      formatName, result.Checksum, result.ExpectedChecksum, result.Line,
                      result.LineText.c_str()),
            false};
    case TImageFailure::AddressTooHigh:
        return TImageMessage{
            ImageText("Input file:\n%s\nholds data at address %s or above at line %d:\n%s\n"
                      "Addresses from 0x80000000 upwards cannot be loaded.",
                      file, AddressText(result.Address).c_str(), result.Line,
                      result.LineText.c_str()),
            false};
    case TImageFailure::Changed:
        return TImageMessage{
            ImageText("Input file:\n%s\nchanged while it was being read; load it again.", file),
            true};
    default:
        return std::nullopt;
    }
}

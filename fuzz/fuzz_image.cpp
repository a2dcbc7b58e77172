// Image files: any bytes load or fail cleanly, with a result that agrees with the image; a
// binary file loads byte for byte; and a well-formed Intel HEX or S-record file loads exactly
// the bytes its data records define, spanning from the first to the last of them, gaps 0xFF; an
// ELF file that loads holds, at each segment's load address, that segment's bytes of the file.

#include "FuzzSupport.h"
#include "ImageFile.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

void CheckConsistent(const TImageReadResult& result, const TFileImage& image, size_t size) {
    if (size < 3)
        FUZZ_CHECK(result.Failure == TImageFailure::TooShort, "failure %d for %zu bytes",
                   static_cast<int>(result.Failure), size);
    if (!result.Ok()) {
        FUZZ_CHECK(image.Length() == 0, "a failed load left %d bytes", image.Length());
        return;
    }
    FUZZ_CHECK(image.Length() == result.Length, "image %d bytes, result %d", image.Length(),
               result.Length);
    FUZZ_CHECK(result.Length >= 0, "length %d", result.Length);
    if (result.Length > 0) {
        FUZZ_CHECK(image.Data() != nullptr, "no buffer for %d bytes", result.Length);
        FUZZ_CHECK(result.Start >= 0, "start %d", result.Start);
        FUZZ_CHECK(result.End == result.Start + result.Length - 1, "start %d end %d length %d",
                   result.Start, result.End, result.Length);
    }
}

void CheckBinary(const TImageReadResult& result, const TFileImage& image, const uint8_t* data,
                 size_t size) {
    FUZZ_CHECK(result.Start == 0 && static_cast<size_t>(result.Length) == size,
               "binary of %zu bytes read as %d bytes at %d", size, result.Length, result.Start);
    FUZZ_CHECK(std::memcmp(image.Data(), data, size) == 0, "binary bytes differ from the file");
}

// ---------------------------------------------------------------------------------------------
// Well-formed text files, decoded independently of the reader.

int Digit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

char UpperDigit(unsigned value) {
    return "0123456789ABCDEF"[value & 15];
}

// A record line: its marker characters, its bytes, and its line end.
struct TRecordLine {
    std::string Marker; // ":" or "S" and the type digit
    std::vector<uint8_t> Bytes;
    std::string LineEnd;
};

// Lines that end with LF or CR LF (the last one may end with the file), each short enough to
// be read whole, made of a marker and an even number of hexadecimal digits.
std::optional<std::vector<TRecordLine>> SplitRecords(const std::string& text, size_t markerSize) {
    std::vector<TRecordLine> lines;
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find('\n', begin);
        const size_t next = end == std::string::npos ? text.size() : end + 1;
        if (end == std::string::npos)
            end = text.size();
        if (next - begin > 200)
            return std::nullopt;
        TRecordLine line;
        size_t fieldsEnd = end;
        if (fieldsEnd > begin && text[fieldsEnd - 1] == '\r')
            --fieldsEnd;
        line.LineEnd = text.substr(fieldsEnd, next - fieldsEnd);
        if (fieldsEnd - begin < markerSize || (fieldsEnd - begin - markerSize) % 2 != 0)
            return std::nullopt;
        line.Marker = text.substr(begin, markerSize);
        for (size_t i = begin + markerSize; i < fieldsEnd; i += 2) {
            const int high = Digit(text[i]);
            const int low = Digit(text[i + 1]);
            if (high < 0 || low < 0)
                return std::nullopt;
            line.Bytes.push_back(static_cast<uint8_t>(high * 16 + low));
        }
        lines.push_back(line);
        begin = next;
    }
    return lines;
}

std::string Join(const std::vector<TRecordLine>& lines) {
    std::string text;
    for (const TRecordLine& line : lines) {
        text += line.Marker;
        for (uint8_t byte : line.Bytes) {
            text += UpperDigit(byte >> 4);
            text += UpperDigit(byte);
        }
        text += line.LineEnd;
    }
    return text;
}

// What a file defines: the last value written at each address.
struct TExpectedImage {
    std::map<int64_t, uint8_t> Bytes;
    std::vector<std::pair<int64_t, int64_t>> Records; // first address, byte count

    void Store(int64_t address, const uint8_t* data, int count) {
        if (count > 0)
            Records.push_back({address, count});
        for (int i = 0; i < count; ++i)
            Bytes[address + i] = data[i];
    }
};

// Intel HEX with data (00), end (01) and extended linear address (04) records, checksums
// set right.
std::optional<TExpectedImage> DecodeIntel(std::vector<TRecordLine>& lines) {
    TExpectedImage expected;
    int64_t base = 0;
    for (TRecordLine& line : lines) {
        std::vector<uint8_t>& bytes = line.Bytes;
        if (line.Marker != ":" || bytes.size() < 5 || bytes.size() != bytes[0] + 5u)
            return std::nullopt;
        const int count = bytes[0];
        const int64_t address = base + (bytes[1] << 8 | bytes[2]);
        const uint8_t type = bytes[3];
        if (type == 0x00)
            expected.Store(address, &bytes[4], count);
        else if (type == 0x04 && count == 2)
            base = static_cast<int64_t>(bytes[4] << 8 | bytes[5]) << 16;
        else if (type != 0x01 || count != 0)
            return std::nullopt;
        unsigned sum = 0;
        for (size_t i = 0; i + 1 < bytes.size(); ++i)
            sum += bytes[i];
        bytes.back() = static_cast<uint8_t>(0x100 - (sum & 0xFF));
    }
    return expected;
}

// S-records of types 0, 1, 2, 3, 7, 8 and 9, checksums set right.
std::optional<TExpectedImage> DecodeMotorola(std::vector<TRecordLine>& lines) {
    TExpectedImage expected;
    for (TRecordLine& line : lines) {
        std::vector<uint8_t>& bytes = line.Bytes;
        if (line.Marker.size() != 2 || line.Marker[0] != 'S' || bytes.empty() ||
            bytes.size() != bytes[0] + 1u)
            return std::nullopt;
        const char type = line.Marker[1];
        const int addressBytes = type == '2' || type == '8'   ? 3
                                 : type == '3' || type == '7' ? 4
                                                              : 2;
        if (type == '\0' || !std::strchr("0123789", type) || bytes[0] < addressBytes + 1)
            return std::nullopt;
        if (type >= '1' && type <= '3') {
            int64_t address = 0;
            for (int i = 0; i < addressBytes; ++i)
                address = address << 8 | bytes[1 + i];
            expected.Store(address, &bytes[1 + addressBytes], bytes[0] - addressBytes - 1);
        }
        unsigned sum = 0;
        for (size_t i = 0; i + 1 < bytes.size(); ++i)
            sum += bytes[i];
        bytes.back() = static_cast<uint8_t>(~sum);
    }
    return expected;
}

void CheckWellFormedText(const uint8_t* data, size_t size) {
    if (size < 3 || (data[0] != ':' && data[0] != 'S') || Digit(data[1]) < 0 || data[1] > '9' ||
        Digit(data[2]) < 0 || data[2] > '9')
        return;
    const bool intel = data[0] == ':';
    std::optional<std::vector<TRecordLine>> lines =
        SplitRecords(std::string(reinterpret_cast<const char*>(data), size), intel ? 1 : 2);
    if (!lines)
        return;
    const std::optional<TExpectedImage> expected =
        intel ? DecodeIntel(*lines) : DecodeMotorola(*lines);
    if (!expected)
        return;

    int64_t lowest = 0;
    int64_t highest = 0;
    if (!expected->Bytes.empty()) {
        lowest = expected->Bytes.begin()->first;
        highest = expected->Bytes.rbegin()->first + 1;
    }
    // Beyond what an image can hold: the reader refuses such files with a reason.
    if (highest > MaxImageAddress || highest - lowest > MaxImageLength)
        return;

    const std::string text = Join(*lines);
    const std::string path = WriteScratchFile("wellformed", text.data(), text.size());
    TFileImage image;
    const TImageReadResult result = ReadImageFile(path, image);
    FUZZ_CHECK(result.Ok(), "a well-formed file failed to load (failure %d, line %d)\n%s",
               static_cast<int>(result.Failure), result.Line, text.c_str());
    FUZZ_CHECK(result.Format == (intel ? TImageFormat::IntelHex : TImageFormat::MotorolaS),
               "format %d", static_cast<int>(result.Format));
    if (expected->Bytes.empty()) {
        FUZZ_CHECK(image.Length() == 0, "a file without data made an image of %d bytes\n%s",
                   image.Length(), text.c_str());
        return;
    }
    FUZZ_CHECK(result.Start == lowest && result.Length == highest - lowest,
               "image at %d, %d bytes; its data spans %lld bytes from %lld\n%s", result.Start,
               result.Length, static_cast<long long>(highest - lowest),
               static_cast<long long>(lowest), text.c_str());
    for (const auto& [address, value] : expected->Bytes)
        FUZZ_CHECK(image[static_cast<int32_t>(address - lowest)] == value,
                   "byte at %lld is %02X, the file says %02X\n%s", static_cast<long long>(address),
                   image[static_cast<int32_t>(address - lowest)], value, text.c_str());
    // The bytes just outside each record are either another record's or gap.
    for (const auto& [first, count] : expected->Records)
        for (const int64_t address : {first - 1, first + count})
            if (address >= lowest && address < highest && !expected->Bytes.count(address))
                FUZZ_CHECK(image[static_cast<int32_t>(address - lowest)] == 0xFF,
                           "gap byte at %lld is %02X\n%s", static_cast<long long>(address),
                           image[static_cast<int32_t>(address - lowest)], text.c_str());
}

// ---------------------------------------------------------------------------------------------
// ELF files that load, read back from their program headers independently of the reader.

uint32_t Little(const uint8_t* data, size_t size, size_t offset, int bytes) {
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | (offset + i < size ? data[offset + i] : 0);
    return value;
}

bool AllErased(const uint8_t* data, int64_t length) {
    static const std::vector<uint8_t> erased(65536, 0xFF);
    for (int64_t at = 0; at < length; at += static_cast<int64_t>(erased.size())) {
        const size_t count = static_cast<size_t>(std::min<int64_t>(length - at, 65536));
        if (std::memcmp(data + at, erased.data(), count) != 0)
            return false;
    }
    return true;
}

void CheckElf(const TImageReadResult& result, const TFileImage& image, const uint8_t* data,
              size_t size) {
    FUZZ_CHECK(size >= 52 && data[4] == 1 && data[5] == 1 && Little(data, size, 18, 2) == 40,
               "loaded an ELF file that is not 32-bit little-endian ARM");
    const uint32_t headers = Little(data, size, 28, 4);
    const uint32_t entrySize = Little(data, size, 42, 2);
    const uint32_t count = Little(data, size, 44, 2);
    if (count == 0xFFFF) // the count is kept in the first section header
        return;
    struct TPart {
        int64_t Virtual, Physical, Length, Offset;
    };
    std::vector<TPart> parts;
    bool physical = false;
    for (uint32_t i = 0; i < count; ++i) {
        const size_t at = headers + static_cast<size_t>(i) * entrySize;
        FUZZ_CHECK(at + 32 <= size, "program header %u lies past the end", i);
        if (Little(data, size, at, 4) != 1 || Little(data, size, at + 16, 4) == 0)
            continue;
        physical = physical || Little(data, size, at + 12, 4) != 0;
        parts.push_back({Little(data, size, at + 8, 4), Little(data, size, at + 12, 4),
                         Little(data, size, at + 16, 4), Little(data, size, at + 4, 4)});
    }
    // Segments in address order: each in place, and only 0xFF between them. The gaps are
    // compared in blocks: a span may reach the reader's limit.
    std::sort(parts.begin(), parts.end(), [physical](const TPart& a, const TPart& b) {
        return (physical ? a.Physical : a.Virtual) < (physical ? b.Physical : b.Virtual);
    });
    int64_t end = 0;
    for (const TPart& part : parts) {
        const int64_t address = physical ? part.Physical : part.Virtual;
        const int64_t from = address - result.Start;
        FUZZ_CHECK(from >= 0 && from + part.Length <= image.Length() &&
                       part.Offset + part.Length <= static_cast<int64_t>(size),
                   "segment at %lld (%lld bytes) outside the image or the file",
                   static_cast<long long>(address), static_cast<long long>(part.Length));
        FUZZ_CHECK(std::memcmp(image.Data() + from, data + part.Offset,
                               static_cast<size_t>(part.Length)) == 0,
                   "segment at %lld differs from the file", static_cast<long long>(address));
        FUZZ_CHECK(from <= end || AllErased(image.Data() + end, from - end),
                   "a gap byte before %lld is not 0xFF", static_cast<long long>(address));
        end = std::max(end, from + part.Length);
    }
    FUZZ_CHECK(!parts.empty() &&
                   (physical ? parts[0].Physical : parts[0].Virtual) ==
                       static_cast<int64_t>(result.Start) &&
                   end == image.Length(),
               "the image does not span from the first segment to the end of the last");
    FUZZ_CHECK(parts.size() == result.Segments.size(), "%zu segments, %zu reported", parts.size(),
               result.Segments.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = WriteScratchFile("image", data, size);
    TFileImage image;
    const TImageReadResult result = ReadImageFile(path, image);
    CheckConsistent(result, image, size);
    if (result.Ok() && result.Format == TImageFormat::Binary)
        CheckBinary(result, image, data, size);
    if (result.Ok() && result.Format == TImageFormat::Elf)
        CheckElf(result, image, data, size);
    if (result.Ok())
        ImageSummaryLines(result, path);
    else
        ImageFailureMessage(result, path);
    CheckWellFormedText(data, size);
    return 0;
}

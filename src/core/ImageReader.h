#pragma once
// What every image format shares: the loaded image, the result of a read with the details its
// failure message needs, and the interface each format's reader offers the dispatcher
// (ImageFile): whether a file's first bytes are its format, reading it, and the texts of its own
// failures. A reader knows nothing of the others or of the dispatcher.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TRegularFileReader;

// The loaded program image: byte i belongs to target address start + i; gaps are 0xFF.
// Length 0 means that no image is loaded.
class TFileImage {
public:
    void Clear();
    // Releases the old buffer and makes a new one of n bytes. False, with the image left empty,
    // when the memory cannot be had.
    bool Allocate(int32_t n);

    uint8_t* Data() { return FBuffer.get(); }
    const uint8_t* Data() const { return FBuffer.get(); }
    int32_t Length() const { return FLength; }
    uint8_t& operator[](int32_t offset) { return FBuffer[offset]; }
    uint8_t operator[](int32_t offset) const { return FBuffer[offset]; }

private:
    std::unique_ptr<uint8_t[]> FBuffer;
    int32_t FLength = 0;
};

enum class TImageFormat { Binary, IntelHex, MotorolaS, Elf };

enum class TImageFailure {
    None,
    CannotOpen,        // not there, not allowed, or not a regular file: see Reason
    TooShort,          // fewer than 3 bytes
    BadIntelRecord,    // the record at Line is not a readable Intel HEX record
    BadMotorolaRecord, // the record at Line is not a readable S-record
    BadChecksum,       // the record at Line is readable, but its checksum is wrong
    CannotRead,        // the file could not be read whole
    Changed,           // the file changed between the two readings of a text file
    AddressTooHigh,    // the record at Line holds data at or above MaxImageAddress
    TooLarge,          // the image would span more than MaxImageLength bytes
    OutOfMemory,       // the image buffer could not be allocated
    NotNamedFormat,    // named like a text image (NamedFormat), but it holds none
    ElfUnreadable,     // an ELF header or program header table that cannot be read: Reason
    ElfNot32Bit,
    ElfBigEndian,
    ElfWrongMachine,   // for Machine, not ARM
    ElfNotExecutable,  // an object file or shared library: ElfType
    ElfNoLoadableData, // no loadable segment with bytes in the file
    ElfSegmentPastEnd, // a segment's bytes reach past the file's end: Reason says which
    ElfOverlap,        // the two Segments overlap
};

// A block of bytes of the image at its target address.
struct TImageSegment {
    int64_t Address = 0;
    int64_t Length = 0;
    bool operator==(const TImageSegment& other) const {
        return Address == other.Address && Length == other.Length;
    }
};

// Addresses are signed 32-bit throughout the program; data must lie below this address.
constexpr int64_t MaxImageAddress = 0x80000000LL;
// No evaluation board comes near this; a file whose records lie that far apart is refused
// rather than filling most of the computer's memory with 0xFF.
constexpr int64_t MaxImageLength = 256LL * 1024 * 1024;

struct TImageReadResult {
    TImageFailure Failure = TImageFailure::None;
    TImageFormat Format = TImageFormat::Binary;
    int32_t Start = 0; // lowest address the file defines; 0 for binary, -1 when it defines none
    int32_t End = -1;  // Start + Length - 1
    int32_t Length = 0;
    std::time_t Modified = 0; // the file's last modification
    // ELF: the loaded segments in address order, and where the program starts.
    std::vector<TImageSegment> Segments;
    uint32_t Entry = 0;

    // Details for the failure messages.
    std::string Reason;       // CannotOpen: the system's reason; ELF damage: what is wrong
    int64_t FileSize = 0;     // TooShort
    int Line = 0;             // record failures: the line, counted as read
    std::string LineText;     // and its text as read, line end included
    int64_t Address = 0;      // AddressTooHigh: the address of the offending data;
                              // TooLarge: the lowest address of the span
    int64_t SpanLength = 0;   // TooLarge, OutOfMemory: the bytes the image would need
    int Checksum = 0;         // BadChecksum: the record's checksum
    int ExpectedChecksum = 0; // and the one its bytes call for
    TImageFormat NamedFormat = TImageFormat::Binary; // NotNamedFormat: the format of the name
    int Machine = 0;                                 // ElfWrongMachine
    int ElfType = 0;                                 // ElfNotExecutable

    bool Ok() const { return Failure == TImageFailure::None; }
    // A format that defines a start address (the programming address it proposes).
    bool HasOwnStart() const { return Format != TImageFormat::Binary; }
};

struct TImageMessage {
    std::string Text;
    bool Warning = false; // shown with the warning icon; otherwise with none
};

// One image format.
class TImageReader {
public:
    virtual ~TImageReader() = default;

    // Whether a file that starts with these bytes is of this format: size is 3, or 4 when the
    // file holds that many.
    virtual bool Claims(const char* first, size_t size) const = 0;

    // Reads the file (opened, at any position) into image and fills in result: the format, the
    // span and what else the format defines, or the failure with its details.
    virtual void Read(TRegularFileReader& file, TImageReadResult& result,
                      TFileImage& image) const = 0;

    // The message for a failure of this format's own (result.Format is this format); none for
    // the failures every format shares, which the dispatcher words.
    virtual std::optional<TImageMessage> FailureMessage(const TImageReadResult& result,
                                                        const std::string& path) const = 0;
};

// For the readers' failure texts: printf into a string of any length (a message holds a path
// and a line of the file), and an address as "0x" and eight digits.
std::string ImageText(const char* format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 1, 2)))
#endif
    ;
std::string AddressText(int64_t value);

#include "ElfImage.h"
#include "File.h"

#include <gelf.h>
#include <libelf.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

// libelf's handle, released on every way out.
struct TElfCloser {
    void operator()(Elf* elf) const { elf_end(elf); }
};
using TElfHandle = std::unique_ptr<Elf, TElfCloser>;

bool LibelfReady() {
    static const bool ready = elf_version(EV_CURRENT) != EV_NONE;
    return ready;
}

void Unreadable(TImageReadResult& result, const char* reason) {
    result.Failure = TImageFailure::ElfUnreadable;
    result.Reason = reason ? reason : "its headers are damaged";
}

void UnreadableFromLibelf(TImageReadResult& result) {
    Unreadable(result, elf_errmsg(-1));
}

// A loadable segment with file data: where its bytes lie in the file and where they go.
struct TLoadSegment {
    int64_t Address;
    int64_t Length;
    int64_t Offset;
};

// The file's bytes, all of them: libelf reads its headers from memory, and the segments are
// copied out of the same buffer.
bool ReadWhole(TRegularFileReader& file, std::vector<char>& bytes, TImageReadResult& result) {
    const long long size = file.Size();
    // Debugging information makes an ELF file many times larger than its image, but not this.
    constexpr long long MaxElfFileSize = 4 * MaxImageLength;
    if (size > MaxElfFileSize) {
        Unreadable(result,
                   ("it is larger than " + std::to_string(MaxElfFileSize >> 20) + " MiB").c_str());
        return false;
    }
    try {
        bytes.resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
        result.Failure = TImageFailure::OutOfMemory;
        result.SpanLength = size;
        return false;
    }
    if (!file.Rewind() || file.Read(bytes.data(), size) != size) {
        result.Failure = TImageFailure::CannotRead;
        return false;
    }
    return true;
}

// The identification bytes first, in the order a user would want to hear them: what kind of
// file it is before what it holds.
bool CheckIdentification(const std::vector<char>& bytes, TImageReadResult& result) {
    if (bytes.size() < sizeof(Elf32_Ehdr)) {
        Unreadable(result, "its header is incomplete");
        return false;
    }
    if (bytes[EI_CLASS] != ELFCLASS32) {
        result.Failure = TImageFailure::ElfNot32Bit;
        return false;
    }
    if (bytes[EI_DATA] != ELFDATA2LSB) {
        result.Failure = TImageFailure::ElfBigEndian;
        return false;
    }
    return true;
}

bool CheckHeader(Elf* elf, GElf_Ehdr& header, TImageReadResult& result) {
    if (elf_kind(elf) != ELF_K_ELF || !gelf_getehdr(elf, &header)) {
        UnreadableFromLibelf(result);
        return false;
    }
    // libelf reads program headers at their standard size whatever the header claims.
    if (header.e_phnum != 0 && header.e_phentsize != sizeof(Elf32_Phdr)) {
        result.Failure = TImageFailure::ElfUnreadable;
        result.Reason = "its program headers are " + std::to_string(header.e_phentsize) +
                        " bytes each, not " + std::to_string(sizeof(Elf32_Phdr));
        return false;
    }
    if (header.e_machine != EM_ARM) {
        result.Failure = TImageFailure::ElfWrongMachine;
        result.Machine = header.e_machine;
        return false;
    }
    if (header.e_type != ET_EXEC) {
        result.Failure = TImageFailure::ElfNotExecutable;
        result.ElfType = header.e_type;
        return false;
    }
    return true;
}

// The segments that put bytes into memory, at their load addresses: the physical address is
// where the linker put the flash copy of initialised data; a linker that writes no physical
// addresses at all leaves every one 0, and the virtual address is then the load address.
bool CollectSegments(Elf* elf, int64_t fileSize, std::vector<TLoadSegment>& segments,
                     TImageReadResult& result) {
    size_t count = 0;
    if (elf_getphdrnum(elf, &count) != 0) {
        UnreadableFromLibelf(result);
        return false;
    }
    bool anyPhysical = false;
    std::vector<GElf_Phdr> loads;
    for (size_t i = 0; i < count; ++i) {
        GElf_Phdr header;
        if (!gelf_getphdr(elf, static_cast<int>(i), &header)) {
            UnreadableFromLibelf(result);
            return false;
        }
        if (header.p_type != PT_LOAD || header.p_filesz == 0)
            continue;
        // Both are 32-bit fields: the sum cannot wrap in 64 bits.
        if (static_cast<int64_t>(header.p_offset + header.p_filesz) > fileSize) {
            result.Failure = TImageFailure::ElfSegmentPastEnd;
            result.Reason = ImageText("a segment of %lld bytes at file offset %lld reaches past "
                                      "the file's end (%lld bytes)",
                                      static_cast<long long>(header.p_filesz),
                                      static_cast<long long>(header.p_offset),
                                      static_cast<long long>(fileSize));
            return false;
        }
        anyPhysical = anyPhysical || header.p_paddr != 0;
        loads.push_back(header);
    }
    for (const GElf_Phdr& header : loads)
        segments.push_back({static_cast<int64_t>(anyPhysical ? header.p_paddr : header.p_vaddr),
                            static_cast<int64_t>(header.p_filesz),
                            static_cast<int64_t>(header.p_offset)});
    if (segments.empty()) {
        result.Failure = TImageFailure::ElfNoLoadableData;
        return false;
    }
    return true;
}

// Sorted by address; refuses segments that the program's addresses cannot hold and segments
// that would overwrite each other (which one wins would be a guess).
bool CheckPlacement(std::vector<TLoadSegment>& segments, TImageReadResult& result) {
    std::sort(segments.begin(), segments.end(),
              [](const TLoadSegment& a, const TLoadSegment& b) { return a.Address < b.Address; });
    for (size_t i = 0; i < segments.size(); ++i) {
        const TLoadSegment& segment = segments[i];
        if (segment.Address + segment.Length > MaxImageAddress) {
            result.Failure = TImageFailure::AddressTooHigh;
            result.Address = std::max(segment.Address, MaxImageAddress);
            return false;
        }
        if (i > 0 && segments[i - 1].Address + segments[i - 1].Length > segment.Address) {
            result.Failure = TImageFailure::ElfOverlap;
            result.Segments = {{segments[i - 1].Address, segments[i - 1].Length},
                               {segment.Address, segment.Length}};
            return false;
        }
    }
    const int64_t lowest = segments.front().Address;
    const int64_t span = segments.back().Address + segments.back().Length - lowest;
    if (span > MaxImageLength) {
        result.Failure = TImageFailure::TooLarge;
        result.Address = lowest;
        result.SpanLength = span;
        return false;
    }
    return true;
}

// The name of an ELF machine number for messages: "x86-64", "AArch64", or "machine 1234".
// What a non-executable ELF file is, in the words its maker would use.
std::string ElfKindText(int type) {
    switch (type) {
    case ET_REL:
        return "a relocatable object file";
    case ET_DYN:
        return "a shared object";
    case ET_CORE:
        return "a core dump";
    default:
        break;
    }
    return "an ELF file of type " + std::to_string(type);
}

std::string ElfMachineName(int machine) {
    switch (machine) {
    case EM_SPARC:
        return "SPARC";
    case EM_386:
        return "Intel 80386";
    case EM_68K:
        return "Motorola 68000";
    case EM_MIPS:
        return "MIPS";
    case EM_PPC:
        return "PowerPC";
    case EM_SH:
        return "SuperH";
    case EM_X86_64:
        return "x86-64";
    case EM_AVR:
        return "AVR";
    case EM_XTENSA:
        return "Xtensa";
    case EM_MSP430:
        return "MSP430";
    case EM_AARCH64:
        return "AArch64";
    case EM_RISCV:
        return "RISC-V";
    default:
        return "machine " + std::to_string(machine);
    }
}

// Reads the ELF executable in file into image and fills in result: the span, the segments and
// the entry point, or the failure with its details.
void ReadElfImage(TRegularFileReader& file, TImageReadResult& result, TFileImage& image) {
    result.Format = TImageFormat::Elf;
    if (!LibelfReady()) {
        UnreadableFromLibelf(result);
        return;
    }
    std::vector<char> bytes;
    if (!ReadWhole(file, bytes, result) || !CheckIdentification(bytes, result))
        return;
    const TElfHandle elf(elf_memory(bytes.data(), bytes.size()));
    GElf_Ehdr header;
    if (!elf) {
        UnreadableFromLibelf(result);
        return;
    }
    std::vector<TLoadSegment> segments;
    if (!CheckHeader(elf.get(), header, result) ||
        !CollectSegments(elf.get(), static_cast<int64_t>(bytes.size()), segments, result) ||
        !CheckPlacement(segments, result))
        return;

    const int64_t lowest = segments.front().Address;
    const int64_t length = segments.back().Address + segments.back().Length - lowest;
    if (!image.Allocate(static_cast<int32_t>(length))) {
        result.Failure = TImageFailure::OutOfMemory;
        result.SpanLength = length;
        return;
    }
    std::memset(image.Data(), 0xFF, static_cast<size_t>(length));
    for (const TLoadSegment& segment : segments) {
        std::memcpy(image.Data() + (segment.Address - lowest), bytes.data() + segment.Offset,
                    static_cast<size_t>(segment.Length));
        result.Segments.push_back({segment.Address, segment.Length});
    }
    result.Start = static_cast<int32_t>(lowest);
    result.Length = static_cast<int32_t>(length);
    result.End = result.Start + result.Length - 1;
    result.Entry = static_cast<uint32_t>(header.e_entry);
}

// The ELF failures, and data too high, which an ELF file has at no line.
std::optional<TImageMessage> ElfFailureMessage(const TImageReadResult& result,
                                               const std::string& path) {
    const char* file = path.c_str();
    switch (result.Failure) {
    case TImageFailure::AddressTooHigh:
        return TImageMessage{ImageText("Input file:\n%s\nholds data at address %s or above.\n"
                                       "Addresses from 0x80000000 upwards cannot be loaded.",
                                       file, AddressText(result.Address).c_str()),
                             true};
    case TImageFailure::ElfUnreadable:
        return TImageMessage{ImageText("Input file:\n%s\nis not a readable ELF file: %s.", file,
                                       result.Reason.c_str()),
                             true};
    case TImageFailure::ElfNot32Bit:
        return TImageMessage{ImageText("Input file:\n%s\nis not a 32-bit ELF file; only 32-bit "
                                       "ARM executables can be loaded.",
                                       file),
                             true};
    case TImageFailure::ElfBigEndian:
        return TImageMessage{ImageText("Input file:\n%s\nis not a little-endian ELF file; only "
                                       "little-endian ARM executables can be loaded.",
                                       file),
                             true};
    case TImageFailure::ElfWrongMachine:
        return TImageMessage{ImageText("Input file:\n%s\nis an ELF file for %s, not for ARM.", file,
                                       ElfMachineName(result.Machine).c_str()),
                             true};
    case TImageFailure::ElfNotExecutable:
        return TImageMessage{ImageText("Input file:\n%s\nis %s, not an executable: load the "
                                       "linked program.",
                                       file, ElfKindText(result.ElfType).c_str()),
                             true};
    case TImageFailure::ElfNoLoadableData:
        return TImageMessage{ImageText("Input file:\n%s\nholds no loadable data: no program "
                                       "segment has bytes in the file.",
                                       file),
                             true};
    case TImageFailure::ElfSegmentPastEnd:
        return TImageMessage{
            ImageText("Input file:\n%s\nis damaged: %s.", file, result.Reason.c_str()), true};
    case TImageFailure::ElfOverlap:
        return TImageMessage{ImageText("Input file:\n%s\nhas segments that overlap: %lld bytes "
                                       "at %s and %lld bytes at %s.",
                                       file, static_cast<long long>(result.Segments[0].Length),
                                       AddressText(result.Segments[0].Address).c_str(),
                                       static_cast<long long>(result.Segments[1].Length),
                                       AddressText(result.Segments[1].Address).c_str()),
                             true};
    default:
        return std::nullopt;
    }
}

class TElfReader final : public TImageReader {
public:
    bool Claims(const char* first, size_t size) const override {
        return size >= SELFMAG && std::memcmp(first, ELFMAG, SELFMAG) == 0;
    }

    void Read(TRegularFileReader& file, TImageReadResult& result,
              TFileImage& image) const override {
        ReadElfImage(file, result, image);
    }

    std::optional<TImageMessage> FailureMessage(const TImageReadResult& result,
                                                const std::string& path) const override {
        if (result.Format != TImageFormat::Elf)
            return std::nullopt;
        return ElfFailureMessage(result, path);
    }
};

} // namespace

const TImageReader& ElfReader() {
    static const TElfReader reader;
    return reader;
}

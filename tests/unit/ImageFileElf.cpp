// ELF executables as the GNU ARM binutils write them (tests/data/elf, remade by its script): the
// reader loads what objcopy makes of them, and refuses damaged or foreign ones with a reason.
#include "ImageFileTestKit.h"

#include <functional>

using namespace imagetest;

namespace {

const std::string ElfData = KORVEX_TEST_DATA_DIR "/elf/";

uint32_t Get32(const TBytes& bytes, size_t offset) {
    return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
           static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

void Put32(TBytes& bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

// Where the fields of program header i lie in a 32-bit ELF file.
size_t ProgramHeader(const TBytes& elf, int i) {
    return Get32(elf, 28) + 32u * static_cast<size_t>(i);
}
constexpr size_t Type = 0, Offset = 4, VirtualAddress = 8, PhysicalAddress = 12;

using TPatch = std::function<void(TBytes&)>;

// Loads a fixture, changed by patch, from a scratch copy.
TImageReadResult LoadPatched(const TScratch& scratch, const std::string& fixture,
                             const TPatch& patch, TFileImage& image, std::string& path) {
    TBytes bytes = TScratch::ReadBytes(ElfData + fixture);
    if (patch)
        patch(bytes);
    path = scratch.Write("patched-" + fixture, bytes);
    return ReadImageFile(path, image);
}

} // namespace

TEST(ImageFileElf, LoadsWhatObjcopyAndTheHexFileLoad) {
    struct TCase {
        const char* Name;
        std::string Elf;
        TPatch Patch;
        std::string Objcopied; // objcopy -O binary --gap-fill 0xff
        uint32_t Entry;
        std::vector<TImageSegment> Segments;
    };
    const std::vector<TCase> cases = {
        // Code and the flash copy of the initialised data; the data runs in RAM at 0x00300000,
        // and its .bss is not part of the image.
        {"load and run addresses differ",
         "app.elf",
         nullptr,
         "app.bin",
         0x0104000C,
         {{0x01040000, 0x4C}, {0x0104004C, 0x14}}},
        // The table's segment comes first in the program headers.
        {"two segments with a gap",
         "gap.elf",
         nullptr,
         "gap.bin",
         0x01040000,
         {{0x01040000, 0x10}, {0x01040400, 0x0C}}},
        {"no physical addresses: the virtual ones",
         "gap.elf",
         [](TBytes& elf) {
             for (int i = 0; i < 2; ++i)
                 Put32(elf, ProgramHeader(elf, i) + PhysicalAddress, 0);
         },
         "gap.bin",
         0x01040000,
         {{0x01040000, 0x10}, {0x01040400, 0x0C}}},
    };
    TScratch scratch;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TFileImage image;
        std::string path;
        const TImageReadResult result = LoadPatched(scratch, c.Elf, c.Patch, image, path);
        ASSERT_TRUE(result.Ok()) << ImageFailureMessage(result, path).Text;
        EXPECT_EQ(result.Format, TImageFormat::Elf);
        EXPECT_TRUE(result.HasOwnStart());
        EXPECT_EQ(result.Start, 0x01040000);
        EXPECT_EQ(result.End, result.Start + result.Length - 1);
        EXPECT_EQ(ImageBytes(image), TScratch::ReadBytes(ElfData + c.Objcopied));
        EXPECT_EQ(result.Entry, c.Entry);
        EXPECT_EQ(result.Segments, c.Segments);

        // What programming gets from the Intel HEX file objcopy made of the same program.
        const std::string hex = ElfData + c.Elf.substr(0, c.Elf.find('.')) + ".hex";
        TFileImage hexImage;
        const TImageReadResult hexResult = ReadImageFile(hex, hexImage);
        ASSERT_TRUE(hexResult.Ok()) << ImageFailureMessage(hexResult, hex).Text;
        EXPECT_EQ(hexResult.Start, result.Start);
        EXPECT_EQ(ImageBytes(hexImage), ImageBytes(image));
    }

    TFileImage image;
    const std::string app = ElfData + "app.elf";
    EXPECT_EQ(
        ImageSummaryLines(ReadImageFile(app, image), app),
        (std::vector<std::string>{
            "Loaded file:   " + app, "Type:          ELF", "Start address: 0x01040000 (17039360)",
            "End address:   0x0104005F (17039455)", "Length:        0x00000060 (96)",
            "Entry point:   0x0104000C", "Segment:       0x01040000, length 0x0000004C (76)",
            "Segment:       0x0104004C, length 0x00000014 (20)"}));
}

TEST(ImageFileElf, DamagedOrForeignFilesAreRefusedWithTheirReason) {
    const auto data = [](int i, size_t field, uint32_t value) {
        return [=](TBytes& elf) { Put32(elf, ProgramHeader(elf, i) + field, value); };
    };
    struct TCase {
        const char* Name;
        TPatch Patch;
        TImageFailure Failure;
        std::string Message; // after "Input file:\n<path>\n"
    };
    const std::vector<TCase> cases = {
        {"64-bit", [](TBytes& elf) { elf[4] = 2; }, TImageFailure::ElfNot32Bit,
         "is not a 32-bit ELF file; only 32-bit ARM executables can be loaded."},
        {"big-endian", [](TBytes& elf) { elf[5] = 2; }, TImageFailure::ElfBigEndian,
         "is not a little-endian ELF file; only little-endian ARM executables can be loaded."},
        {"another machine", [](TBytes& elf) { elf[18] = 62; }, TImageFailure::ElfWrongMachine,
         "is an ELF file for x86-64, not for ARM."},
        {"an unknown machine", [](TBytes& elf) { elf[18] = 0x34, elf[19] = 0x12; },
         TImageFailure::ElfWrongMachine, "is an ELF file for machine 4660, not for ARM."},
        {"an object file", [](TBytes& elf) { elf[16] = 1; }, TImageFailure::ElfNotExecutable,
         "is an ELF file of type 1, not an executable: load the linked program."},
        {"no loadable segment",
         [](TBytes& elf) {
             for (int i = 0; i < 2; ++i)
                 Put32(elf, ProgramHeader(elf, i) + Type, 0);
         },
         TImageFailure::ElfNoLoadableData,
         "holds no loadable data: no program segment has bytes in the file."},
        {"segment past the end", data(1, Offset, 980), TImageFailure::ElfSegmentPastEnd,
         "is damaged: a segment of 20 bytes at file offset 980 reaches past the file's end "
         "(992 bytes)."},
        {"segment offset wraps", data(1, Offset, 0xFFFFFFF0), TImageFailure::ElfSegmentPastEnd,
         "is damaged: a segment of 20 bytes at file offset 4294967280 reaches past the file's end "
         "(992 bytes)."},
        {"overlapping segments", data(1, PhysicalAddress, 0x01040040), TImageFailure::ElfOverlap,
         "has segments that overlap: 76 bytes at 0x01040000 and 20 bytes at 0x01040040."},
        {"span over the limit", data(1, PhysicalAddress, 0x11040000), TImageFailure::TooLarge,
         "spans 268435476 bytes from 0x01040000, more than the 256 MiB an image can hold."},
        {"address too high", data(1, PhysicalAddress, 0x7FFFFFF0), TImageFailure::AddressTooHigh,
         "holds data at address 0x80000000 or above.\nAddresses from 0x80000000 upwards cannot be "
         "loaded."},
        // libelf's own words follow.
        {"program headers past the end", [](TBytes& elf) { Put32(elf, 28, 0x10000); },
         TImageFailure::ElfUnreadable, "is not a readable ELF file: "},
        {"program headers of another size", [](TBytes& elf) { elf[42] = 8; },
         TImageFailure::ElfUnreadable,
         "is not a readable ELF file: its program headers are 8 bytes each, not 32."},
        {"cut in the header", [](TBytes& elf) { elf.resize(51); }, TImageFailure::ElfUnreadable,
         "is not a readable ELF file: its header is incomplete."},
    };
    TScratch scratch;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TFileImage image;
        ASSERT_TRUE(image.Allocate(16));
        std::string path;
        const TImageReadResult result = LoadPatched(scratch, "app.elf", c.Patch, image, path);
        EXPECT_EQ(result.Failure, c.Failure);
        EXPECT_EQ(image.Length(), 0);
        const TImageMessage message = ImageFailureMessage(result, path);
        EXPECT_TRUE(message.Warning);
        const std::string expected = "Input file:\n" + path + "\n" + c.Message;
        if (c.Message.back() == ' ') {
            EXPECT_GT(message.Text.size(), expected.size() + 1) << message.Text;
        }
        EXPECT_EQ(message.Text.substr(0, expected.size()), expected);
    }
}

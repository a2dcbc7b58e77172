// ELF executables as the GNU ARM binutils write them (tests/data/elf, remade by its script): the
// reader loads what objcopy makes of them, and refuses damaged or foreign ones with a reason.
#include "ImageFileTestKit.h"

#include <functional>

using namespace imagetest;

namespace {

const std::string ElfData = KORVEX_TEST_DATA_DIR "/elf/";

using TPatch = std::function<void(TBytes&)>;

// Writes value little-endian in size bytes at offset.
TPatch At(size_t offset, uint32_t value, int size = 1) {
    return [=](TBytes& elf) {
        for (int i = 0; i < size; ++i)
            elf[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    };
}

// Sets a field in program header `only`, or, when it is negative, in both of the fixture's.
constexpr size_t Type = 0, Offset = 4, PhysicalAddress = 12;
TPatch Header(size_t field, uint32_t value, int only = -1) {
    return [=](TBytes& elf) {
        const size_t table = elf[28] | elf[29] << 8 | elf[30] << 16 | size_t{elf[31]} << 24;
        for (int i = 0; i < 2; ++i)
            if (only < 0 || i == only)
                At(table + 32u * i + field, value, 4)(elf);
    };
}

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
        std::string Elf; // with <Elf>.bin from objcopy -O binary --gap-fill 0xff, and <Elf>.hex
        TPatch Patch;
        uint32_t Entry;
        std::vector<TImageSegment> Segments;
        int32_t End;
    };
    // app: code and the flash copy of the initialised data, which runs in RAM at 0x00300000; its
    // .bss is not part of the image. gap: the table's segment comes first in the program headers.
    constexpr uint32_t Linked = 0x01040000; // where both programs are linked
    const std::vector<TImageSegment> gap = {{Linked, 0x10}, {0x01040400, 0x0C}};
    const std::vector<TCase> cases = {
        {"data runs in RAM",
         "app",
         nullptr,
         0x0104000C,
         {{Linked, 0x4C}, {0x0104004C, 0x14}},
         0x0104005F},
        {"two segments with a gap", "gap", nullptr, Linked, gap, 0x0104040B},
        {"no physical addresses: the virtual ones", "gap", Header(PhysicalAddress, 0), Linked, gap,
         0x0104040B},
    };
    TScratch scratch;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TFileImage image;
        std::string path;
        const TImageReadResult result = LoadPatched(scratch, c.Elf + ".elf", c.Patch, image, path);
        ASSERT_TRUE(result.Ok()) << ImageFailureMessage(result, path).Text;
        EXPECT_EQ(result.Format, TImageFormat::Elf);
        EXPECT_TRUE(result.HasOwnStart());
        EXPECT_EQ(result.Start, Linked);
        EXPECT_EQ(result.End, c.End);
        EXPECT_EQ(ImageBytes(image), TScratch::ReadBytes(ElfData + c.Elf + ".bin"));
        EXPECT_EQ(result.Entry, c.Entry);
        EXPECT_EQ(result.Segments, c.Segments);

        // What programming gets from the Intel HEX file objcopy made of the same program.
        TFileImage hex;
        EXPECT_EQ(ReadImageFile(ElfData + c.Elf + ".hex", hex).Start, result.Start);
        EXPECT_EQ(ImageBytes(hex), ImageBytes(image));
    }

    // One segment at physical address 0 among others: physical addresses still apply, so it
    // loads at 0, not at its virtual address.
    TFileImage mixed;
    std::string path;
    const TImageReadResult read =
        LoadPatched(scratch, "gap.elf", Header(PhysicalAddress, 0, 1), mixed, path);
    EXPECT_EQ(read.Segments, (std::vector<TImageSegment>{{0, 0x10}, {0x01040400, 0x0C}}));
    ASSERT_EQ(mixed.Length(), 0x0104040C);
    const TBytes text = TScratch::ReadBytes(ElfData + "gap.bin");
    EXPECT_EQ(TBytes(mixed.Data(), mixed.Data() + 0x10), TBytes(text.begin(), text.begin() + 0x10));

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
    using F = TImageFailure;
    struct TCase {
        const char* Name;
        TPatch Patch;
        TImageFailure Failure;
        // After "Input file:\n<path>\n"; where it ends in a space, libelf's words follow.
        std::string Message;
    };
    const std::vector<TCase> cases = {
        {"64-bit", At(4, 2), F::ElfNot32Bit,
         "is not a 32-bit ELF file; only 32-bit ARM executables can be loaded."},
        {"big-endian", At(5, 2), F::ElfBigEndian,
         "is not a little-endian ELF file; only little-endian ARM executables can be loaded."},
        {"x86-64", At(18, 62), F::ElfWrongMachine, "is an ELF file for x86-64, not for ARM."},
        {"machine 0x1234", At(18, 0x1234, 2), F::ElfWrongMachine,
         "is an ELF file for machine 4660, not for ARM."},
        {"an object file", At(16, 1), F::ElfNotExecutable,
         "is a relocatable object file, not an executable: load the linked program."},
        {"no loadable segment", Header(Type, 0), F::ElfNoLoadableData,
         "holds no loadable data: no program segment has bytes in the file."},
        {"segment past the end", Header(Offset, 980, 1), F::ElfSegmentPastEnd,
         "is damaged: a segment of 20 bytes at file offset 980 reaches past the file's end "
         "(992 bytes)."},
        {"segment offset wraps", Header(Offset, 0xFFFFFFF0, 1), F::ElfSegmentPastEnd,
         "is damaged: a segment of 20 bytes at file offset 4294967280 reaches past the file's end "
         "(992 bytes)."},
        {"overlapping segments", Header(PhysicalAddress, 0x01040040, 1), F::ElfOverlap,
         "has segments that overlap: 76 bytes at 0x01040000 and 20 bytes at 0x01040040."},
        {"overlapping by one byte", Header(PhysicalAddress, 0x0104004B, 1), F::ElfOverlap,
         "has segments that overlap: 76 bytes at 0x01040000 and 20 bytes at 0x0104004B."},
        {"span over the limit", Header(PhysicalAddress, 0x11040000, 1), F::TooLarge,
         "spans 268435476 bytes from 0x01040000, more than the 256 MiB an image can hold."},
        {"address too high", Header(PhysicalAddress, 0x7FFFFFF0, 1), F::AddressTooHigh,
         "holds data at address 0x80000000 or above.\nAddresses from 0x80000000 upwards cannot be "
         "loaded."},
        {"program headers past the end", At(28, 0x10000, 4), F::ElfUnreadable,
         "is not a readable ELF file: "},
        {"program headers of another size", At(42, 8), F::ElfUnreadable,
         "is not a readable ELF file: its program headers are 8 bytes each, not 32."},
        {"cut in the header", [](TBytes& elf) { elf.resize(51); }, F::ElfUnreadable,
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

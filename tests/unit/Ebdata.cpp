// Board type definitions: sector layouts, protection, hexadecimal fields and the lookups the
// flash commands rely on.
#include "Ebdata.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Builds a definition the way every builder does.
void Build(TEBData& type, const char* sectors, const char* protect, const char* flashStart,
           const char* sramSize = "0003 FF00") {
    ASSERT_TRUE(type.SetSectors(sectors));
    ASSERT_TRUE(type.SetProtected(protect));
    ASSERT_TRUE(type.SetFlashStart(flashStart));
    ASSERT_TRUE(type.SetSramSize(sramSize));
}

std::string Label(const char* sectors) {
    TString label("unset");
    CheckSectors(sectors, &label);
    return label();
}

std::vector<int> ProtectedSectors(const TEBData& type) {
    std::vector<int> marked;
    for (int i = 0; i < type.GetSectorCount(); ++i)
        if (type.GetSector(i).Protected)
            marked.push_back(i);
    return marked;
}

void ExpectContiguous(const TEBData& type) {
    ASSERT_GT(type.GetSectorCount(), 0);
    EXPECT_EQ(type.GetSector(0).Start, type.GetFlashStart());
    for (int i = 1; i < type.GetSectorCount(); ++i)
        EXPECT_EQ(type.GetSector(i).Start, type.GetSector(i - 1).End() + 1) << "sector " << i;
    EXPECT_EQ(type.FlashEnd(), type.GetSector(type.GetSectorCount() - 1).End());
}

} // namespace

TEST(EbdataLayout, TwoMegabyteLayoutPlacesSectorsFromTheFlashStart) {
    TEBData type("EB40A");
    Build(type, "8x8K,2x32K,30x64K", "0-8", "0100 0000");

    EXPECT_EQ(Label("8x8K,2x32K,30x64K"), "2M");
    ASSERT_EQ(type.GetSectorCount(), 40);
    ExpectContiguous(type);
    EXPECT_EQ(type.GetSector(0).Start, 0x01000000);
    EXPECT_EQ(type.GetSector(0).Length, 8192);
    EXPECT_EQ(type.GetSector(8).Start, 0x01010000);
    EXPECT_EQ(type.GetSector(8).Length, 32768);
    EXPECT_EQ(type.GetSector(10).Start, 0x01020000);
    EXPECT_EQ(type.GetSector(10).Length, 65536);
    EXPECT_EQ(type.FlashEnd(), 0x011FFFFF);
    EXPECT_EQ(type.GetSramSize(), 0x0003FF00);

    EXPECT_EQ(type.SectorSizeAt(0x01000000), 8192);
    EXPECT_EQ(type.SectorSizeAt(0x0100FFFF), 8192);
    EXPECT_EQ(type.SectorSizeAt(0x01010000), 32768);
    EXPECT_EQ(type.SectorSizeAt(0x011FFFFF), 65536);
    EXPECT_EQ(type.SectorSizeAt(0x00FFFFFF), 0);
    EXPECT_EQ(type.SectorSizeAt(0x01200000), 0);

    EXPECT_EQ(type.ProtectedSectorAt(0x01000000), 0);
    EXPECT_EQ(type.ProtectedSectorAt(0x0100E000), 7);
    EXPECT_EQ(type.ProtectedSectorAt(0x0100FFFF), 7);
    EXPECT_EQ(type.ProtectedSectorAt(0x01010000), -1);
    EXPECT_EQ(type.ProtectedSectorAt(0x00FFFFFF), -1);
}

TEST(EbdataLayout, FactoryLayoutIsNotAWholeNumberOfMegabytes) {
    TEBData type;
    Build(type, "8x32K,2x32K,30x64K", "0-7", "0100 0000", "0004 0000");

    ASSERT_EQ(type.GetSectorCount(), 40);
    ExpectContiguous(type);
    EXPECT_EQ(type.GetSector(8).Start, 0x01040000);
    EXPECT_EQ(type.GetSector(10).Start, 0x01050000);
    EXPECT_EQ(type.FlashEnd(), 0x01000000 + 2293760 - 1);
    EXPECT_EQ(type.SectorSizeAt(0x0104FFFF), 32768);
    EXPECT_EQ(type.SectorSizeAt(0x01050000), 65536);
    EXPECT_EQ(type.ProtectedSectorAt(0x01030000), 6);
    EXPECT_EQ(type.ProtectedSectorAt(0x01038000), -1);
    EXPECT_EQ(Label("8x32K,2x32K,30x64K"), "2.2M");
}

TEST(EbdataLayout, SizeLabels) {
    EXPECT_EQ(Label("4x256B"), "1K");
    EXPECT_EQ(Label("2x100B"), "0K");
    EXPECT_EQ(Label("1x1023K"), "1023K");
    EXPECT_EQ(Label("1x1024K"), "1M");
    EXPECT_EQ(Label("1x1536K"), "1.5M");
    EXPECT_EQ(Label("1x1025K"), "1.0M"); // just above a whole MiB: not shown as "1M"
    EXPECT_EQ(Label("1x2047K"), "1.9M"); // just below 2 MiB: still 1 whole MiB
    EXPECT_EQ(Label("1x3174K"), "3.1M"); // 3.0996 MiB
    EXPECT_EQ(Label("2047x1024K"), "2047M");
}

TEST(EbdataLayout, SpacesAndLowerCaseUnitsAreAccepted) {
    EXPECT_TRUE(CheckSectors("8 x 8 k"));
    EXPECT_EQ(Label("8 x 8 k"), "64K");
    EXPECT_EQ(Label("8Kx8K"), "64K"); // the count is the number the first part starts with
    EXPECT_EQ(Label("2x1KB"), "0K");  // ends in B: a size in bytes, the K is dropped
    TEBData type;
    ASSERT_TRUE(type.SetSectors(" 2 x 4 k , 1 x 100 b "));
    ASSERT_EQ(type.GetSectorCount(), 3);
    EXPECT_EQ(type.GetSector(1).Length, 4096);
    EXPECT_EQ(type.GetSector(2).Length, 100);
    // Digits behind a unit letter are not part of the size: the sectors match the label.
    EXPECT_EQ(Label("1x1B2K"), "1K");
    ASSERT_TRUE(type.SetSectors("1x1B2K"));
    EXPECT_EQ(type.FlashEnd(), 1023);
}

TEST(EbdataLayout, InvalidSectorTextsGiveNoSectorsAndTheZeroLabel) {
    const char* invalid[] = {"8X8K", "8x8", "0x8K", "8x0K", "8x8K,", ",8x8K", "8x8K,,2x8K",
                             "8x8K;2x32K", "", "   ", "8x8M", "8x", "x8K", "8x8Kx2", "-8x8K",
                             // Values beyond 32 bits must not wrap into something that looks valid.
                             "99999x99999K", "2147483648x1B", "1x2147483648B", "1x2097152K",
                             "1x4194304K", "3x1000000000B", "2x1073741824B", "65537x1B"};
    for (const char* text : invalid) {
        TString label("unset");
        EXPECT_FALSE(CheckSectors(text, &label)) << text;
        EXPECT_EQ(std::string(label()), "0K") << text;

        TEBData type;
        ASSERT_TRUE(type.SetSectors("2x8K"));
        EXPECT_FALSE(type.SetSectors(text)) << text;
        EXPECT_EQ(type.GetSectorCount(), 0) << text;
        EXPECT_EQ(type.FlashEnd(), 0) << text;
    }
    // The largest totals and counts that still fit are fine.
    EXPECT_TRUE(CheckSectors("1x2097151K"));
    EXPECT_TRUE(CheckSectors("1x2147483647B"));
    EXPECT_TRUE(CheckSectors("65536x1B"));
}

TEST(EbdataProtect, FortySectors) {
    struct TCase {
        const char* Text;
        bool Valid;
        std::vector<int> Marked;
    };
    const TCase cases[] = {
        {"0-8", true, {0, 1, 2, 3, 4, 5, 6, 7}},
        {"0,2-8,10", true, {0, 2, 3, 4, 5, 6, 7, 10}},
        {"39", true, {39}},
        {"38-39", true, {38}},
        {"8-2", true, {}},
        {"3-3", true, {}},
        {"3,", true, {0, 3}},
        {" 1 , 5 ", true, {1, 5}},
        {"1-3-9", true, {1, 2}},
        {"", true, {}},
        {"   ", true, {}},
        {"40", false, {}},
        {"0-40", false, {}},
        {"40-2", false, {}},
        {"1a", false, {}},
        {"-3", false, {}},
        {"3-", false, {}},
        {"1;2", false, {}},
        {"99999999999", false, {}},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(CheckProtected(c.Text, 40), c.Valid) << c.Text;
        TEBData type;
        ASSERT_TRUE(type.SetSectors("8x8K,2x32K,30x64K"));
        EXPECT_EQ(type.SetProtected(c.Text), c.Valid) << c.Text;
        EXPECT_EQ(ProtectedSectors(type), c.Marked) << c.Text;
    }
}

TEST(EbdataProtect, NoSectors) {
    EXPECT_FALSE(CheckProtected("0", 0));
    EXPECT_FALSE(CheckProtected(",", 0));
    EXPECT_TRUE(CheckProtected("", 0));
    EXPECT_TRUE(CheckProtected("  ", 0));

    TEBData type("EB40");
    EXPECT_FALSE(type.SetProtected("0"));
    EXPECT_TRUE(type.SetProtected(""));
    EXPECT_TRUE(type.SetFlashStart("0100 0000"));
    EXPECT_EQ(type.GetSectorCount(), 0);
    EXPECT_EQ(type.FlashEnd(), 0);
    for (int address : {0, 0x01000000, -1}) {
        EXPECT_EQ(type.SectorSizeAt(address), 0);
        EXPECT_EQ(type.ProtectedSectorAt(address), -1);
    }
}

TEST(EbdataHex, Texts) {
    const struct {
        const char* Text;
        int Value;
    } valid[] = {{"0003 FF00", 0x0003FF00},
                 {"0003FF00", 0x0003FF00},
                 {"0003.FF00", 0x0003FF00},
                 {"00-03-FF-00", 0x0003FF00},
                 {"ff", 255},
                 {"0", 0},
                 {"FFFFFFFF", -1},
                 {"8000 0000", INT32_MIN},
                 {"0 FFFF FFFF", -1}, // leading zeros beyond eight digits change nothing
                 {"0000 0000 0100", 256}};
    for (const auto& c : valid) {
        int value = 12345;
        EXPECT_TRUE(ParseHexAddress(c.Text, &value)) << c.Text;
        EXPECT_EQ(value, c.Value) << c.Text;
    }
    // Values beyond 32 bits are refused, not kept in part: 1 0000 0000 once read as 0.
    for (const char* text : {"", "   ", " - . ", "0x100", "12G4", "01,00", "1 0000 0000",
                             "F FFFF FFFF", "1 0000 0000 0000 0000"}) {
        int value = 12345;
        EXPECT_FALSE(ParseHexAddress(text, &value)) << text;
        EXPECT_EQ(value, 12345) << text;
    }
}

TEST(EbdataHex, FailedSettersKeepTheirFields) {
    TEBData type;
    Build(type, "2x8K", "", "0100 0000", "1000");
    EXPECT_FALSE(type.SetSramSize("zz"));
    EXPECT_EQ(type.GetSramSize(), 0x1000);
    EXPECT_FALSE(type.SetFlashStart(""));
    EXPECT_EQ(type.GetFlashStart(), 0x01000000);
    EXPECT_EQ(type.GetSector(0).Start, 0x01000000);
    EXPECT_EQ(type.GetSector(1).Start, 0x01002000);
}

TEST(EbdataLayout, SectorsBuiltAfterTheFlashStartBeginThere) {
    TEBData type;
    ASSERT_TRUE(type.SetFlashStart("0200 0000"));
    ASSERT_TRUE(type.SetSectors("2x8K"));
    ExpectContiguous(type);
    EXPECT_EQ(type.GetSector(0).Start, 0x02000000);
}

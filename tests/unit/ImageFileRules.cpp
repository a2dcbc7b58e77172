// The image reader's own rules: how the format is told, how lines are cut, which records are
// refused and with what message, and the limits that keep a strange file from doing harm.
#include "ImageFileTestKit.h"

#include <QDateTime>

#include <array>
#include <atomic>
#include <sys/stat.h>
#include <thread>

using namespace imagetest;

namespace {

struct TLoad {
    TImageReadResult Result;
    TFileImage Image;
    std::string Path;
    TImageMessage Message() const { return ImageFailureMessage(Result, Path); }
};

std::unique_ptr<TLoad> Load(const TScratch& scratch, const std::string& text,
                            const std::string& name = "file") {
    auto load = std::make_unique<TLoad>();
    load->Path = scratch.Write(name, text);
    load->Result = ReadImageFile(load->Path, load->Image);
    return load;
}

void ExpectRefusedAt(const TLoad& load, TImageFailure failure, int line,
                     const std::string& lineText) {
    EXPECT_EQ(load.Result.Failure, failure);
    EXPECT_EQ(load.Image.Length(), 0);
    EXPECT_EQ(load.Result.Line, line);
    EXPECT_EQ(load.Result.LineText, lineText);
    EXPECT_FALSE(load.Message().Warning);
}

const std::string EndOfFile = ":00000001FF\n";

} // namespace

TEST(ImageFileRules, FormatComesFromTheFirstThreeBytes) {
    struct TCase {
        std::string Text;
        TImageFormat Format;
        int32_t Start;
    };
    const std::vector<TCase> cases = {
        {":0410000001020304E2\n" + EndOfFile, TImageFormat::IntelHex, 0x1000},
        {":020000040001F9\n:0400100001020304E2\n", TImageFormat::IntelHex, 0x10010},
        {"S00600004844521B\nS107100001020304DE\n", TImageFormat::MotorolaS, 0x1000},
        {"S107100001020304DE\n", TImageFormat::MotorolaS, 0x1000},
        // A first count that starts with a letter makes the file binary, however it goes on.
        {":A0001000" + std::string(320, '0') + "00\n", TImageFormat::Binary, 0},
        {"S1A31000" + std::string(320, '1') + "00\n", TImageFormat::Binary, 0},
        {"S X\n", TImageFormat::Binary, 0},
        // Three bytes of the ELF mark are no ELF file.
        {"\x7F"
         "EL",
         TImageFormat::Binary, 0},
    };
    TScratch scratch;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Text.substr(0, 12));
        const auto load = Load(scratch, c.Text);
        ASSERT_TRUE(load->Result.Ok()) << load->Message().Text;
        EXPECT_EQ(load->Result.Format, c.Format);
        EXPECT_EQ(load->Result.Start, c.Start);
        if (c.Format == TImageFormat::Binary)
            EXPECT_EQ(ImageBytes(load->Image), TBytes(c.Text.begin(), c.Text.end()));
        else
            EXPECT_EQ(ImageBytes(load->Image), (TBytes{1, 2, 3, 4}));
    }
}

TEST(ImageFileRules, ANameOfATextFormatRefusesOtherContent) {
    const std::string intel = "an Intel HEX file but holds no Intel HEX records";
    const std::string motorola = "a Motorola S-record file but holds no S-records";
    // name, content, and what the message says the name promised ("" for no refusal)
    const std::vector<std::array<std::string, 3>> cases = {
        {"notes.hex", "Notes\n", intel},
        {"notes.IHX", "Notes\n", intel},
        {"notes.ihex", "Notes\n", intel},
        {"notes.srec", "Notes\n", motorola},
        {"notes.s19", "Notes\n", motorola},
        {"notes.S28", "Notes\n", motorola},
        {"notes.s37", "Notes\n", motorola},
        {"notes.mot", "Notes\n", motorola},
        // Content of a text format loads whatever the name says; other names, and a dot that
        // belongs to a folder, keep the binary fallback.
        {"intel.srec", ":0410000001020304E2\n", ""},
        {"notes.txt", "Notes\n", ""},
        {"notes.hex.bin", "Notes\n", ""},
        {"notes.hexdump", "Notes\n", ""},
        {"a.hex/notes", "Notes\n", ""},
    };
    TScratch scratch;
    ASSERT_TRUE(QDir(Q(scratch.Path(""))).mkdir("a.hex"));
    for (const auto& [name, content, promised] : cases) {
        SCOPED_TRACE(name);
        const auto load = Load(scratch, content, name);
        EXPECT_EQ(load->Result.Ok(), promised.empty());
        if (!promised.empty()) {
            EXPECT_EQ(load->Image.Length(), 0);
            EXPECT_TRUE(load->Message().Warning);
            EXPECT_EQ(load->Message().Text,
                      "Input file:\n" + load->Path + "\nis named as " + promised +
                          ".\nRename it (to .bin, for example) to load it as a binary image.");
        }
    }
    // An ELF file is told by its content too, whatever its name.
    EXPECT_EQ(Load(scratch,
                   "\x7F"
                   "ELF",
                   "elf.hex")
                  ->Result.Format,
              TImageFormat::Elf);
}

TEST(ImageFileRules, BlankLinesAndUnknownRecordsAreRefusedAtTheirLine) {
    TScratch scratch;
    const std::string data = ":0400100001020304E2\r\n";
    ExpectRefusedAt(*Load(scratch, data + "\r\n" + EndOfFile), TImageFailure::BadIntelRecord, 2,
                    "\r\n");
    ExpectRefusedAt(*Load(scratch, data + EndOfFile + "\n"), TImageFailure::BadIntelRecord, 3,
                    "\n");
    ExpectRefusedAt(*Load(scratch, data + "S107100001020304DE\n"), TImageFailure::BadIntelRecord, 2,
                    "S107100001020304DE\n");

    const std::string s1 = "S107100001020304DE\n";
    ExpectRefusedAt(*Load(scratch, s1 + "\n"), TImageFailure::BadMotorolaRecord, 2, "\n");
    ExpectRefusedAt(*Load(scratch, s1 + "S4050000000000\n"), TImageFailure::BadMotorolaRecord, 2,
                    "S4050000000000\n");
    ExpectRefusedAt(*Load(scratch, s1 + "SX\n"), TImageFailure::BadMotorolaRecord, 2, "SX\n");
    ExpectRefusedAt(*Load(scratch, s1 + "S"), TImageFailure::BadMotorolaRecord, 2, "S");
    ExpectRefusedAt(*Load(scratch, s1 + ":0400100001020304E2\n"), TImageFailure::BadMotorolaRecord,
                    2, ":0400100001020304E2\n");

    const auto load = Load(scratch, data + "\n");
    EXPECT_EQ(load->Message().Text,
              "File doesn't appear to have valid Intel HEX record at line 2:\n\n");
    EXPECT_EQ(Load(scratch, s1 + "x\n")->Message().Text,
              "File doesn't appear to have valid Motorola SREC record at line 2:\nx\n");
}

TEST(ImageFileRules, RecordsThatClaimMoreThanTheirLineHoldsAreRefused) {
    TScratch scratch;
    // The count asks for 16 bytes; the line holds 15 (and its line end must not pass for data).
    const std::string shortData = ":10100000" + std::string(30, 'A') + "\r\n";
    ExpectRefusedAt(*Load(scratch, ":0400100001020304E2\n" + shortData),
                    TImageFailure::BadIntelRecord, 2, shortData);
    ExpectRefusedAt(*Load(scratch, ":04001\n"), TImageFailure::BadIntelRecord, 1, ":04001\n");
    ExpectRefusedAt(*Load(scratch, ":02000004\n"), TImageFailure::BadIntelRecord, 1, ":02000004\n");
    ExpectRefusedAt(*Load(scratch, "S10710000102\n"), TImageFailure::BadMotorolaRecord, 1,
                    "S10710000102\n");
    ExpectRefusedAt(*Load(scratch, "S3091000\n"), TImageFailure::BadMotorolaRecord, 1,
                    "S3091000\n");
    // A count too small to hold the record's own address.
    ExpectRefusedAt(*Load(scratch, "S2031000\n"), TImageFailure::BadMotorolaRecord, 1,
                    "S2031000\n");
    // Characters that are no hexadecimal digits are not taken for data.
    ExpectRefusedAt(*Load(scratch, ":04001000010G0304E2\n"), TImageFailure::BadIntelRecord, 1,
                    ":04001000010G0304E2\n");

    // 128 data bytes cannot fit the 255 characters of one piece: the first piece is refused.
    const std::string longRecord = ":80000000" + std::string(256, 'C') + "00\n";
    ExpectRefusedAt(*Load(scratch, longRecord), TImageFailure::BadIntelRecord, 1,
                    longRecord.substr(0, 255));
}

TEST(ImageFileRules, LongLinesComeInPiecesThatCountAsLines) {
    TScratch scratch;
    // A good record padded to 300 characters: its first 255 hold the record, the rest is a
    // line of its own, which is no record.
    std::string padded = ":0400100001020304E2";
    padded += std::string(300 - padded.size(), ' ') + "\n";
    ExpectRefusedAt(*Load(scratch, padded + EndOfFile), TImageFailure::BadIntelRecord, 2,
                    padded.substr(255));

    // Records of exactly 255 characters leave only their line end for the next piece: the
    // file is good, though that piece still counts.
    const std::string intel255 = ":7A000000" + std::string(244, '5') + "04";
    const std::string s3WithCrLf = "S37D00000100" + std::string(240, '6') + "B1";
    ASSERT_EQ(intel255.size(), 255u);
    ASSERT_EQ(s3WithCrLf.size() + 1, 255u);
    const std::string base = ":020000040000FA\n"; // the first count must start with a digit
    const auto intel = Load(scratch, base + intel255 + "\n" + EndOfFile);
    ASSERT_TRUE(intel->Result.Ok()) << intel->Message().Text;
    EXPECT_EQ(ImageBytes(intel->Image), TBytes(122, 0x55));
    const auto srec = Load(scratch, s3WithCrLf + "\r\n" + s3WithCrLf + "\r\n");
    ASSERT_TRUE(srec->Result.Ok()) << srec->Message().Text;
    EXPECT_EQ(ImageBytes(srec->Image), TBytes(120, 0x66));
    ExpectRefusedAt(*Load(scratch, base + intel255 + "\n" + EndOfFile + "\n"),
                    TImageFailure::BadIntelRecord, 5, "\n");
}

TEST(ImageFileRules, RecordsTheReaderSkipsOrAccepts) {
    TScratch scratch;
    // Lower-case digits, blanks after the checksum, record counts (S5, S6), headers and ends
    // are fine; data after the end records still counts; later records overwrite earlier ones.
    const auto srec = Load(scratch, "S0030000FC\n"
                                    "S1071000aabbccddda \t\n"
                                    "S5030001FB\n"
                                    "S604000001FA\n"
                                    "S9031000EC\n"
                                    "S1051002EEFFFB\n");
    ASSERT_TRUE(srec->Result.Ok()) << srec->Message().Text;
    EXPECT_EQ(ImageBytes(srec->Image), (TBytes{0xAA, 0xBB, 0xEE, 0xFF}));

    const auto intel =
        Load(scratch, WithChecksum(":020000040001") + "\n" + WithChecksum(":020000001111") + "\n" +
                          EndOfFile + WithChecksum(":020004003333") + "\n" +
                          WithChecksum(":0400000500000000") + "\r\n" +
                          WithChecksum(":0400000300000000") + "\n");
    ASSERT_TRUE(intel->Result.Ok()) << intel->Message().Text;
    EXPECT_EQ(intel->Result.Start, 0x10000);
    EXPECT_EQ(ImageBytes(intel->Image), (TBytes{0x11, 0x11, 0xFF, 0xFF, 0x33, 0x33}));
}

// Line number (from 1) of a text, with its line end as the file has it.
std::string LineOf(const std::string& text, int number) {
    size_t start = 0;
    for (int line = 1; line < number; ++line)
        start = text.find('\n', start) + 1;
    return text.substr(start, text.find('\n', start) + 1 - start);
}

TEST(ImageFileRules, DamagedRecordsAreRefusedAtTheirLine) {
    struct TCase {
        std::string Text;
        TImageFailure Failure;
        int Line;
        std::string Message; // the part after "...at line N:\n" is the line itself
    };
    const std::string good = ":0400100001020304E2\n";
    const std::string s1 = "S107100001020304DE\n";
    const std::string badIntel = "File doesn't appear to have valid Intel HEX record at line ";
    const std::string badSrec = "File doesn't appear to have valid Motorola SREC record at line ";
    const std::vector<TCase> cases = {
        {good + ":0400100001020305E2\n", TImageFailure::BadChecksum, 2,
         "File has Intel HEX record with wrong checksum E2 (expected E1) at line 2:\n"},
        {"S107100001020304D0\r\n", TImageFailure::BadChecksum, 1,
         "File has Motorola SREC record with wrong checksum D0 (expected DE) at line 1:\n"},
        {"S0030000FD\n" + s1, TImageFailure::BadChecksum, 1,
         "File has Motorola SREC record with wrong checksum FD (expected FC) at line 1:\n"},
        // Text after the checksum: two records run together, or two files joined without a
        // line end, whose second address record would otherwise be lost.
        {":01000000AA55:01000100BB43\n", TImageFailure::BadIntelRecord, 1, badIntel + "1:\n"},
        {good + ":00000001FF:020000040001F9\n" + good, TImageFailure::BadIntelRecord, 2,
         badIntel + "2:\n"},
        {s1 + "S107100001020304DES9030000FC\n", TImageFailure::BadMotorolaRecord, 2,
         badSrec + "2:\n"},
        {good + ":0400100001020304E2 x\n", TImageFailure::BadIntelRecord, 2, badIntel + "2:\n"},
        // No checksum at all.
        {good + ":0400100001020304\n", TImageFailure::BadIntelRecord, 2, badIntel + "2:\n"},
        {"S107100001020304\n", TImageFailure::BadMotorolaRecord, 1, badSrec + "1:\n"},
        // Record types beyond 05, and address records of another length than two bytes.
        {good + WithChecksum(":00000006") + "\n", TImageFailure::BadIntelRecord, 2,
         badIntel + "2:\n"},
        {WithChecksum(":0400000400010000") + "\n", TImageFailure::BadIntelRecord, 1,
         badIntel + "1:\n"},
    };
    TScratch scratch;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Text);
        const auto load = Load(scratch, c.Text);
        ASSERT_EQ(load->Result.Failure, c.Failure);
        EXPECT_EQ(load->Result.Line, c.Line);
        EXPECT_EQ(load->Image.Length(), 0);
        EXPECT_FALSE(load->Message().Warning);
        EXPECT_EQ(load->Message().Text, c.Message + LineOf(c.Text, c.Line));
    }
}

TEST(ImageFileRules, EveryLineEndLoadsTheSameImage) {
    const std::vector<std::string> records = {":020000040001F9", ":0400100001020304E2",
                                              ":02001800AABB81", ":00000001FF"};
    TScratch scratch;
    for (const char* end : {"\n", "\r\n", "\r"}) {
        SCOPED_TRACE(testing::PrintToString(end));
        std::string text;
        for (const std::string& record : records)
            text += record + end;
        const auto load = Load(scratch, text);
        ASSERT_TRUE(load->Result.Ok()) << load->Message().Text;
        EXPECT_EQ(load->Result.Start, 0x10010);
        EXPECT_EQ(ImageBytes(load->Image),
                  (TBytes{1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF, 0xAA, 0xBB}));
    }
    // Lines ended by a carriage return alone count one by one.
    ExpectRefusedAt(*Load(scratch, ":0400100001020304E2\r:00000001FF\rjunk\r"),
                    TImageFailure::BadIntelRecord, 3, "junk\r");
}

TEST(ImageFileRules, RecordsWithoutDataDefineNoAddress) {
    TScratch scratch;
    // Empty data records at both ends of the address space would otherwise span 256 MiB.
    const auto intel = Load(scratch, ":0000000000\n:020000040FFFEC\n:00FFFF0002\n"
                                     ":020000040000FA\n:0400100001020304E2\n");
    ASSERT_TRUE(intel->Result.Ok()) << intel->Message().Text;
    EXPECT_EQ(intel->Result.Start, 0x10);
    EXPECT_EQ(intel->Result.Length, 4);

    const auto srec = Load(scratch, "S1030000FC\nS107100001020304DE\nS3057FFFFFFF7E\n");
    ASSERT_TRUE(srec->Result.Ok()) << srec->Message().Text;
    EXPECT_EQ(srec->Result.Start, 0x1000);
    EXPECT_EQ(ImageBytes(srec->Image), (TBytes{1, 2, 3, 4}));
}

TEST(ImageFileRules, AFileWithoutDataRecordsGivesAnEmptyImage) {
    TScratch scratch;
    const auto load = Load(scratch, ":020000040001F9\n" + EndOfFile, "empty.hex");
    ASSERT_TRUE(load->Result.Ok());
    EXPECT_EQ(load->Image.Length(), 0);
    EXPECT_EQ(ImageSummaryLines(load->Result, "empty.hex"),
              (std::vector<std::string>{"Loaded file:   empty.hex", "Type:          Intel Hex",
                                        "Start address: 0xFFFFFFFF (-1)",
                                        "End address:   0xFFFFFFFE (-2)",
                                        "Length:        0x00000000 (0)"}));
}

TEST(ImageFileRules, FailuresOfTheFileItselfAreWarningsWithTheirReason) {
    TScratch scratch;
    const std::string fifo = scratch.Path("fifo.hex");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        std::string Path;
        const char* Reason;
    } cases[] = {
        {scratch.Path("missing.hex"), "No such file or directory"},
        {scratch.Path(""), "Is a directory"},
        // No writer ever comes: the load must not wait for one.
        {fifo, "Not a regular file"},
        {"/dev/null", "Not a regular file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Path);
        TFileImage image;
        ASSERT_TRUE(image.Allocate(10));
        const TImageReadResult result = ReadImageFile(c.Path, image);
        EXPECT_EQ(result.Failure, TImageFailure::CannotOpen);
        EXPECT_EQ(image.Length(), 0) << "a failed load leaves no image behind";
        const TImageMessage message = ImageFailureMessage(result, c.Path);
        EXPECT_EQ(message.Text, "Unable to open:\n" + c.Path + "\n" + c.Reason);
        EXPECT_TRUE(message.Warning);
    }

    const auto twoBytes = Load(scratch, "S1", "two");
    EXPECT_EQ(twoBytes->Result.Failure, TImageFailure::TooShort);
    EXPECT_EQ(twoBytes->Message().Text,
              "Input file:\n" + twoBytes->Path + "\nhas insufficient length: 2 bytes.");
    EXPECT_TRUE(twoBytes->Message().Warning);
    EXPECT_EQ(Load(scratch, "", "none")->Message().Text,
              "Input file:\n" + scratch.Path("none") + "\nhas insufficient length: 0 bytes.");
}

TEST(ImageFileRules, AddressesFrom0x80000000AreRefused) {
    TScratch scratch;
    const std::string high = "S30980000000AABBCCDD68\n";
    const auto atLimit = Load(scratch, "S3097FFFFFFC0102030473\n" + high);
    ExpectRefusedAt(*atLimit, TImageFailure::AddressTooHigh, 2, high);
    EXPECT_EQ(atLimit->Message().Text,
              "Input file:\n" + atLimit->Path +
                  "\nholds data at address 0x80000000 or above at line 2:\n" + high +
                  "\nAddresses from 0x80000000 upwards cannot be loaded.");

    // A record that starts below the limit but runs over it, through an address record.
    const std::string across = WithChecksum(":10FFF800" + std::string(32, '0')) + "\n";
    const auto crossing = Load(scratch, ":020000047FFF7C\n" + across);
    ExpectRefusedAt(*crossing, TImageFailure::AddressTooHigh, 2, across);
    EXPECT_EQ(crossing->Result.Address, 0x80000000LL);
}

TEST(ImageFileRules, RecordsTooFarApartAreRefusedBeforeAllocating) {
    TScratch scratch;
    const auto load = Load(scratch, "S3090000001001020304DC\nS3093000000001020304BC\n");
    EXPECT_EQ(load->Result.Failure, TImageFailure::TooLarge);
    EXPECT_EQ(load->Image.Length(), 0);
    EXPECT_TRUE(load->Message().Warning);
    EXPECT_EQ(load->Message().Text, "Input file:\n" + load->Path +
                                        "\nspans 805306356 bytes from 0x00000010, more than the "
                                        "256 MiB an image can hold.");
}

TEST(ImageFileRules, AFailedLoadEmptiesAnEarlierImage) {
    TScratch scratch;
    TFileImage image;
    const std::string good = scratch.Write("good.s", "S107100001020304DE\n");
    const std::string bad = scratch.Write("bad.s", "S107100001020304DE\nS4\n");
    ASSERT_TRUE(ReadImageFile(good, image).Ok());
    ASSERT_EQ(image.Length(), 4);
    EXPECT_FALSE(ReadImageFile(bad, image).Ok());
    EXPECT_EQ(image.Length(), 0);
    EXPECT_EQ(image.Data(), nullptr);
}

TEST(ImageFileRules, RefreshedLineShowsTheFileTimeOfDay) {
    TScratch scratch;
    const std::string path = scratch.Write("time.hex", ":0400100001020304E2\n");
    const struct {
        QTime Time;
        const char* Text;
    } cases[] = {
        {QTime(14, 5, 9), "14:05:09"}, {QTime(9, 0, 0), "9:00:00"}, {QTime(0, 59, 1), "0:59:01"}};
    for (const auto& c : cases) {
        QFile file(Q(path));
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(QDateTime(QDate(2024, 3, 1), c.Time),
                                     QFileDevice::FileModificationTime));
        file.close();
        TFileImage image;
        EXPECT_EQ(ImageRefreshedLine(ReadImageFile(path, image)),
                  std::string("File content refreshed. (file time stamp: ") + c.Text + ")");
    }
}

TEST(ImageFileRules, AFileRewrittenWhileItIsReadLoadsWholeOrNotAtAll) {
    // A build tool may rewrite the file while the loader reads it. Every load must end with a
    // result, and an image must come whole from one version of the file: the first reading
    // measures, the second fills, and a file that changed in between is refused.
    const auto version = [](const char* data) {
        std::string text;
        for (int line = 0; line < 8192; ++line) {
            char record[64];
            std::snprintf(record, sizeof record, "S113%04X%s", (line * 16) & 0xFFFF, data);
            text += WithChecksum(record) + "\n";
        }
        return text;
    };
    const std::string versions[] = {version("11111111111111111111111111111111"),
                                    version("22222222222222222222222222222222")};
    TScratch scratch;
    const std::string path = scratch.Write("busy.s19", versions[0]);

    std::atomic<bool> stop{false};
    std::atomic<int> rewrites{0};
    std::thread writer([&] {
        QFile file(Q(path));
        if (!file.open(QIODevice::ReadWrite))
            return;
        for (int turn = 0; !stop; ++turn, ++rewrites) {
            file.resize(0);
            file.seek(0);
            file.write(versions[turn % 2].data(), static_cast<qint64>(versions[turn % 2].size()));
            file.flush();
        }
    });
    int changed = 0;
    for (int load = 0; load < 150; ++load) {
        TFileImage image;
        const TImageReadResult result = ReadImageFile(path, image);
        changed += result.Failure == TImageFailure::Changed;
        EXPECT_EQ(image.Length(), result.Ok() ? result.Length : 0);
        if (result.Ok() && image.Length() > 0) {
            const TBytes loaded = ImageBytes(image);
            EXPECT_TRUE(loaded == TBytes(loaded.size(), 0x11) ||
                        loaded == TBytes(loaded.size(), 0x22))
                << "an image mixed from two versions of the file";
        }
    }
    stop = true;
    writer.join();
    EXPECT_GT(rewrites, 1) << "the file was never rewritten while it was read";
    RecordProperty("RefusedAsChanged", changed);
    TFileImage image;
    const TImageReadResult settled = ReadImageFile(path, image);
    ASSERT_TRUE(settled.Ok()) << ImageFailureMessage(settled, path).Text;
    EXPECT_EQ(settled.Length, 0x10000);
}

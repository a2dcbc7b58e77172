// The image reader against independent tools: random data written by srec_cat and objcopy in
// every text format the reader knows, with holes, out of order and overlapping, must load byte
// for byte as srec_cat (or the original data) says.
#include "ImageFileTestKit.h"

#include <QFileInfo>

#include <algorithm>
#include <sstream>

using namespace imagetest;

namespace {

struct TRegion {
    uint32_t Address;
    size_t Length;
};

QString HexAddress(uint32_t address) {
    return "0x" + QString::number(address, 16);
}

// Writes random data for each region and has srec_cat turn them into one file.
std::string MakeFile(const TScratch& scratch, const std::string& name,
                     const std::vector<TRegion>& regions, const QStringList& outputFormat,
                     unsigned seed) {
    QStringList args;
    for (size_t i = 0; i < regions.size(); ++i) {
        const std::string part = scratch.Write(name + "." + std::to_string(i) + ".bin",
                                               RandomBytes(regions[i].Length, seed + unsigned(i)));
        args << Q(part) << "-binary"
             << "-offset" << HexAddress(regions[i].Address);
    }
    const std::string path = scratch.Path(name);
    args << "-o" << Q(path) << outputFormat;
    RunTool("srec_cat", args);
    return path;
}

uint32_t Lowest(const std::vector<TRegion>& regions) {
    return std::min_element(
               regions.begin(), regions.end(),
               [](const TRegion& a, const TRegion& b) { return a.Address < b.Address; })
        ->Address;
}

void ExpectLoadsAs(const std::string& path, TImageFormat format, int32_t start,
                   const TBytes& expected) {
    TFileImage image;
    const TImageReadResult result = ReadImageFile(path, image);
    ASSERT_TRUE(result.Ok()) << ImageFailureMessage(result, path).Text;
    EXPECT_EQ(result.Format, format);
    EXPECT_EQ(result.Start, start);
    EXPECT_EQ(result.Length, static_cast<int32_t>(expected.size()));
    EXPECT_EQ(int64_t{result.End}, int64_t{start} + result.Length - 1);
    ASSERT_EQ(image.Length(), static_cast<int32_t>(expected.size()));
    const TBytes loaded = ImageBytes(image);
    const auto mismatch = std::mismatch(loaded.begin(), loaded.end(), expected.begin());
    EXPECT_TRUE(mismatch.first == loaded.end())
        << "first difference at offset " << (mismatch.first - loaded.begin());
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line + "\n");
    return lines;
}

std::string Join(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line;
    return text;
}

// A copy with every line ending in a line feed: srec_cat reads no other line end back.
std::string WithLineFeeds(const TScratch& scratch, const std::string& path) {
    QByteArray text = QByteArray::fromStdString(TScratch::ReadText(path));
    text.replace("\r\n", "\n").replace('\r', '\n');
    return scratch.Write("line-feeds." + QFileInfo(Q(path)).fileName().toStdString(),
                         text.toStdString());
}

} // namespace

TEST(ImageFileOracle, EveryFormatWithHolesMatchesSrecCat) {
    struct TCase {
        const char* Name;
        QStringList Output;
        QString Input;
        TImageFormat Format;
        std::vector<TRegion> Regions;
    };
    const std::vector<TCase> cases = {
        // Extended linear address records: data crossing 64 KiB boundaries, far apart.
        {"linear.hex",
         {"-intel"},
         "-intel",
         TImageFormat::IntelHex,
         {{0x0000FFF0, 300}, {0x00030000, 77}, {0x00100005, 1000}}},
        {"zero.hex", {"-intel"}, "-intel", TImageFormat::IntelHex, {{0x0, 513}, {0x2000, 3}}},
        // Old Macintosh and DOS line ends, and longer records.
        {"cr.hex",
         {"-intel", "-line-termination", "cr", "-output-block-size", "100"},
         "-intel",
         TImageFormat::IntelHex,
         {{0x1000, 700}, {0x20003, 50}}},
        {"crlf.s37",
         {"-motorola", "-address-length=4", "-line-termination", "crlf"},
         "-motorola",
         TImageFormat::MotorolaS,
         {{0x3000, 500}, {0x1000, 1}}},
        {"s1.s19",
         {"-motorola", "-address-length=2"},
         "-motorola",
         TImageFormat::MotorolaS,
         {{0x8000, 200}, {0x0100, 300}, {0xFF00, 256}}},
        {"s2.s28",
         {"-motorola", "-address-length=3"},
         "-motorola",
         TImageFormat::MotorolaS,
         {{0x00FFFF00, 700}, {0x00010000, 33}}},
        // The highest byte a file may define is 0x7FFFFFFF.
        {"s3.s37",
         {"-motorola", "-address-length=4"},
         "-motorola",
         TImageFormat::MotorolaS,
         {{0x7FFFF000, 4096}, {0x7FF00000, 64}}},
    };
    TScratch scratch;
    unsigned seed = 1;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string path = MakeFile(scratch, c.Name, c.Regions, c.Output, seed += 10);
        ExpectLoadsAs(path, c.Format, static_cast<int32_t>(Lowest(c.Regions)),
                      SrecCatImage(scratch, WithLineFeeds(scratch, path), c.Input));
    }
}

TEST(ImageFileOracle, ObjcopyFilesLoadTheOriginalData) {
    struct TCase {
        const char* Name;
        QStringList Output;
        uint32_t Address;
        TImageFormat Format;
    };
    const std::vector<TCase> cases = {
        // Below 1 MiB objcopy places data with extended segment address records.
        {"segment.hex", {"-O", "ihex"}, 0x00012340, TImageFormat::IntelHex},
        {"linear.hex", {"-O", "ihex"}, 0x01234560, TImageFormat::IntelHex},
        {"auto.srec", {"-O", "srec"}, 0x00023456, TImageFormat::MotorolaS},
        {"s3.srec", {"-O", "srec", "--srec-forceS3"}, 0x00001000, TImageFormat::MotorolaS},
    };
    TScratch scratch;
    const TBytes data = RandomBytes(70000, 77);
    const std::string source = scratch.Write("source.bin", data);
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string path = scratch.Path(c.Name);
        RunTool("objcopy", QStringList{"-I", "binary"} << c.Output << "--change-addresses"
                                                       << HexAddress(c.Address) << Q(source)
                                                       << Q(path));
        ExpectLoadsAs(path, c.Format, static_cast<int32_t>(c.Address), data);
    }
}

TEST(ImageFileOracle, ShuffledAndOverlappingSRecordsMatchSrecCat) {
    TScratch scratch;
    const std::vector<TRegion> regions = {{0x4000, 2000}, {0x20000, 500}, {0x1000, 10}};
    const std::string ordered =
        TScratch::ReadText(MakeFile(scratch, "ordered.s", regions, {"-motorola"}, 5));
    // A second file over part of the first: its records come later, so its bytes win.
    const std::string over = TScratch::ReadText(
        MakeFile(scratch, "over.s", {{0x4100, 300}, {0x1000, 4}}, {"-motorola"}, 9));

    std::vector<std::string> lines;
    for (const std::string& line : Lines(ordered))
        if (line.rfind("S5", 0) != 0) // record counts would no longer agree for srec_cat
            lines.push_back(line);
    std::shuffle(lines.begin(), lines.end(), std::mt19937(3));
    for (const std::string& line : Lines(over))
        if (line.rfind("S5", 0) != 0)
            lines.push_back(line);
    const std::string path = scratch.Write("shuffled.s", Join(lines));

    ExpectLoadsAs(path, TImageFormat::MotorolaS, 0x1000,
                  SrecCatImage(scratch, path, "-motorola", {"-multiple"}));
}

TEST(ImageFileOracle, IntelFilesAfterEndOfFileRecordsAreLoadedToo) {
    // Three files joined highest address first: each brings its own address records and its
    // own end-of-file record, and every record after an end-of-file record still counts.
    TScratch scratch;
    const std::vector<TRegion> regions = {{0x00020010, 1500}, {0x00000000, 40}, {0x0001FFF8, 16}};
    std::string joined;
    for (size_t i = 0; i < regions.size(); ++i)
        joined += TScratch::ReadText(MakeFile(scratch, "part" + std::to_string(i) + ".hex",
                                              {regions[i]}, {"-intel"}, 40 + unsigned(i)));
    const std::string path = scratch.Write("joined.hex", joined);

    // The same regions in one file, as srec_cat writes them, are what the joined file holds.
    QStringList args;
    for (size_t i = 0; i < regions.size(); ++i)
        args << Q(scratch.Path("part" + std::to_string(i) + ".hex.0.bin")) << "-binary"
             << "-offset" << HexAddress(regions[i].Address);
    const std::string single = scratch.Path("single.hex");
    RunTool("srec_cat", args << "-o" << Q(single) << "-intel");

    ExpectLoadsAs(path, TImageFormat::IntelHex, 0, SrecCatImage(scratch, single, "-intel"));
}

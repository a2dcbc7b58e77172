#include "ImageFile.h"
#include "BinaryImage.h"
#include "ElfImage.h"
#include "File.h"
#include "HexText.h"
#include "IntelHexImage.h"
#include "SRecordImage.h"

#include <QDateTime>

#include <array>

const char* ImageFormatName(TImageFormat format) {
    switch (format) {
    case TImageFormat::IntelHex:
        return "Intel Hex";
    case TImageFormat::MotorolaS:
        return "Motorola S";
    case TImageFormat::Elf:
        return "ELF";
    case TImageFormat::Binary:
        break;
    }
    return "Binary";
}

namespace {

// Every format, in the order they are asked whether a file is theirs: the binary reader takes
// any content, so it comes last.
const std::array<const TImageReader*, 4>& Readers() {
    static const std::array<const TImageReader*, 4> readers = {&ElfReader(), &IntelHexReader(),
                                                               &SRecordReader(), &BinaryReader()};
    return readers;
}

const TImageReader& ReaderFor(const char* first, size_t size) {
    for (const TImageReader* reader : Readers())
        if (reader->Claims(first, size))
            return *reader;
    return BinaryReader();
}

// The text format a file's name promises (by its extension, in any letter case), Binary for
// any other name.
TImageFormat FormatOfName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return TImageFormat::Binary;
    std::string extension = path.substr(dot + 1);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    for (const char* intel : {"hex", "ihx", "ihex"})
        if (extension == intel)
            return TImageFormat::IntelHex;
    for (const char* motorola : {"srec", "s19", "s28", "s37", "mot"})
        if (extension == motorola)
            return TImageFormat::MotorolaS;
    return TImageFormat::Binary;
}

// Reads the first bytes, which choose the reader, and has that reader read the file.
void ReadOpenFile(TRegularFileReader& file, const std::string& path, TImageReadResult& result,
                  TFileImage& image) {
    char first[4];
    const long long got = file.Read(first, sizeof first);
    if (got < 0) {
        result.Failure = TImageFailure::CannotRead;
        return;
    }
    if (got < 3) {
        result.Failure = TImageFailure::TooShort;
        result.FileSize = got;
        return;
    }
    const TImageReader& reader = ReaderFor(first, static_cast<size_t>(got));
    const TImageFormat named = FormatOfName(path);
    if (&reader == &BinaryReader() && named != TImageFormat::Binary) {
        result.Failure = TImageFailure::NotNamedFormat;
        result.NamedFormat = named;
        return;
    }
    reader.Read(file, result, image);
}

// The failures any format can meet: the file itself, the image's size, the computer's memory.
TImageMessage SharedFailureMessage(const TImageReadResult& result, const std::string& path) {
    const char* file = path.c_str();
    switch (result.Failure) {
    case TImageFailure::CannotOpen:
        if (result.Reason.empty())
            return {ImageText("Unable to open:\n%s", file), true};
        return {ImageText("Unable to open:\n%s\n%s", file, result.Reason.c_str()), true};
    case TImageFailure::TooShort:
        return {ImageText("Input file:\n%s\nhas insufficient length: %d bytes.", file,
                          static_cast<int>(result.FileSize)),
                true};
    case TImageFailure::CannotRead:
        return {ImageText("Unable to read file:\n%s", file), true};
    case TImageFailure::TooLarge:
        return {ImageText("Input file:\n%s\nspans %lld bytes from %s, more than the %lld MiB "
                          "an image can hold.",
                          file, static_cast<long long>(result.SpanLength),
                          AddressText(result.Address).c_str(),
                          static_cast<long long>(MaxImageLength >> 20)),
                true};
    case TImageFailure::OutOfMemory:
        return {ImageText("Not enough memory to load:\n%s\n(%lld bytes needed)", file,
                          static_cast<long long>(result.SpanLength)),
                true};
    case TImageFailure::NotNamedFormat: {
        const bool intel = result.NamedFormat == TImageFormat::IntelHex;
        return {ImageText("Input file:\n%s\nis named as %s file but holds no %s.\n"
                          "Rename it (to .bin, for example) to load it as a binary image.",
                          file, intel ? "an Intel HEX" : "a Motorola S-record",
                          intel ? "Intel HEX records" : "S-records"),
                true};
    }
    default:
        return {};
    }
}

std::string AddressWithDecimal(int32_t value) {
    return static_cast<const char*>(AddrToHexDec(static_cast<uint32_t>(value)));
}

} // namespace

TImageReadResult ReadImageFile(const std::string& path, TFileImage& image) {
    image.Clear();
    TImageReadResult result;
    TRegularFileReader file;
    if (!file.Open(path.c_str())) {
        result.Failure = TImageFailure::CannotOpen;
        result.Reason = file.Reason();
        return result;
    }
    result.Modified = static_cast<std::time_t>(file.Modified());
    ReadOpenFile(file, path, result, image);
    if (!result.Ok())
        image.Clear();
    return result;
}

TImageMessage ImageFailureMessage(const TImageReadResult& result, const std::string& path) {
    if (result.Ok())
        return {};
    for (const TImageReader* reader : Readers())
        if (std::optional<TImageMessage> own = reader->FailureMessage(result, path))
            return *own;
    return SharedFailureMessage(result, path);
}

std::vector<std::string> ImageSummaryLines(const TImageReadResult& result,
                                           const std::string& path) {
    std::vector<std::string> lines{"Loaded file:   " + path,
                                   std::string("Type:          ") + ImageFormatName(result.Format),
                                   "Start address: " + AddressWithDecimal(result.Start),
                                   "End address:   " + AddressWithDecimal(result.End),
                                   "Length:        " + AddressWithDecimal(result.Length)};
    if (result.Format == TImageFormat::Elf) {
        lines.push_back("Entry point:   " + AddressText(result.Entry));
        for (const TImageSegment& segment : result.Segments)
            lines.push_back("Segment:       " + AddressText(segment.Address) + ", length " +
                            AddressWithDecimal(static_cast<int32_t>(segment.Length)));
    }
    return lines;
}

std::string ImageRefreshedLine(const TImageReadResult& result) {
    const QTime time =
        QDateTime::fromSecsSinceEpoch(static_cast<qint64>(result.Modified)).toLocalTime().time();
    return ImageText("File content refreshed. (file time stamp: %d:%02d:%02d)", time.hour(),
                     time.minute(), time.second());
}

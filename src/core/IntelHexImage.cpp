#include "IntelHexImage.h"
#include "TextRecords.h"

namespace {

// ':' count(2) address(4) type(2) data(2 * count) checksum(2): the checksum makes the sum of
// all bytes from the count on 0.
TRecord DecodeIntel(const char* text, size_t fields, int64_t base, bool verify) {
    if (text[0] != ':')
        return TRecord::Invalid();
    constexpr size_t DataColumn = 9;
    if (fields < DataColumn || !AllHex(text + 1, DataColumn - 1))
        return TRecord::Invalid();
    const int count = static_cast<int>(HexValue(text + 1, 1));
    const uint32_t address = HexValue(text + 3, 2);
    const uint32_t type = HexValue(text + 7, 1);
    const size_t checksumColumn = DataColumn + 2 * static_cast<size_t>(count);
    if (fields < checksumColumn + 2 || !OnlyBlanks(text + checksumColumn + 2, text + fields))
        return TRecord::Invalid();
    // 00 data, 01 end of file, 02 and 04 address bases of two bytes, 03 and 05 start addresses.
    if (type > 0x05 || ((type == 0x02 || type == 0x04) && count != 2))
        return TRecord::Invalid();
    if (verify) {
        uint32_t sum = 0;
        if (!AddHexBytes(text + 1, 4 + static_cast<size_t>(count) + 1, sum))
            return TRecord::Invalid();
        if ((sum & 0xFF) != 0) {
            const uint32_t checksum = HexValue(text + checksumColumn, 1);
            return TRecord::WrongChecksum(checksum, 0u - (sum - checksum));
        }
    }
    const char* data = text + DataColumn;
    TRecord record;
    if (type == 0x00) {
        record.Kind = TRecordKind::Data;
        record.Address = base + address;
        record.Count = count;
        record.Data = data;
    } else if (type == 0x02 || type == 0x04) {
        // Extended segment address (paragraphs of 16 bytes, written by objcopy for images
        // below 1 MiB) or extended linear address (the upper 16 address bits).
        record.Kind = TRecordKind::Base;
        record.Base = static_cast<int64_t>(HexValue(data, 2)) << (type == 0x02 ? 4 : 16);
    }
    return record;
}
class TIntelHexReader final : public TImageReader {
public:
    bool Claims(const char* first, size_t) const override { return StartsWithRecord(first, ':'); }

    void Read(TRegularFileReader& file, TImageReadResult& result,
              TFileImage& image) const override {
        result.Format = TImageFormat::IntelHex;
        ReadRecords(file, DecodeIntel, TImageFailure::BadIntelRecord, result, image);
    }

    std::optional<TImageMessage> FailureMessage(const TImageReadResult& result,
                                                const std::string& path) const override {
        if (result.Format != TImageFormat::IntelHex)
            return std::nullopt;
        if (result.Failure == TImageFailure::BadIntelRecord)
            return TImageMessage{
                ImageText("File doesn't appear to have valid Intel HEX record at line %d:\n%s",
                          result.Line, result.LineText.c_str()),
                false};
        return RecordFailureMessage(result, path, "Intel HEX");
    }
};

} // namespace

const TImageReader& IntelHexReader() {
    static const TIntelHexReader reader;
    return reader;
}

#include "SRecordImage.h"
#include "TextRecords.h"

namespace {

// 'S' type count(2) address(4, 6 or 8) data checksum(2): the count covers address, data and
// checksum, and the checksum is the ones' complement of the sum of the bytes from the count on.
// S0 headers, S5/S6 record counts and S7/S8/S9 ends are checked and skipped.
TRecord DecodeMotorola(const char* text, size_t fields, int64_t, bool verify) {
    if (text[0] != 'S' || fields < 2)
        return TRecord::Invalid();
    int addressBytes = 0;
    switch (text[1]) {
    case '0':
    case '1':
    case '5':
    case '9':
        addressBytes = 2;
        break;
    case '2':
    case '6':
    case '8':
        addressBytes = 3;
        break;
    case '3':
    case '7':
        addressBytes = 4;
        break;
    default:
        return TRecord::Invalid();
    }
    const size_t dataColumn = 4 + 2 * static_cast<size_t>(addressBytes);
    if (fields < dataColumn || !AllHex(text + 2, dataColumn - 2))
        return TRecord::Invalid();
    const int count = static_cast<int>(HexValue(text + 2, 1)) - addressBytes - 1;
    if (count < 0)
        return TRecord::Invalid();
    const size_t checksumColumn = dataColumn + 2 * static_cast<size_t>(count);
    if (fields < checksumColumn + 2 || !OnlyBlanks(text + checksumColumn + 2, text + fields))
        return TRecord::Invalid();
    if (verify) {
        uint32_t sum = 0;
        if (!AddHexBytes(text + 2, 1 + static_cast<size_t>(addressBytes + count) + 1, sum))
            return TRecord::Invalid();
        if ((sum & 0xFF) != 0xFF) {
            const uint32_t checksum = HexValue(text + checksumColumn, 1);
            return TRecord::WrongChecksum(checksum, ~(sum - checksum));
        }
    }
    if (text[1] < '1' || text[1] > '3')
        return TRecord();
    TRecord record;
    record.Kind = TRecordKind::Data;
    record.Address = HexValue(text + 4, addressBytes);
    record.Count = count;
    record.Data = text + dataColumn;
    return record;
}

class TSRecordReader final : public TImageReader {
public:
    bool Claims(const char* first, size_t) const override { return StartsWithRecord(first, 'S'); }

    void Read(TRegularFileReader& file, TImageReadResult& result,
              TFileImage& image) const override {
        result.Format = TImageFormat::MotorolaS;
        ReadRecords(file, DecodeMotorola, TImageFailure::BadMotorolaRecord, result, image);
    }

    std::optional<TImageMessage> FailureMessage(const TImageReadResult& result,
                                                const std::string& path) const override {
        if (result.Format != TImageFormat::MotorolaS)
            return std::nullopt;
        if (result.Failure == TImageFailure::BadMotorolaRecord)
            return TImageMessage{
                ImageText("File doesn't appear to have valid Motorola SREC record at line %d:\n%s",
                          result.Line, result.LineText.c_str()),
                false};
        return RecordFailureMessage(result, path, "Motorola SREC");
    }
};

} // namespace

const TImageReader& SRecordReader() {
    static const TSRecordReader reader;
    return reader;
}

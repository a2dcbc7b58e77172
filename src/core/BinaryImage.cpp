#include "BinaryImage.h"
#include "File.h"

namespace {

class TBinaryReader final : public TImageReader {
public:
    bool Claims(const char*, size_t) const override { return true; }

    void Read(TRegularFileReader& file, TImageReadResult& result,
              TFileImage& image) const override {
        result.Format = TImageFormat::Binary;
        const int64_t size = file.Size();
        if (size < 3) { // 3 bytes were read, yet the file claims less: it is being rewritten
            result.Failure = TImageFailure::CannotRead;
            return;
        }
        if (size > MaxImageLength) {
            result.Failure = TImageFailure::TooLarge;
            result.Address = 0;
            result.SpanLength = size;
            return;
        }
        if (!image.Allocate(static_cast<int32_t>(size))) {
            result.Failure = TImageFailure::OutOfMemory;
            result.SpanLength = size;
            return;
        }
        if (!file.Rewind() || file.Read(image.Data(), size) != size) {
            result.Failure = TImageFailure::CannotRead;
            return;
        }
        result.Start = 0;
        result.Length = static_cast<int32_t>(size);
        result.End = result.Length - 1;
    }

    // A binary file fails only in the ways every format can.
    std::optional<TImageMessage> FailureMessage(const TImageReadResult&,
                                                const std::string&) const override {
        return std::nullopt;
    }
};

} // namespace

const TImageReader& BinaryReader() {
    static const TBinaryReader reader;
    return reader;
}

#include "CliSerialNumbers.h"

#include "CliBoards.h"
#include "CliCommand.h"

#include <CLI/CLI.hpp>

void AddSerialOptions(CLI::App* command, TSerialOptions& options) {
    CLI::Option* next =
        command
            ->add_option("--serial-next", options.Counter,
                         "give each board its own serial number, the next one from FILE")
            ->option_text("FILE");
    CLI::Option* at = command
                          ->add_option("--serial-at", options.At,
                                       "where the serial number goes; inside the image")
                          ->option_text("ADDR")
                          ->check(CliNumberCheck(false, 0xFFFFFFFFull));
    CLI::Option* format =
        command
            ->add_option("--serial-format", options.Format,
                         "how the serial number is written: u32le (default), u32be or ascii:N")
            ->option_text("FMT");
    next->needs(at);
    at->needs(next);
    format->needs(next);
}

std::shared_ptr<TSerialNumbers> TSerialNumbers::Prepare(const TSerialOptions& options,
                                                        uint32_t imageStart, int64_t imageLength) {
    if (options.Counter.empty())
        return nullptr;
    TSerialPlace place;
    place.At = static_cast<uint32_t>(CliNumber(options.At));
    std::string error;
    uint64_t next = 0;
    std::vector<uint8_t> bytes;
    if (!ParseSerialFormat(options.Format, place.Format, error) ||
        !place.Inside(imageStart, imageLength, error))
        throw TCliUsageError(error);
    std::shared_ptr<TSerialNumbers> numbers(
        new TSerialNumbers(options.Counter, place, imageStart, imageLength));
    // The first board's number must fit; a later one that does not fails its board untouched.
    if (!numbers->Counter.Peek(next, &error) || !place.Encode(next, bytes, error))
        throw TCliUsageError(error);
    return numbers;
}

const uint8_t* TSerialNumbers::ImageFor(TBoard& board, bool dryRun, const uint8_t* image,
                                        std::vector<uint8_t>& own) {
    uint64_t number = 0;
    std::vector<uint8_t> bytes;
    std::string error;
    const bool got = dryRun ? Counter.Peek(number, &error)
                            : Counter.Take(Place.Format.Largest(), number, &error);
    if (!got || !Place.Encode(number, bytes, error)) {
        board.Fail(error);
        return nullptr;
    }
    const std::string line = SerialPatchLine(number, Place.At, bytes);
    if (dryRun) {
        board.Json().AddNumber("serial_next", static_cast<int64_t>(number));
        board.Line("Next " + line + " (dry run: not taken)");
    } else {
        // Recorded at once: a board that fails from here on keeps its number.
        board.Json().AddNumber("serial", static_cast<int64_t>(number));
        board.Line("S" + line.substr(1));
    }
    own = Place.Patched(image, ImageStart, ImageLength, bytes);
    return own.data();
}

// korvex-cli info FILE [--output OUT.bin]: the loader's image reader on the command line.
#include "CliCommand.h"
#include "ImageFile.h"

#include <CLI/CLI.hpp>

#include <cstdio>

namespace {

struct TInfoOptions {
    std::string File;
    std::string Output;
};

int RunInfo(const TInfoOptions& options, bool outputGiven) {
    if (outputGiven && options.Output.empty())
        throw TCliUsageError("empty file name for --output");
    TFileImage image;
    TImageReadResult result;
    if (!LoadCommandImage(options.File, image, result))
        return CliExitFailure;
    for (const std::string& line : ImageSummaryLines(result, options.File))
        std::printf("%s\n", line.c_str());
    std::fflush(stdout);

    if (outputGiven && !WriteOutputFile(options.Output, image.Data(), image.Length())) {
        PrintCliError(WriteFailureMessage(options.Output));
        return CliExitFailure;
    }
    return CliExitOk;
}

} // namespace

void AddInfoCommand(TCliCommands& commands) {
    auto options = std::make_shared<TInfoOptions>();
    auto output = std::make_shared<CLI::Option*>();
    CLI::App* command = commands.Add(
        {"info", "FILE [--output OUT.bin]", "read a program image and print its summary",
         "Reads FILE as the loader does (raw binary, Intel HEX, Motorola S-record or an ARM ELF\n"
         "executable, told apart by its first bytes) and prints the summary the loader's console\n"
         "shows; for ELF also the entry point and each loaded segment. A file that defines no\n"
         "data at all is refused (exit code 1), and so is a file named like Intel HEX or\n"
         "S-records (.hex, .srec, .s19, ...) that holds none.\n"},
        [options, output] { return RunInfo(*options, (*output)->count() > 0); });
    command->add_option("FILE", options->File, "the image")->required();
    *output = command
                  ->add_option("-o,--output", options->Output,
                               "also write the loaded image bytes to OUT.bin: one block from the "
                               "lowest address the file defines, gaps filled with 0xFF")
                  ->option_text("OUT.bin");
}

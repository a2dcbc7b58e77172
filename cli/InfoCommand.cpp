// korvex-cli info FILE [--output OUT.bin]: the loader's image reader on the command line.
#include "CliCommand.h"
#include "ImageFile.h"

#include <QFile>
#include <QFileInfo>
#include <QString>

#include <cstdio>

namespace {

// A regular file, reached directly or through a link: one that can be cut to length.
bool IsRegularFile(const QFile& file) {
    return QFileInfo(file).isFile();
}

// A regular file named directly: one that a failed write may remove (a link stays, and so does
// the file it points to).
bool IsPlainFile(const QFile& file) {
    const QFileInfo info(file);
    return info.isFile() && !info.isSymLink();
}

// An existing file is overwritten in place and then cut to length: truncating it to nothing
// first makes some file systems (ext4) flush it to disk on close, which costs more than the
// whole conversion. A failed write leaves no partial file behind; devices are never removed.
bool WriteImage(const TFileImage& image, const std::string& path) {
    QFile file(QString::fromLocal8Bit(path.data(), static_cast<qsizetype>(path.size())));
    if (!file.open(QIODevice::ReadWrite) && !file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const qint64 length = image.Length();
    bool written =
        length == 0 || file.write(reinterpret_cast<const char*>(image.Data()), length) == length;
    if (written && !file.isSequential() && IsRegularFile(file))
        written = file.resize(length);
    file.close();
    if (written && file.error() == QFileDevice::NoError)
        return true;
    if (IsPlainFile(file))
        file.remove();
    return false;
}

} // namespace

int RunInfoCommand(const TCliCommand& command, const std::vector<std::string>& args) {
    TCliArguments parsed;
    std::string error;
    if (!ParseCliArguments(args, {{"--output", 'o', true}}, parsed, error))
        return CliUsageError(command, error);
    if (parsed.Help) {
        PrintCommandHelp(command);
        return CliExitOk;
    }
    if (parsed.Positional.size() != 1)
        return CliUsageError(command, parsed.Positional.empty() ? "no FILE given"
                                                                : "more than one FILE given");
    const std::string& path = parsed.Positional[0];
    const auto output = parsed.Values.find("--output");
    if (output != parsed.Values.end() && output->second.empty())
        return CliUsageError(command, "empty file name for --output");

    TFileImage image;
    const TImageReadResult result = ReadImageFile(path, image);
    if (!result.Ok()) {
        PrintCliError(ImageFailureMessage(result, path).Text);
        return CliExitFailure;
    }
    for (const std::string& line : ImageSummaryLines(result, path))
        std::printf("%s\n", line.c_str());
    std::fflush(stdout);

    if (output != parsed.Values.end() && !WriteImage(image, output->second)) {
        PrintCliError("Unable to write file:\n" + output->second);
        return CliExitFailure;
    }
    return CliExitOk;
}

#pragma once
// Helpers for the image reader's tests: files in a private folder, random data, and the
// independent tools (srec_cat, objcopy) that make the files and say what they hold.

#include "ImageFile.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace imagetest {

using TBytes = std::vector<uint8_t>;

inline TBytes RandomBytes(size_t count, unsigned seed) {
    std::mt19937 generator(seed);
    TBytes bytes(count);
    for (uint8_t& byte : bytes)
        byte = static_cast<uint8_t>(generator());
    return bytes;
}

class TScratch {
public:
    std::string Path(const std::string& name) const {
        return FDir.filePath(QString::fromStdString(name)).toStdString();
    }

    std::string Write(const std::string& name, const void* data, size_t size) const {
        const std::string path = Path(name);
        QFile file(QString::fromStdString(path));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << path;
        EXPECT_EQ(file.write(static_cast<const char*>(data), static_cast<qint64>(size)),
                  static_cast<qint64>(size));
        return path;
    }
    std::string Write(const std::string& name, const std::string& text) const {
        return Write(name, text.data(), text.size());
    }
    std::string Write(const std::string& name, const TBytes& bytes) const {
        return Write(name, bytes.data(), bytes.size());
    }

    static std::string ReadText(const std::string& path) {
        QFile file(QString::fromStdString(path));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path;
        return file.readAll().toStdString();
    }
    static TBytes ReadBytes(const std::string& path) {
        const std::string text = ReadText(path);
        return TBytes(text.begin(), text.end());
    }

private:
    QTemporaryDir FTemp;
    QDir FDir{FTemp.path()};
};

// Runs a tool and expects it to succeed; returns its standard output.
inline std::string RunTool(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    const bool finished = process.waitForFinished(60000);
    EXPECT_TRUE(finished) << program.toStdString() << " did not finish";
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0)
        << program.toStdString() << " " << arguments.join(' ').toStdString() << "\n"
        << process.readAllStandardError().toStdString();
    return process.readAllStandardOutput().toStdString();
}

inline QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// What srec_cat makes of a file: one block from its lowest to its highest address, holes
// filled with 0xFF. format is srec_cat's input format option ("-intel", "-motorola").
inline TBytes SrecCatImage(const TScratch& scratch, const std::string& file, const QString& format,
                           const QStringList& options = {}) {
    const std::string out = scratch.Path("srec_cat_image.bin");
    QStringList args = options;
    args << "(" << Q(file) << format << "-fill"
         << "0xFF"
         << "-over" << Q(file) << format << ")"
         << "-offset"
         << "-"
         << "-minimum-address" << Q(file) << format << "-o" << Q(out) << "-binary";
    RunTool("srec_cat", args);
    return TScratch::ReadBytes(out);
}

// A record with its checksum appended: ":" records get the two's complement of their bytes'
// sum, "S" records the ones' complement of the sum from the count on.
inline std::string WithChecksum(const std::string& record) {
    const size_t first = record[0] == ':' ? 1 : 2;
    unsigned sum = 0;
    for (size_t i = first; i + 1 < record.size(); i += 2)
        sum += static_cast<unsigned>(std::stoul(record.substr(i, 2), nullptr, 16));
    char checksum[3];
    std::snprintf(checksum, sizeof checksum, "%02X", (record[0] == ':' ? 0u - sum : ~sum) & 0xFF);
    return record + checksum;
}

inline TBytes ImageBytes(const TFileImage& image) {
    return TBytes(image.Data(), image.Data() + image.Length());
}

} // namespace imagetest

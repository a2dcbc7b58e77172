// korvex-cli as a script sees it: what `info` prints and writes, its exit codes, and that its
// messages are the loader's own.
#include "ImageFileTestKit.h"

#include <QFileInfo>

#include <sys/stat.h>

using namespace imagetest;

namespace {

struct TRun {
    int ExitCode = -1;
    std::string Out;
    std::string Err;
};

const QString CliPath = QStringLiteral(KORVEX_BINARY_DIR "/cli/korvex-cli");

TRun RunCli(const QStringList& arguments, const QString& shellPrefix = {}) {
    QProcess process;
    if (shellPrefix.isEmpty()) {
        process.start(CliPath, arguments);
    } else {
        QStringList quoted;
        for (const QString& argument : arguments)
            quoted << "'" + argument + "'";
        process.start("/bin/sh",
                      {"-c", shellPrefix + " exec '" + CliPath + "' " + quoted.join(' ')});
    }
    EXPECT_TRUE(process.waitForFinished(60000)) << "korvex-cli did not finish";
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << "korvex-cli crashed";
    return {process.exitCode(), process.readAllStandardOutput().toStdString(),
            process.readAllStandardError().toStdString()};
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

} // namespace

TEST(CliInfo, PrintsTheSummaryAndWritesTheImage) {
    ASSERT_TRUE(QFile::exists(CliPath)) << "build korvex-cli first";
    TScratch scratch;
    const std::string path = scratch.Write("image.s", "S107100001020304DE\n"
                                                      "S1051008AABB7D\n");
    // An older, longer file of that name is replaced whole, without a stale tail.
    const std::string out = scratch.Write("out.bin", RandomBytes(100, 1));
    const TRun run = RunCli({"info", Q(path), "--output", Q(out)});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Out, "Loaded file:   " + path +
                           "\nType:          Motorola S\n"
                           "Start address: 0x00001000 (4096)\n"
                           "End address:   0x00001009 (4105)\n"
                           "Length:        0x0000000A (10)\n");
    EXPECT_EQ(run.Err, "");
    EXPECT_EQ(TScratch::ReadBytes(out), (TBytes{1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF, 0xAA, 0xBB}));

    // Without --output nothing is written; -o and --output=... are the same option.
    const std::string other = scratch.Path("other.bin");
    EXPECT_EQ(RunCli({"info", Q(path), "-o", Q(other)}).ExitCode, 0);
    EXPECT_EQ(TScratch::ReadBytes(other).size(), 10u);
    EXPECT_EQ(RunCli({"info", "--output=" + Q(other), Q(path)}).ExitCode, 0);

    // Through a link the file it points to gets the image, cut to length as well.
    const std::string target = scratch.Write("target.bin", RandomBytes(100, 2));
    const std::string link = scratch.Path("link.bin");
    ASSERT_TRUE(QFile::link(Q(target), Q(link)));
    EXPECT_EQ(RunCli({"info", Q(path), "-o", Q(link)}).ExitCode, 0);
    EXPECT_EQ(TScratch::ReadBytes(target),
              (TBytes{1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF, 0xAA, 0xBB}));
    EXPECT_TRUE(QFileInfo(Q(link)).isSymLink());
}

TEST(CliInfo, AgreesWithSrecCatOnABinaryFileAndAnIntelFile) {
    TScratch scratch;
    const TBytes data = RandomBytes(100000, 11);
    const std::string binary = scratch.Write("data.bin", data);
    const std::string hex = scratch.Path("data.hex");
    RunTool("srec_cat", {Q(binary), "-binary", "-offset", "0x20000", "-o", Q(hex), "-intel"});

    for (const std::string& input : {binary, hex}) {
        SCOPED_TRACE(input);
        const std::string out = scratch.Path("out.bin");
        const TRun run = RunCli({"info", Q(input), "--output", Q(out)});
        EXPECT_EQ(run.ExitCode, 0) << run.Err;
        TFileImage image;
        EXPECT_EQ(run.Out, Joined(ImageSummaryLines(ReadImageFile(input, image), input)));
        EXPECT_EQ(TScratch::ReadBytes(out), data);
    }
}

TEST(CliInfo, FailuresGoToStderrWithTheLoaderMessage) {
    TScratch scratch;
    const std::string bad = scratch.Write("bad.hex", ":0400100001020304E2\nnot a record\n");
    const std::string out = scratch.Path("out.bin");
    TRun run = RunCli({"info", Q(bad), "-o", Q(out)});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_EQ(run.Out, "");
    EXPECT_EQ(run.Err, "File doesn't appear to have valid Intel HEX record at line 2:\n"
                       "not a record\n");
    EXPECT_FALSE(QFile::exists(Q(out))) << "no output after a failed load";

    run = RunCli({"info", Q(scratch.Path("missing"))});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_EQ(run.Err,
              "Unable to open:\n" + scratch.Path("missing") + "\nNo such file or directory\n");

    const std::string good = scratch.Write("good.s", "S107100001020304DE\n");
    run = RunCli({"info", Q(good), "-o", Q(scratch.Path("no/such/folder/out.bin"))});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_EQ(run.Err, "Unable to write file:\n" + scratch.Path("no/such/folder/out.bin") + "\n");
}

TEST(CliInfo, RefusesWhatHoldsNoImageWithAReadableMessage) {
    TScratch scratch;
    const std::string fifo = scratch.Path("fifo.hex");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string empty = scratch.Write("empty.hex", ":020000040001F9\n:00000001FF\n");
    // What the file says comes back escaped: it must not steer the terminal.
    const std::string hostile =
        scratch.Write("hostile.hex", ":0400100001020304E2\r\n\x1B]0;owned\x07\tx\r\n");
    const struct {
        std::string Path;
        std::string Err;
    } cases[] = {
        {fifo, "Unable to open:\n" + fifo + "\nNot a regular file\n"},
        {empty, "The file holds no data:\n" + empty + "\n"},
        {hostile, "File doesn't appear to have valid Intel HEX record at line 2:\n"
                  "\\x1B]0;owned\\x07\\tx\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Path);
        const std::string out = scratch.Path("out.bin");
        const TRun run = RunCli({"info", Q(c.Path), "-o", Q(out)});
        EXPECT_EQ(run.ExitCode, 1);
        EXPECT_EQ(run.Out, "");
        EXPECT_EQ(run.Err, c.Err);
        EXPECT_FALSE(QFile::exists(Q(out)));
    }
}

TEST(CliInfo, NamesAreUsedAsTheBytesGiven) {
    // Names that are no valid UTF-8, made, checked and removed by the shell, which passes bytes
    // through.
    TScratch scratch;
    const QString folder = Q(scratch.Path(""));
    const QString script = "cd '" + folder +
                           "' && in=$(printf 'in-\\377.s19') && out=$(printf 'out-\\376.bin') && "
                           "printf 'S107100001020304DE\\n' > \"$in\" && '" +
                           CliPath + "' info \"$in\" --output \"$out\" && od -An -tx1 \"$out\"; " +
                           "status=$?; rm -f \"$in\" \"$out\"; exit $status";
    QProcess process;
    process.start("/bin/sh", {"-c", script});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    const std::string out = process.readAllStandardOutput().toStdString();
    EXPECT_NE(out.find("Loaded file:   in-\xFF.s19\n"), std::string::npos) << out;
    EXPECT_NE(out.find(" 01 02 03 04\n"), std::string::npos) << out;
}

TEST(CliInfo, AnImageThatCannotBeAllocatedEndsWithAMessage) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer needs more address space than the limit allows";
#endif
    const QString limit = "ulimit -v 204800;"; // 200 MiB of address space
    if (RunCli({"--version"}, limit).ExitCode != 0)
        GTEST_SKIP() << "korvex-cli does not even start within the limit here";
    TScratch scratch;
    // 250 MiB between two records: under the reader's own ceiling, over the process limit.
    const std::string path = scratch.Write("far.s", "S3090000000001020304EC\n"
                                                    "S3090FA00000010203043D\n");
    const TRun run = RunCli({"info", Q(path)}, limit);
    EXPECT_EQ(run.ExitCode, 1) << run.Out << run.Err;
    EXPECT_EQ(run.Err, "Not enough memory to load:\n" + path + "\n(262144004 bytes needed)\n");
}

TEST(CliInfo, CommandLineConventions) {
    TRun run = RunCli({"--help"});
    EXPECT_EQ(run.ExitCode, 0);
    EXPECT_NE(run.Out.find("Usage: korvex-cli COMMAND"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("  info "), std::string::npos) << run.Out;

    for (const char* command :
         {"sync", "read", "erase", "program", "verify", "sram", "types", "info", "ports"}) {
        SCOPED_TRACE(command);
        EXPECT_NE(run.Out.find(std::string("\n  ") + command + " "), std::string::npos) << run.Out;
        const TRun help = RunCli({command, "--help"});
        EXPECT_EQ(help.ExitCode, 0);
        EXPECT_EQ(help.Out.rfind(std::string("Usage: korvex-cli ") + command, 0), 0u) << help.Out;
        EXPECT_EQ(RunCli({"help", command}).Out, help.Out);
    }

    run = RunCli({"info", "--help"});
    EXPECT_EQ(run.ExitCode, 0);
    EXPECT_NE(run.Out.find("Usage: korvex-cli info FILE [--output OUT.bin]"), std::string::npos);

    run = RunCli({"--version"});
    EXPECT_EQ(run.ExitCode, 0);
    EXPECT_EQ(run.Out.rfind("korvex-cli ", 0), 0u) << run.Out;

    for (const QStringList& wrong :
         {QStringList{}, QStringList{"nonsense"}, QStringList{"info"},
          QStringList{"info", "a", "b"}, QStringList{"info", "a", "--bogus"},
          QStringList{"info", "a", "--output"}, QStringList{"help", "nonsense"}}) {
        SCOPED_TRACE(wrong.join(' ').toStdString());
        run = RunCli(wrong);
        EXPECT_EQ(run.ExitCode, 2);
        EXPECT_NE(run.Err.size() + (wrong.isEmpty() ? run.Out.size() : 0), 0u);
    }

    // The board commands refuse a wrong command line before they touch a port.
    TScratch scratch;
    const std::string binary = scratch.Write("image.bin", RandomBytes(100, 1));
    const QString port = Q(scratch.Path("no-port"));
    for (const QStringList& wrong : std::vector<QStringList>{
             {"read", "0100", "16", "-p", port}, // hexadecimal without 0x
             {"read", "0x100", "-p", port},
             {"read", "0x100", "16", "--end", "0x200", "-p", port},
             {"read", "0x100", "--end", "0x100", "-p", port},
             {"read", "0xFFFFFFF0", "0x20", "-p", port},
             {"read", "0x100", "16Q", "-p", port},
             {"read", "0x100", "16", "--format", "ihex", "-p", port},
             {"read", "0x100", "16", "-o", "x", "--format", "elf", "-p", port},
             {"read", "0x100", "16", "-p", port, "-p", port + "2"},
             {"read", "0x100", "16"}, // no port given or stored
             {"sync", "-p", port, "-p", port},
             {"sync", "--baud", "1234", "-p", port},
             {"erase", "-p", port},
             {"program", "-p", port},
             {"program", Q(binary), "-p", port}, // a binary file needs --address
             {"verify", Q(binary), "-a", "0x100", "--linked", "100", "-p", port},
             {"sram", Q(binary), "--linked", "115200", "-p", port}}) {
        SCOPED_TRACE(wrong.join(' ').toStdString());
        run = RunCli(wrong);
        EXPECT_EQ(run.ExitCode, 2);
        EXPECT_EQ(run.Out, "");
        EXPECT_EQ(run.Err.rfind("korvex-cli " + wrong[0].toStdString() + ": ", 0), 0u) << run.Err;
        EXPECT_EQ(run.Err.find("Unable to intialize"), std::string::npos) << run.Err;
    }
}

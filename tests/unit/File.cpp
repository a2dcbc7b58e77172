#include "File.h"

#include "LibError.h"
#include "Misc.h"
#include "ScratchDir.h"
#include "ScriptedMsgBox.h"
#include "TString.h"

#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

// Whether a file may lock again a region it holds already: record locks simply merge, while a
// Windows region lock refuses its own handle as it refuses everybody else.
#ifdef _WIN32
constexpr bool OwnRegionsLockAgain = false;
#else
constexpr bool OwnRegionsLockAgain = true;
#endif

class FileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(FTemp.IsValid());
        TBasicDiskFile::SetRetryPause(1);
    }
    void TearDown() override { TBasicDiskFile::SetRetryPause(500); }

    std::string Path(const std::string& name) const { return FTemp.Path() + "/" + name; }
    std::string Put(const std::string& name, const std::string& content) const {
        std::ofstream(Path(name), std::ios::binary) << content;
        return Path(name);
    }
    std::string Contents(const std::string& path) const {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // Asked through a handle of its own: a directory entry may lag behind an open file's size.
    static long long DiskSize(const std::string& path) {
        std::ifstream in(path, std::ios::binary | std::ios::ate);
        return in ? static_cast<long long>(in.tellg()) : -1;
    }
    template <typename TAction> static std::string ErrorOf(TAction action) {
        try {
            action();
        } catch (const std::exception& error) {
            return error.what();
        }
        return "";
    }
    static std::string Pattern(int length) {
        std::string bytes;
        for (int i = 0; i < length; ++i)
            bytes += static_cast<char>('a' + i % 26);
        return bytes;
    }
    // Reads the records of `file` with the text document's settings.
    static std::vector<std::string> Records(TFile& file) {
        std::vector<std::string> records;
        while (!file.AtEof()) {
            TString record;
            record.Read(&file, '\n', true, true);
            records.emplace_back(record(), record.Length());
        }
        return records;
    }

    TScratchDir FTemp;
};

TEST_F(FileTest, OpenFailuresNameTheFile) {
    TDiskFile file;
    const std::string missing = Path("missing.bin");
    EXPECT_EQ(ErrorOf([&] { file.Open(missing.c_str(), FileReadOnly); }),
              "Cannot open: " + missing);
    EXPECT_FALSE(file.IsOpen());
    EXPECT_THROW(file.Open("", FileReadOnly), TAssertionFailure);

    const std::string tooLong(FilePathSize, 'x');
    EXPECT_EQ(ErrorOf([&] { file.Open(tooLong.c_str(), FileReadOnly); }),
              "Cannot open: " + tooLong);
}

TEST_F(FileTest, ClosedFileRaisesInsteadOfUsingAStaleHandle) {
    const std::string path = Put("closed.bin", "abcd");
    TDiskFile file;
    file.Open(path.c_str(), FileReadWrite);
    file.Close();
    char buffer[2];
    const struct {
        const char* Error;
        std::function<void()> Action;
    } cases[] = {
        {"Cannot read: ", [&] { file.Read(buffer, 2); }},
        {"Cannot write: ", [&] { file.Write("xy", 2); }},
        {"Cannot seek: ", [&] { file.Seek(1); }},
        {"Cannot truncate: ", [&] { file.Truncate(1); }},
        {"Cannot lock: ", [&] { file.Lock(0, 1); }},
        {"Cannot unlock: ", [&] { file.Unlock(0, 1); }},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ErrorOf(c.Action), c.Error + path);
    EXPECT_FALSE(file.CanLock(0, 1));
    EXPECT_EQ(Contents(path), "abcd");
}

TEST_F(FileTest, ShortReadRaisesAndKeepsThePosition) {
    const std::string path = Put("four.bin", "abcd");
    TDiskFile file;
    file.Open(path.c_str(), FileReadOnly);
    EXPECT_EQ(file.ReadByte(), 'a');
    char buffer[10];
    EXPECT_EQ(ErrorOf([&] { file.Read(buffer, 10); }), "Cannot read: " + path);
    EXPECT_EQ(file.Tell(), 1);
    file.Read(buffer, 3);
    EXPECT_EQ(std::string(buffer, 3), "bcd");
    EXPECT_TRUE(file.AtEof());
    EXPECT_THROW(file.Read(buffer, 0), TAssertionFailure);

    TBufFile buffered(2048);
    buffered.Open(path.c_str(), FileReadOnly);
    buffered.Read(buffer, 2);
    EXPECT_EQ(ErrorOf([&] { buffered.Read(buffer, 3); }), "Cannot read: " + path);
    EXPECT_EQ(buffered.Tell(), 2);
    EXPECT_EQ(buffered.ReadByte(), 'c');
}

TEST_F(FileTest, BufferedEndOfFileOnlyAfterTheLastBufferedByte) {
    const std::string path = Put("three.bin", "xyz");
    TBufFile file(2048);
    file.Open(path.c_str(), FileReadOnly);
    EXPECT_FALSE(file.AtEof());
    EXPECT_EQ(file.ReadByte(), 'x'); // the whole file is buffered now
    EXPECT_FALSE(file.AtEof());
    EXPECT_EQ(file.ReadByte(), 'y');
    EXPECT_FALSE(file.AtEof());
    EXPECT_EQ(file.ReadByte(), 'z');
    EXPECT_TRUE(file.AtEof());
    file.Seek(1); // back inside the buffer
    EXPECT_FALSE(file.AtEof());
    EXPECT_EQ(file.ReadByte(), 'y');

    TBufFile empty(16);
    empty.Open(Put("empty.bin", "").c_str(), FileReadOnly);
    EXPECT_TRUE(empty.AtEof());
}

TEST_F(FileTest, BufferedWritesFlushWhenTheNextWriteWouldNotFit) {
    const std::string path = Path("out.bin");
    const std::string block = Pattern(100);
    TBufFile file(2048);
    file.Open(path.c_str(), FileCreate | FileTruncate | FileReadWrite);
    for (int i = 1; i <= 20; ++i)
        file.Write(block.data(), 100);
    EXPECT_EQ(DiskSize(path), 0);
    file.Write(block.data(), 100); // 2100 would not fit: the first 2000 go to disk
    EXPECT_EQ(DiskSize(path), 2000);
    for (int i = 22; i <= 30; ++i)
        file.Write(block.data(), 100);
    EXPECT_EQ(DiskSize(path), 2000);
    EXPECT_EQ(file.Size(), 3000);
    EXPECT_EQ(file.Tell(), 3000);

    const std::string large = Pattern(3000);
    file.Write(large.data(), 3000); // larger than the buffer: flushed, then written straight
    EXPECT_EQ(DiskSize(path), 6000);
    file.Close();

    std::string expected;
    for (int i = 0; i < 30; ++i)
        expected += block;
    EXPECT_EQ(Contents(path), expected + large);
}

TEST_F(FileTest, BufferedReadsServeSmallAndDirectTransfersInOrder) {
    const std::string content = Pattern(5000);
    const std::string path = Put("in.bin", content);
    TBufFile file(2048);
    file.Open(path.c_str(), FileReadOnly);
    std::string got(5000, '\0');
    file.Read(&got[0], 10);
    file.Read(&got[10], 3000); // straight from the file
    file.Read(&got[3010], 1990);
    EXPECT_EQ(got, content);
    EXPECT_TRUE(file.AtEof());

    file.Seek(4990);
    char tail[10];
    file.Read(tail, 10);
    EXPECT_EQ(std::string(tail, 10), content.substr(4990));
    file.Seek(100); // outside the buffer: refilled from the file
    EXPECT_EQ(file.ReadByte(), static_cast<unsigned char>(content[100]));
}

TEST_F(FileTest, BufferedFileSwitchesBetweenReadingAndWriting) {
    const std::string path = Put("mixed.bin", "0123456789");
    TBufFile file(8);
    file.Open(path.c_str(), FileReadWrite);
    char head[4];
    file.Read(head, 4);
    file.Write("AB", 2); // continues where reading stopped
    file.Seek(0);
    char all[10];
    file.Read(all, 10); // switching back flushes first
    EXPECT_EQ(std::string(all, 10), "0123AB6789");

    file.Truncate(3);
    EXPECT_EQ(file.Tell(), 3);
    file.Write("xy", 2);
    file.Close();
    EXPECT_EQ(Contents(path), "012xy");
}

TEST_F(FileTest, FailedCloseOfBufferedFileStillReleasesTheHandle) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no device that refuses every write like /dev/full";
#endif
    TBufFile file(64);
    file.Open("/dev/full", FileWriteOnly);
    file.Write("data", 4);
    EXPECT_EQ(ErrorOf([&] { file.Close(); }), "Cannot write: /dev/full");
    EXPECT_FALSE(file.IsOpen());
}

TEST_F(FileTest, RecordFieldsRoundTrip) {
    const std::string path = Path("records.txt");
    {
        TBufFile file(2048);
        file.Open(path.c_str(), FileCreate | FileTruncate | FileReadWrite);
        file.WriteString(TString("name"), ';');
        file.WriteString(TString(), ';');
        file.WriteInt(-42, ';');
        file.WriteBool(true, ';');
        file.WriteBool(false, '|');
        file.WriteLine("");
        file.WriteLine("ab");
        file.WriteInt(12, ';');
        file.Write("78", 2);
    }
    EXPECT_EQ(Contents(path), "name;;-42;T;F|ab\r\n12;78");

    TDiskFile file;
    file.Open(path.c_str(), FileReadOnly);
    TString text("old");
    int number = 0;
    bool flag = false;
    file.ReadString(text, ';');
    EXPECT_EQ(text, "name");
    file.ReadString(text, ';');
    EXPECT_TRUE(text.IsBlank());
    file.ReadInt(number, ';');
    EXPECT_EQ(number, -42);
    file.ReadBool(flag, ';');
    EXPECT_TRUE(flag);
    file.ReadBool(flag, '|');
    EXPECT_FALSE(flag);
    file.ReadString(text, '\n');
    EXPECT_EQ(text, "ab\r");
    file.ReadInt(number, ';');
    EXPECT_EQ(number, 12);
    file.ReadInt(number, ';'); // the last field lacks its separator: still read in full
    EXPECT_EQ(number, 78);

    // Numbers beyond an int (a damaged record) stop at its limits instead of wrapping round.
    TVectorFile damaged;
    damaged.Write("99999999999;-99999999999;", 25);
    damaged.Seek(0);
    damaged.ReadInt(number, ';');
    EXPECT_EQ(number, INT_MAX);
    damaged.ReadInt(number, ';');
    EXPECT_EQ(number, INT_MIN);
}

TEST_F(FileTest, RecordReaderLineEnds) {
    const std::string path = Put("lines.txt", std::string("ab\r\ncd\n\x1A", 8));
    TBufFile buffered(2048);
    buffered.Open(path.c_str(), FileReadOnly);
    EXPECT_EQ(Records(buffered), (std::vector<std::string>{"ab", "cd", ""}));
    EXPECT_TRUE(buffered.AtEof());

    TDiskFile plain;
    plain.Open(Put("zero.txt", std::string("x\ny\0z\n", 6)).c_str(), FileReadOnly);
    EXPECT_EQ(Records(plain), (std::vector<std::string>{"x", "y"}));

    TDiskFile unterminated;
    unterminated.Open(Put("last.txt", "a\r\rb\nlast").c_str(), FileReadOnly);
    EXPECT_EQ(Records(unterminated), (std::vector<std::string>{"ab", "last"})); // inner CRs dropped

    // CR as the delimiter: the LF of a pair is dropped, a lone CR keeps what follows it.
    TDiskFile crFile;
    crFile.Open(Put("cr.txt", "one\r\ntwo\rthree").c_str(), FileReadOnly);
    TString record;
    record.Read(&crFile, '\r', true, false);
    EXPECT_EQ(record, "one");
    record.Read(&crFile, '\r', true, false);
    EXPECT_EQ(record, "two");
    record.Read(&crFile, '\r', true, false);
    EXPECT_EQ(record, "three");
}

TEST_F(FileTest, RecordReaderHasNoLengthLimit) {
    const std::string longLine = Pattern(70000);
    TBufFile file(2048);
    file.Open(Put("long.txt", "short\n" + longLine + "\n" + Pattern(96) + "\n").c_str(),
              FileReadOnly);
    EXPECT_EQ(Records(file), (std::vector<std::string>{"short", longLine, Pattern(96)}));
}

TEST_F(FileTest, StringWritesTextAndTerminators) {
    const std::string path = Path("strings.bin");
    {
        TDiskFile file;
        file.Open(path.c_str(), FileCreate | FileTruncate | FileReadWrite);
        TString().Write(&file, "\r\n", 2);
        TString("ab").Write(&file);
        TString("cd").Write(&file, "", 0);
    }
    EXPECT_EQ(Contents(path), std::string("\r\nab\0cd", 7));
}

TEST_F(FileTest, NamePartsOfThePath) {
    TDiskFile file;
    const std::string path = Put("report.v1.txt", "x");
    file.Open(path.c_str(), FileReadOnly);
    char buffer[FilePathSize];
    file.Name(buffer, FilePartName | FilePartExt);
    EXPECT_STREQ(buffer, "report.v1.txt");
    file.Name(buffer, FilePartExt);
    EXPECT_STREQ(buffer, ".txt");
    file.Name(buffer, FilePartDrive | FilePartDir);
    EXPECT_EQ(std::string(buffer), FTemp.Path() + "/");
#ifdef _WIN32
    file.Name(buffer, FilePartDrive);
    EXPECT_EQ(std::string(buffer), FTemp.Path().substr(0, 2)); // "C:"
#endif
    EXPECT_STREQ(file.Name(), path.c_str());
    EXPECT_TRUE(file.Exists());
    file.Close();
    EXPECT_EQ(file.Size(), 1);
}

TEST_F(FileTest, InMemoryFileIsByteAccurate) {
    TVectorFile file;
    EXPECT_TRUE(file.AtEof());
    const std::string data = Pattern(2500);
    file.Write(data.data(), 1000);
    file.Write(data.data() + 1000, 1500); // across two block boundaries
    EXPECT_EQ(file.Size(), 2500);
    EXPECT_TRUE(file.AtEof());

    file.Seek(0);
    std::string back(2500, '\0');
    file.Read(&back[0], 2500);
    EXPECT_EQ(back, data);

    file.Seek(2490);
    char buffer[20];
    EXPECT_EQ(ErrorOf([&] { file.Read(buffer, 20); }), "Cannot read: (memory)");
    EXPECT_EQ(file.Tell(), 2490);

    file.Seek(3000); // a gap reads back as zero bytes
    file.Write("!", 1);
    file.Seek(2999);
    EXPECT_EQ(file.ReadByte(), 0);
    EXPECT_EQ(file.ReadByte(), '!');
    EXPECT_EQ(file.Size(), 3001);
}

#ifdef _WIN32

// A second program holding a region. Windows region locks belong to the handle, so another
// handle of this process stands in for it.
class TLockHolder {
public:
    TLockHolder(const std::string& path, int offset, int length)
        : FOffset(offset), FLength(length) {
        FFile.Open(path.c_str(), FileReadWrite);
        FFile.Lock(offset, length);
        FLocked = true;
    }
    ~TLockHolder() { Release(); }
    bool Locked() const { return FLocked; }
    // Unlocks before closing: Windows releases the locks of a closed handle only eventually.
    void Release() {
        if (FLocked)
            FFile.Unlock(FOffset, FLength);
        FLocked = false;
        FFile.Close();
    }

private:
    TDiskFile FFile;
    int FOffset;
    int FLength;
    bool FLocked = false;
};

#else

// A second program holding a region: a child process locks it until told to let go.
class TLockHolder {
public:
    TLockHolder(const std::string& path, int offset, int length) {
        int ready[2], release[2];
        if (pipe(ready) != 0 || pipe(release) != 0)
            return;
        FChild = fork();
        if (FChild == 0) {
            close(ready[0]);
            close(release[1]); // so the parent's close is seen as the end of the pipe
            try {
                TDiskFile file;
                file.Open(path.c_str(), FileReadWrite);
                file.Lock(offset, length);
                char c = 1;
                (void)!write(ready[1], &c, 1);
                (void)!read(release[0], &c, 1);
            } catch (...) {
            }
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        FRelease = release[1];
        char c = 0;
        FLocked = read(ready[0], &c, 1) == 1;
        close(ready[0]);
    }
    ~TLockHolder() { Release(); }
    bool Locked() const { return FLocked; }
    void Release() {
        if (FChild <= 0)
            return;
        close(FRelease);
        waitpid(FChild, nullptr, 0);
        FChild = -1;
    }

private:
    pid_t FChild = -1;
    int FRelease = -1;
    bool FLocked = false;
};

#endif

TEST_F(FileTest, LockedRegionOfAnotherProgram) {
    const std::string path = Put("shared.db", Pattern(100));
    TLockHolder holder(path, 10, 20);
    ASSERT_TRUE(holder.Locked());

    TDiskFile file;
    file.Open(path.c_str(), FileReadWrite);
    EXPECT_FALSE(file.CanLock(0, 15));
    EXPECT_TRUE(file.CanLock(30, 10));

    TScriptedMsgBox boxes;
    boxes.QueueAnswers({IDRETRY, IDCANCEL});
    EXPECT_EQ(ErrorOf([&] { file.Lock(0, 15); }), "Cannot lock: " + path);
    ASSERT_EQ(boxes.Count(), 2); // asked on the 20th and the 40th attempt
    EXPECT_EQ(boxes.Last().Flags, MB_RETRYCANCEL | MB_ICONEXCLAMATION);
    EXPECT_EQ(boxes.Last().Text, "Cannot lock: " + path + "\nPermission Denied");

    // Without windows the built-in presenter answers Cancel, so the retrying ends and fails.
    const TMsgBoxPresenter scripted = SetMsgBoxPresenter(TMsgBoxPresenter());
    EXPECT_EQ(ErrorOf([&] { file.Lock(0, 15); }), "Cannot lock: " + path);
    EXPECT_EQ(ErrorOf([&] { TDiskFile().Open(path.c_str(), FileReadWrite | FileDenyAll); }),
              "Cannot open: " + path); // the other program has it open
    SetMsgBoxPresenter(scripted);

    // Answering Retry after the other program let go takes the lock.
    const TMsgBoxPresenter previous = SetMsgBoxPresenter([&](int, const char*) {
        holder.Release();
        return IDRETRY;
    });
    file.Lock(0, 15);
    SetMsgBoxPresenter(previous);
    EXPECT_EQ(file.CanLock(0, 15), OwnRegionsLockAgain);
    TDiskFile probe;
    probe.Open(path.c_str(), FileReadOnly);
    EXPECT_FALSE(probe.CanLock(10, 1));
}

TEST_F(FileTest, LockGuardAndBufferedFiles) {
    const std::string path = Put("guarded.db", Pattern(50));
    TDiskFile owner, other;
    owner.Open(path.c_str(), FileReadWrite);
    other.Open(path.c_str(), FileReadWrite);
    {
        TFileLock guard(owner, 0, 10);
        EXPECT_FALSE(other.CanLock(5, 1));
        EXPECT_EQ(owner.CanLock(0, 10), OwnRegionsLockAgain);
        // Asking never drops what this file holds.
        EXPECT_FALSE(other.CanLock(5, 1));
    }
    EXPECT_TRUE(other.CanLock(5, 1));

    TBufFile buffered(64);
    buffered.Open(path.c_str(), FileReadOnly);
    EXPECT_FALSE(buffered.CanLock(0, 1));
    EXPECT_EQ(ErrorOf([&] { buffered.Lock(0, 1); }), "Illegal lock attempt on buffered file");
}

TEST_F(FileTest, DenyAllOpenKeepsOthersOut) {
    const std::string path = Put("exclusive.db", "x");
    TDiskFile first, second;
    first.Open(path.c_str(), FileReadWrite | FileDenyAll);
    TScriptedMsgBox boxes;
    boxes.QueueAnswer(IDCANCEL);
    EXPECT_EQ(ErrorOf([&] { second.Open(path.c_str(), FileReadWrite | FileDenyAll); }),
              "Cannot open: " + path);
    EXPECT_EQ(boxes.Count(), 1);

    // An open that denies nothing must not get in either: emptying the file would destroy
    // what the first holder is working on.
    TDiskFile plain;
    boxes.QueueAnswer(IDCANCEL);
    EXPECT_EQ(ErrorOf([&] { plain.Open(path.c_str(), FileCreate | FileTruncate | FileReadWrite); }),
              "Cannot open: " + path);
    first.Close();
    EXPECT_EQ(Contents(path), "x"); // read once nobody denies reading any more
    plain.Open(path.c_str(), FileReadOnly);
    // While someone has the file open, denying all has to wait.
    boxes.QueueAnswer(IDCANCEL);
    EXPECT_EQ(ErrorOf([&] { second.Open(path.c_str(), FileReadWrite | FileDenyAll); }),
              "Cannot open: " + path);
    plain.Close();
    second.Open(path.c_str(), FileReadWrite | FileDenyAll);
    EXPECT_TRUE(second.IsOpen());
}

} // namespace

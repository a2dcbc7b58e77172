#include "Tools.h"

#include "LibError.h"
#include "ScratchDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

class ToolsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(FTemp.IsValid()); }

    std::string Path(const std::string& name) const { return FTemp.Path() + "/" + name; }
    std::string Write(const std::string& name, const std::string& content) const {
        std::ofstream(Path(name), std::ios::binary) << content;
        return Path(name);
    }
    // A dot name hides a file on POSIX; Windows hides by the file's attribute.
    std::string WriteHidden(const std::string& name, const std::string& content) const {
        const std::string path = Write(name, content);
#ifdef _WIN32
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN);
#endif
        return path;
    }
    void MakeDir(const std::string& name) const {
        std::filesystem::create_directory(Path(name));
    }
    bool Present(const std::string& name) const {
        return std::filesystem::exists(std::filesystem::symlink_status(Path(name)));
    }
    // The message of the error `action` throws, or "" when it throws none.
    template <typename TAction> static std::string ErrorOf(TAction action) {
        try {
            action();
        } catch (const TException& error) {
            return error.what();
        }
        return "";
    }

    TScratchDir FTemp;
};

} // namespace

TEST_F(ToolsTest, FileExistsSeesOnlyOrdinaryFiles) {
    Write("FactoryDefaults.ini", "[TYPES]\n");
    WriteHidden(".hidden.ini", "x");
    MakeDir("folder.ini");
#ifdef _WIN32
    SetFileAttributesA(Write("system.ini", "x").c_str(), FILE_ATTRIBUTE_SYSTEM);
    EXPECT_FALSE(FileExists(Path("system.ini").c_str()));
#endif

    EXPECT_TRUE(FileExists(Path("FactoryDefaults.ini").c_str()));
    EXPECT_FALSE(FileExists(Path("missing.ini").c_str()));
    EXPECT_FALSE(FileExists(Path(".hidden.ini").c_str()));
    EXPECT_FALSE(FileExists(Path("folder.ini").c_str()));
    EXPECT_FALSE(FileExists(FTemp.Path().c_str()));

    EXPECT_TRUE(FileExists(Path("*.ini").c_str()));
    EXPECT_TRUE(FileExists(Path("Factory????????.ini").c_str()));
    EXPECT_FALSE(FileExists(Path("Factory?.ini").c_str()));
    EXPECT_FALSE(FileExists(Path("*.bin").c_str()));
}

TEST_F(ToolsTest, WildcardsMatchLikeADirectorySearch) {
    Write("a[1].bin", "x");
    Write("noext", "x");
    EXPECT_TRUE(FileExists(Path("a[1].*").c_str())); // brackets are plain characters
    EXPECT_FALSE(FileExists(Path("a[0-9].bin").c_str()));
    EXPECT_TRUE(FileExists(Path("*.*").c_str()));
    EXPECT_TRUE(FileExists(Path("no*").c_str()));
    EXPECT_TRUE(FileExists(Path("*e*t").c_str()));
    EXPECT_FALSE(FileExists(Path("*e*x").c_str()));
    EXPECT_FALSE(FileExists(Path("*/noext").c_str())); // wildcards only in the last part
}

TEST_F(ToolsTest, SizeOfFileOfFirstMatchOrZero) {
    Write("image.bin", std::string(1234, '\xFF'));
    Write("empty.bin", "");
    WriteHidden(".big.bin", std::string(99, 'x'));
    EXPECT_EQ(SizeOfFile(Path("image.bin").c_str()), 1234);
    EXPECT_EQ(SizeOfFile(Path("ima*.b?n").c_str()), 1234);
    EXPECT_EQ(SizeOfFile(Path("empty.bin").c_str()), 0);
    EXPECT_EQ(SizeOfFile(Path("missing.bin").c_str()), 0);
    EXPECT_EQ(SizeOfFile(Path(".big.bin").c_str()), 0);
    EXPECT_EQ(SizeOfFile(FTemp.Path().c_str()), 0);
}

TEST_F(ToolsTest, DirExistsWithAndWithoutTrailingSeparator) {
    MakeDir("sub");
    MakeDir(".config");
    Write("file", "x");
    EXPECT_TRUE(DirExists(""));
    EXPECT_TRUE(DirExists("/"));
    EXPECT_TRUE(DirExists(Path("sub").c_str()));
    EXPECT_TRUE(DirExists(Path("sub/").c_str()));
    EXPECT_TRUE(DirExists(Path(".config").c_str()));
    EXPECT_FALSE(DirExists(Path("file").c_str()));
    EXPECT_FALSE(DirExists(Path("file/").c_str()));
    EXPECT_FALSE(DirExists(Path("missing").c_str()));
#ifdef _WIN32
    // A bare drive counts without asking the disk; backslashes separate as slashes do.
    EXPECT_TRUE(DirExists("C:"));
    EXPECT_TRUE(DirExists("Q:\\"));
    EXPECT_TRUE(DirExists((Path("sub") + "\\").c_str()));
    EXPECT_FALSE(DirExists((Path("file") + "\\").c_str()));
#endif
}

TEST_F(ToolsTest, DelFileDeletesEveryOrdinaryMatchAndNothingElse) {
    Write("a.tmp", "1");
    Write("b.tmp", "2");
    Write("keep.bin", "3");
    WriteHidden(".dot.tmp", "4");
    MakeDir("dir.tmp");

    DelFile(Path("*.tmp").c_str());
    EXPECT_FALSE(Present("a.tmp"));
    EXPECT_FALSE(Present("b.tmp"));
    EXPECT_TRUE(Present("keep.bin"));
    EXPECT_TRUE(Present(".dot.tmp"));
    EXPECT_TRUE(Present("dir.tmp"));

    EXPECT_NO_THROW(DelFile(Path("*.none").c_str()));
    DelFile(Path("keep.bin").c_str());
    EXPECT_FALSE(Present("keep.bin"));
}

TEST_F(ToolsTest, DelFileFailuresNameThePath) {
    MakeDir("dir");
    const std::string missing = Path("missing.bin");
    EXPECT_EQ(ErrorOf([&] { DelFile(missing.c_str()); }), "Cannot delete file: " + missing);
    // A directory is not a file: it must survive.
    const std::string dir = Path("dir");
    EXPECT_EQ(ErrorOf([&] { DelFile(dir.c_str()); }), "Cannot delete file: " + dir);
    EXPECT_TRUE(Present("dir"));
}

TEST_F(ToolsTest, RenameFileMovesButNeverReplaces) {
    const std::string from = Write("old.bin", "old");
    const std::string to = Path("new.bin");
    EXPECT_TRUE(RenameFile(from.c_str(), to.c_str()));
    EXPECT_FALSE(Present("old.bin"));
    EXPECT_EQ(SizeOfFile(to.c_str()), 3);

    const std::string other = Write("other.bin", "other");
    EXPECT_EQ(ErrorOf([&] { RenameFile(other.c_str(), to.c_str()); }),
              "Cannot rename file: " + other);
    EXPECT_EQ(SizeOfFile(to.c_str()), 3); // the existing file keeps its data
    EXPECT_TRUE(Present("other.bin"));

    const std::string missing = Path("missing.bin");
    EXPECT_EQ(ErrorOf([&] { RenameFile(missing.c_str(), Path("x").c_str()); }),
              "Cannot rename file: " + missing);
}

TEST_F(ToolsTest, NamesHoldingWildcardsAreDeletedOnceAndSizedExactly) {
#ifdef _WIN32
    GTEST_SKIP() << "'*' and '?' cannot be part of a file name on Windows";
#endif
    // Legal names here, and each matches its own pattern: deleting must not search them again.
    Write("a*b.tmp", "12345");
    Write("aXb.tmp", "1");
    Write("q?.log", "1234");
    Write("q1.log", "12");
    MakeDir("*");
    Write("*/inner.tmp", "1");

    EXPECT_EQ(SizeOfFile(Path("a*b.tmp").c_str()), 5);
    EXPECT_EQ(SizeOfFile(Path("q?.log").c_str()), 4);

    DelFile(Path("*/inner.tmp").c_str());
    EXPECT_FALSE(Present("*/inner.tmp"));
    DelFile(Path("a*b.tmp").c_str());
    EXPECT_FALSE(Present("a*b.tmp"));
    EXPECT_FALSE(Present("aXb.tmp"));
    DelFile(Path("q?.log").c_str());
    EXPECT_FALSE(Present("q?.log"));
    EXPECT_FALSE(Present("q1.log"));
}

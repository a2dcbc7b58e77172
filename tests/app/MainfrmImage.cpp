// The window's image commands: what a load shows (console, status panel, message boxes), the
// Open dialog and its history, Refresh and its key.
#include "../unit/ImageFileTestKit.h"

#include "MainFormHarness.h"
#include "Settings.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace imagetest;

namespace {

const std::string HexText = ":10100000000102030405060708090A0B0C0D0E0F68\n"
                            ":00000001FF\n";

std::vector<std::string> ConsoleTail(TMainForm& form, int count) {
    std::vector<std::string> lines;
    const int total = form.ConsoleLineCount();
    for (int i = std::max(0, total - count); i < total; ++i)
        lines.push_back(form.ConsoleLine(i)());
    return lines;
}

std::vector<std::string> History(TMainForm& form) {
    std::vector<std::string> paths;
    for (const QAction* item : form.OpenPopup->actions())
        paths.push_back(item->data().toString().toStdString());
    return paths;
}

std::string Stored(const char* name) {
    TSettingsKey key;
    return key.ValueExists(name) ? std::string(key.ReadString(name)()) : "<missing>";
}

void Store(const char* name, const std::string& value) {
    TSettingsKey key;
    ASSERT_TRUE(key.WriteString(name, value.c_str()));
}

// Types path into the dialog's file name box and presses Open.
void ChooseFile(QWidget* dialog, const std::string& path) {
    auto* files = qobject_cast<QFileDialog*>(dialog);
    ASSERT_NE(files, nullptr);
    auto* name = files->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(name, nullptr);
    // The proposed file may still be selected in the list, which would win over typed text.
    for (QAbstractItemView* view : files->findChildren<QAbstractItemView*>())
        if (view->selectionModel())
            view->selectionModel()->clearSelection();
    name->setText(Q(path));
    static_cast<QDialog*>(files)->accept();
}

// Chooses path in the Open dialog that the next OpenTBClick shows.
void OpenThroughDialog(TMainForm& form, const std::string& path) {
    WhenModalShown([path](QWidget* dialog) { ChooseFile(dialog, path); });
    form.OpenTBClick();
}

void SetModified(const std::string& path, QTime time) {
    QFile file(Q(path));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(
        file.setFileTime(QDateTime(QDate(2024, 5, 14), time), QFileDevice::FileModificationTime));
}

} // namespace

TEST(MainFormImage, ALoadShowsItsSummaryAndThePath) {
    TMainFormHarness harness;
    TMainForm& form = harness.Form();
    harness.Boxes().Clear(); // what start-up had to say is not this test's concern
    TScratch scratch;
    const std::string hex = scratch.Write("prog.hex", HexText);
    const std::string binary = scratch.Write("prog.bin", std::string("\x01\x02\x03\x04\x05", 5));

    form.LoadImageFile(hex.c_str());
    EXPECT_EQ(ConsoleTail(form, 7), (std::vector<std::string>{" ", " ", "Loaded file:   " + hex,
                                                              "Type:          Intel Hex",
                                                              "Start address: 0x00001000 (4096)",
                                                              "End address:   0x0000100F (4111)",
                                                              "Length:        0x00000010 (16)"}));
    EXPECT_STREQ(form.StatusPanel(TMainForm::FilePanel)(), hex.c_str());
    EXPECT_EQ(form.FileStart, 0x1000);
    ASSERT_EQ(form.FileImage.Length(), 16);
    EXPECT_EQ(form.FileImage[15], 0x0F);

    form.LoadImageFile(binary.c_str());
    EXPECT_EQ(ConsoleTail(form, 4)[0], "Type:          Binary");
    EXPECT_EQ(form.FileStart, -1) << "a binary file proposes no address of its own";
    EXPECT_EQ(form.FileImage.Length(), 5);

    // An ELF file gives what the Intel HEX file made of it gives.
    const std::string elf = KORVEX_TEST_DATA_DIR "/elf/gap.elf";
    form.LoadImageFile(elf.c_str());
    EXPECT_EQ(form.FileStart, 0x01040000);
    TFileImage objcopied;
    ASSERT_TRUE(ReadImageFile(KORVEX_TEST_DATA_DIR "/elf/gap.hex", objcopied).Ok());
    EXPECT_EQ(ImageBytes(form.FileImage), ImageBytes(objcopied));
    EXPECT_EQ(harness.Boxes().Count(), 0) << harness.Boxes().AllTexts();
}

TEST(MainFormImage, AFailedLoadShowsItsMessageAndLeavesNoImage) {
    TMainFormHarness harness;
    TMainForm& form = harness.Form();
    harness.Boxes().Clear(); // what start-up had to say is not this test's concern
    TScratch scratch;
    const std::string good = scratch.Write("good.hex", HexText);
    struct TCase {
        std::string Path;
        std::string Text;
        int Icon;
    };
    const std::string shortFile = scratch.Write("short.bin", "ab");
    const std::string badHex = scratch.Write("bad.hex", HexText + "\n");
    const std::string badSrec = scratch.Write("bad.s19", "S107100001020304DE\nS4\n");
    const std::string high = scratch.Write("high.s37", "S30980000000AABBCCDD68\n");
    const std::string fifo = scratch.Path("fifo.hex");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::vector<TCase> cases = {
        {scratch.Path("missing.hex"),
         "Unable to open:\n" + scratch.Path("missing.hex") + "\nNo such file or directory",
         MB_ICONWARNING},
        {fifo, "Unable to open:\n" + fifo + "\nNot a regular file", MB_ICONWARNING},
        {shortFile, "Input file:\n" + shortFile + "\nhas insufficient length: 2 bytes.",
         MB_ICONWARNING},
        {badHex, "File doesn't appear to have valid Intel HEX record at line 3:\n\n", 0},
        {badSrec, "File doesn't appear to have valid Motorola SREC record at line 2:\nS4\n", 0},
        {high, "Input file:\n" + high + "\nholds data at address 0x80000000 or above", 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Path);
        form.LoadImageFile(good.c_str());
        ASSERT_GT(form.FileImage.Length(), 0);
        const int lines = form.ConsoleLineCount();
        harness.Boxes().Clear();

        form.LoadImageFile(c.Path.c_str());
        ASSERT_EQ(harness.Boxes().Count(), 1);
        EXPECT_EQ(harness.Boxes().Last().Text.substr(0, c.Text.size()), c.Text);
        EXPECT_EQ(harness.Boxes().Last().Flags & MB_ICONMASK, c.Icon);
        EXPECT_EQ(harness.Boxes().Last().Flags & MB_TYPEMASK, MB_OK);
        // The box's text stays in the console, after the line that starts the report.
        const QStringList box = QString::fromStdString(harness.Boxes().Last().Text).split('\n');
        ASSERT_EQ(form.ConsoleLineCount(), lines + 1 + box.size());
        EXPECT_EQ(ConsoleTail(form, box.size() + 1)[0], " ");
        EXPECT_EQ(form.ConsoleLine(form.ConsoleLineCount() - 1)(), box.last().toStdString());
        EXPECT_EQ(form.FileImage.Length(), 0);
        EXPECT_EQ(form.FileStart, -1);
        EXPECT_STREQ(form.StatusPanel(TMainForm::FilePanel)(), "File image not loaded");
    }
}

TEST(MainFormImage, AHexFileWithoutDataShowsItsPathButCountsAsNotLoaded) {
    TMainFormHarness harness;
    TMainForm& form = harness.Form();
    harness.Boxes().Clear(); // what start-up had to say is not this test's concern
    TScratch scratch;
    const std::string empty = scratch.Write("empty.hex", ":00000001FF\n");
    form.LoadImageFile(empty.c_str());
    EXPECT_EQ(ConsoleTail(form, 3), (std::vector<std::string>{"Start address: 0xFFFFFFFF (-1)",
                                                              "End address:   0xFFFFFFFE (-2)",
                                                              "Length:        0x00000000 (0)"}));
    EXPECT_STREQ(form.StatusPanel(TMainForm::FilePanel)(), empty.c_str());
    EXPECT_EQ(form.FileImage.Length(), 0);

    // Refresh then has nothing to reload and asks for a file instead.
    bool dialogShown = false;
    WhenModalShown([&](QWidget* dialog) {
        dialogShown = qobject_cast<QFileDialog*>(dialog) != nullptr;
        static_cast<QDialog*>(dialog)->reject();
    });
    form.RefreshTBClick();
    EXPECT_TRUE(dialogShown);
}

TEST(MainFormImage, RefreshReloadsTheFileWithOneLine) {
    TMainFormHarness harness;
    TMainForm& form = harness.Form();
    harness.Boxes().Clear(); // what start-up had to say is not this test's concern
    TScratch scratch;
    const std::string path = scratch.Write("prog.hex", HexText);
    form.LoadImageFile(path.c_str());

    scratch.Write("prog.hex", ":02100000AA55EF\n"); // the file changed on disk
    SetModified(path, QTime(14, 5, 9));
    const int lines = form.ConsoleLineCount();
    form.RefreshTBClick();
    EXPECT_EQ(form.ConsoleLineCount(), lines + 2);
    EXPECT_EQ(
        ConsoleTail(form, 2),
        (std::vector<std::string>{" ", "File content refreshed. (file time stamp: 14:05:09)"}));
    ASSERT_EQ(form.FileImage.Length(), 2);
    EXPECT_EQ(form.FileImage[0], 0xAA);
    EXPECT_FALSE(form.Refreshing);

    // The next ordinary load reports in full again.
    form.LoadImageFile(path.c_str());
    EXPECT_EQ(ConsoleTail(form, 1)[0], "Length:        0x00000002 (2)");

    // After a failed refresh nothing is loaded, and Refresh asks for a file.
    QFile::remove(Q(path));
    form.RefreshTBClick();
    EXPECT_EQ(harness.Boxes().Last().Text,
              "Unable to open:\n" + path + "\nNo such file or directory");
    int dialogs = 0;
    WhenModalShown([&](QWidget* dialog) {
        ++dialogs;
        static_cast<QDialog*>(dialog)->reject();
    });
    form.RefreshTBClick();
    EXPECT_EQ(dialogs, 1);
}

TEST(MainFormImage, F5RefreshesOnceAndNotWhileBusy) {
    TMainFormHarness harness;
    TMainForm& form = harness.Form();
    harness.Boxes().Clear(); // what start-up had to say is not this test's concern
    ASSERT_TRUE(harness.ShowForm());
    TScratch scratch;
    const std::string path = scratch.Write("prog.hex", HexText);
    form.LoadImageFile(path.c_str());

    int lines = form.ConsoleLineCount();
    QTest::keyClick(&form, Qt::Key_F5);
    EXPECT_EQ(form.ConsoleLineCount(), lines + 2);
    EXPECT_EQ(ConsoleTail(form, 1)[0].rfind("File content refreshed.", 0), 0u);

    form.SetBusy(true);
    lines = form.ConsoleLineCount();
    QTest::keyClick(&form, Qt::Key_F5);
    QTest::keyClick(form.Memo, Qt::Key_F5);
    EXPECT_EQ(form.ConsoleLineCount(), lines);
    form.SetBusy(false);
    QTest::keyClick(form.Memo, Qt::Key_F5);
    EXPECT_EQ(form.ConsoleLineCount(), lines + 2);
}

TEST(MainFormImage, ANameThatIsNoValidTextOpensAndReloads) {
    TMainFormHarness harness;
    TMainForm& form = harness.Form();
    harness.Boxes().Clear(); // what start-up had to say is not this test's concern
    TScratch scratch;
    const std::string raw = scratch.Path("prog-\xFF.s19");
    const auto rewrite = [&raw](const std::string& text) {
        const int handle = open(raw.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(handle, 0);
        ASSERT_EQ(::write(handle, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        close(handle);
    };
    rewrite("S107100001020304DE\n");

    // The dialog hands over the name as text, with a replacement character.
    OpenThroughDialog(form, QFile::decodeName(raw.c_str()).toStdString());
    EXPECT_EQ(harness.Boxes().Count(), 0) << harness.Boxes().AllTexts();
    EXPECT_EQ(form.FileImage.Length(), 4);

    rewrite("S1051000AABB85\n");
    form.RefreshTBClick();
    ASSERT_EQ(form.FileImage.Length(), 2);
    EXPECT_EQ(form.FileImage[0], 0xAA);

    form.FileImage.Clear();
    form.OpenPopup->actions()[0]->trigger();
    EXPECT_EQ(form.FileImage.Length(), 2);
    EXPECT_EQ(harness.Boxes().Count(), 0) << harness.Boxes().AllTexts();
    unlink(raw.c_str()); // the scratch folder cannot remove what it cannot name
}

TEST(MainFormImage, OpenDialogStartsAtTheLastFileAndRemembersTheChoice) {
    TMainFormHarness harness;
    TMainForm& form = harness.Form();
    harness.Boxes().Clear(); // what start-up had to say is not this test's concern
    TScratch scratch;
    const std::string last = scratch.Write("last.hex", HexText);
    const std::string chosen = scratch.Write("chosen.s19", "S107100001020304DE\n");
    Store("LastFileLocation", last);
    const QString workingDir = QDir::currentPath();

    QStringList filters;
    QString selectedFilter, folder;
    bool resizable = false;
    WhenModalShown([&](QWidget* dialog) {
        auto* files = qobject_cast<QFileDialog*>(dialog);
        ASSERT_NE(files, nullptr);
        filters = files->nameFilters();
        selectedFilter = files->selectedNameFilter();
        folder = files->directory().absolutePath();
        resizable = files->isSizeGripEnabled();
        ChooseFile(files, chosen);
    });
    form.OpenTBClick();
    EXPECT_EQ(filters,
              (QStringList{"Image files (*.bin *.hex *.ih* *.s* *.elf *.axf)",
                           "Binary files (*.bin)", "Intel/Motorola Hex files (*.hex *.ih* *.s*)",
                           "ELF files (*.elf *.axf)", "All files (*.*)"}));
    EXPECT_EQ(selectedFilter, "Image files (*.bin *.hex *.ih* *.s* *.elf *.axf)");
    EXPECT_EQ(folder, QFileInfo(Q(last)).absolutePath());
    EXPECT_TRUE(resizable);
    EXPECT_EQ(QDir::currentPath(), workingDir);
    EXPECT_EQ(Stored("LastFileLocation"), chosen);
    EXPECT_EQ(History(form), std::vector<std::string>{chosen});
    EXPECT_EQ(form.FileImage.Length(), 4);

    // Cancel changes nothing.
    const int lines = form.ConsoleLineCount();
    WhenModalShown([](QWidget* dialog) { static_cast<QDialog*>(dialog)->reject(); });
    form.OpenTBClick();
    EXPECT_EQ(form.ConsoleLineCount(), lines);
    EXPECT_EQ(History(form).size(), 1u);
    EXPECT_EQ(form.FileImage.Length(), 4);

    // The filter chosen last is offered the next time, even when that dialog was cancelled.
    WhenModalShown([&filters](QWidget* dialog) {
        auto* files = qobject_cast<QFileDialog*>(dialog);
        files->selectNameFilter(filters.last());
        files->reject();
    });
    form.OpenTBClick();
    WhenModalShown([&selectedFilter](QWidget* dialog) {
        selectedFilter = qobject_cast<QFileDialog*>(dialog)->selectedNameFilter();
        static_cast<QDialog*>(dialog)->reject();
    });
    form.OpenTBClick();
    EXPECT_EQ(selectedFilter, filters.last());
}

TEST(MainFormImage, AllFilesListsNamesWithoutADot) {
    TMainFormHarness harness;
    TMainForm& form = harness.Form();
    harness.Boxes().Clear(); // what start-up had to say is not this test's concern
    TScratch scratch;
    const std::string raw = scratch.Write("firmware", std::string("\x01\x02\x03\x04", 4));
    scratch.Write("prog.hex", HexText);
    scratch.Write("app.elf", "\x7F"
                             "ELF");
    scratch.Write("app.axf", "\x7F"
                             "ELF");
    const QString folder = QFileInfo(Q(raw)).absolutePath();

    // What the dialog lists under each of its choices, once the listing has settled.
    std::vector<std::string> shown[5];
    WhenModalShown([&](QWidget* dialog) {
        auto* files = qobject_cast<QFileDialog*>(dialog);
        ASSERT_NE(files, nullptr);
        auto* combo = files->findChild<QComboBox*>("fileTypeCombo");
        auto* model = files->findChild<QFileSystemModel*>();
        ASSERT_NE(combo, nullptr);
        ASSERT_NE(model, nullptr);
        files->setDirectory(folder); // no file proposed: it would be listed whatever the choice
        const QModelIndex listed = model->index(folder);
        const auto listing = [&] {
            std::vector<std::string> names;
            for (int row = 0; row < model->rowCount(listed); ++row)
                names.push_back(model->fileName(model->index(row, 0, listed)).toStdString());
            std::sort(names.begin(), names.end());
            return names;
        };
        for (int choice = 0; choice < 5; ++choice) {
            if (choice > 0)
                QTest::keyClick(combo, Qt::Key_Down); // as the user picks the next choice
            const size_t expected = std::vector<size_t>{3, 0, 1, 2, 4}[choice];
            static_cast<void>(QTest::qWaitFor([&] { return listing().size() == expected; }, 5000));
            shown[choice] = listing();
        }
        ChooseFile(files, raw);
    });
    form.OpenTBClick();
    // Every image format first, the raw image without an extension under All files only.
    EXPECT_EQ(shown[0], (std::vector<std::string>{"app.axf", "app.elf", "prog.hex"}));
    EXPECT_EQ(shown[1], std::vector<std::string>{});
    EXPECT_EQ(shown[2], std::vector<std::string>{"prog.hex"});
    EXPECT_EQ(shown[3], (std::vector<std::string>{"app.axf", "app.elf"}));
    EXPECT_EQ(shown[4], (std::vector<std::string>{"app.axf", "app.elf", "firmware", "prog.hex"}));
    EXPECT_EQ(form.FileImage.Length(), 4);
}

TEST(MainFormImage, HistoryKeepsTheEightNewestWithoutReordering) {
    TMainFormHarness harness;
    TMainForm& form = harness.Form();
    harness.Boxes().Clear(); // what start-up had to say is not this test's concern
    TScratch scratch;
    std::vector<std::string> files;
    for (int i = 1; i <= 9; ++i)
        files.push_back(scratch.Write("f" + std::to_string(i) + ".hex", HexText));
    for (const std::string& file : files)
        OpenThroughDialog(form, file);
    const std::vector<std::string> newestFirst(files.rbegin(), files.rbegin() + 8);
    EXPECT_EQ(History(form), newestFirst);
    for (const QAction* item : form.OpenPopup->actions())
        EXPECT_EQ(item->text(), item->data().toString()) << "captions are the paths";

    OpenThroughDialog(form, files[4]); // already there: stays in its place
    EXPECT_EQ(History(form), newestFirst);

    // The same name in other letter case is another entry; a failed load is remembered too.
    const std::string upper = scratch.Write("F5.HEX", "ab");
    OpenThroughDialog(form, upper);
    EXPECT_EQ(harness.Boxes().Count(), 1);
    EXPECT_EQ(form.FileImage.Length(), 0);
    ASSERT_EQ(History(form).size(), 8u);
    EXPECT_EQ(History(form)[0], upper);
    EXPECT_EQ(History(form)[7], files[2]);

    // A history click loads the entry without moving it or touching LastFileLocation.
    const std::vector<std::string> before = History(form);
    const std::string lastLocation = Stored("LastFileLocation");
    form.OpenPopup->actions()[3]->trigger();
    EXPECT_STREQ(form.StatusPanel(TMainForm::FilePanel)(), before[3].c_str());
    EXPECT_EQ(form.FileImage.Length(), 16);
    EXPECT_EQ(History(form), before);
    EXPECT_EQ(Stored("LastFileLocation"), lastLocation);
}

TEST(MainFormImage, HistoryIsReadAtStartAndWrittenAtClose) {
    TSettingsKey::ClearAll();
    std::string ten;
    for (char c = 'a'; c <= 'j'; ++c)
        ten += std::string(ten.empty() ? "" : ";") + "/nowhere/" + c + ".hex";
    Store("FileOpenHistory", ten + " ;; ");
    TMainFormHarness harness(false);
    ASSERT_EQ(History(harness.Form()).size(), 10u) << "a stored history is shown whole";
    EXPECT_EQ(History(harness.Form())[9], "/nowhere/j.hex");

    TScratch scratch;
    const std::string odd = scratch.Write("a;b & c.hex", HexText);
    OpenThroughDialog(harness.Form(), odd);
    ASSERT_EQ(History(harness.Form()).size(), 10u);
    EXPECT_EQ(History(harness.Form())[0], odd);
    EXPECT_EQ(History(harness.Form())[9], "/nowhere/i.hex");

    harness.CloseForm();
    EXPECT_EQ(Stored("FileOpenHistory"), "\"" + odd + "\";" + ten.substr(0, ten.rfind(';')));
    harness.Restart();
    EXPECT_EQ(History(harness.Form())[0], odd) << "a path with ';' comes back whole";
    harness.Form().OpenPopup->actions()[0]->trigger();
    EXPECT_EQ(harness.Form().FileImage.Length(), 16);

    // An empty history is written as the empty text.
    harness.Form().OpenPopup->clear();
    harness.CloseForm();
    EXPECT_EQ(Stored("FileOpenHistory"), "");
}

TEST(MainFormImage, AFileDroppedOnTheWindowLoadsAsOpenLoadsIt) {
    TMainFormHarness harness;
    TMainForm& form = harness.Form();
    TScratch scratch;
    const std::string hex = scratch.Write("drop.hex", HexText);
    const std::string other = scratch.Write("other.bin", std::string("\x01\x02\x03\x04", 4));
    auto drop = [&form](const QList<QUrl>& urls) {
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(&form, &enter);
        QDropEvent dropped(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&form, &dropped);
        return enter.isAccepted() && dropped.isAccepted();
    };
    const QUrl file = QUrl::fromLocalFile(Q(hex));
    struct TCase {
        const char* Name;
        QList<QUrl> Urls;
        bool Busy;
    } refused[] = {
        {"two files", {file, QUrl::fromLocalFile(Q(other))}, false},
        {"a folder", {QUrl::fromLocalFile(QDir::tempPath())}, false},
        {"not a local file", {QUrl("https://example.com/a.hex")}, false},
        {"while busy", {file}, true},
    };
    for (const TCase& c : refused) {
        form.SetBusy(c.Busy);
        EXPECT_FALSE(drop(c.Urls)) << c.Name;
        form.SetBusy(false);
        EXPECT_EQ(form.FileImage.Length(), 0) << c.Name;
    }

    EXPECT_TRUE(drop({file}));
    EXPECT_EQ(form.FileImage.Length(), 16);
    EXPECT_EQ(form.FileStart, 0x1000);
    EXPECT_STREQ(form.StatusPanel(TMainForm::FilePanel)(), hex.c_str());
    EXPECT_EQ(History(form).front(), hex);
    EXPECT_EQ(Stored("LastFileLocation"), hex);
}

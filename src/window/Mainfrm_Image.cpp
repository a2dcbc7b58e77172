// The main window's image commands: loading a file into FileImage, the Open command with its
// file history, and Refresh.

#include "File.h"
#include "ImageFile.h"
#include "Mainfrm.h"
#include "Misc.h"
#include "Settings.h"

#include <QAction>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QUrl>

namespace {

// The Open command trims the history to this many entries when it adds one.
constexpr int MaxHistoryItems = 8;

const char* const AllFilesFilter = "All files (*.*)";
const char* const OpenFilterValue = "OpenFilter"; // the Open dialog's filter chosen last
// The first, which a first Open starts on, lists every image format.
const char* const OpenDialogFilters[] = {
    "Image files (*.bin *.hex *.ih* *.s* *.elf *.axf)",
    "Binary files (*.bin)",
    "Intel/Motorola Hex files (*.hex *.ih* *.s*)",
    "ELF files (*.elf *.axf)",
    AllFilesFilter,
};

// On Windows "*.*" lists every file, names without a dot included; elsewhere the pattern wants a
// dot, and a raw image saved without an extension would not be listed. The choice keeps its text
// and lists every file. Only the toolkit's own dialog can be told so; a desktop's native dialog
// keeps its own matching.
void ListEveryFileUnderAllFiles(QFileDialog& dialog) {
#ifndef _WIN32
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog](const QString& filter) {
                         if (filter != AllFilesFilter)
                             return;
                         if (auto* model = dialog.findChild<QFileSystemModel*>())
                             model->setNameFilters({"*"});
                     });
#else
    (void)dialog;
#endif
}

QString ToQString(const TString& text) {
    return QString::fromLocal8Bit(text());
}
TString FromQString(const QString& text) {
    return TString(text.toLocal8Bit().constData());
}

// A name that is not valid in the local encoding reaches the window with replacement
// characters, and that text names no file. The file is found again among its folder's entries
// by the name they show; the path then holds the bytes the file system holds.
TString LocalPath(const QString& path) {
    const QByteArray encoded = QFile::encodeName(path);
    const QFileInfo info(path);
    if (info.exists() || !path.contains(QChar::ReplacementCharacter))
        return TString(encoded.constData());
    const QByteArray folder = QFile::encodeName(info.path());
    std::string found;
    int matches = 0;
    for (const std::string& name : FolderEntryNames(folder.constData()))
        if (QFile::decodeName(name.c_str()) == info.fileName()) {
            found = name;
            ++matches;
        }
    if (matches != 1)
        return TString(encoded.constData());
    return TString((folder + QDir::separator().toLatin1() + found.c_str()).constData());
}

// The toolkit's dialog refuses a chosen file whose name it cannot spell as "not found"; this
// one lets it through when the file is there under the bytes of its name.
class TOpenDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

protected:
    void accept() override {
        const QStringList files = selectedFiles();
        if (files.size() == 1 && !QFileInfo::exists(files.first()) &&
            QByteArray(LocalPath(files.first())()) != QFile::encodeName(files.first())) {
            QDialog::accept();
            return;
        }
        QFileDialog::accept();
    }
};

// Where a history item's file lies, as the file system spells it.
const char* const LocalPathProperty = "localPath";

// A history item keeps its path as data; the caption shows it with '&' doubled so that the
// menu neither hides it nor takes the next character for an accelerator.
QAction* MakeHistoryItem(QMenu* popup, const QString& path) {
    QString caption = path;
    caption.replace('&', "&&");
    QAction* item = new QAction(caption, popup);
    item->setData(path);
    return item;
}

QString HistoryPath(const QAction* item) {
    return item->data().toString();
}

TString HistoryLocalPath(const QAction* item) {
    const QByteArray local = item->property(LocalPathProperty).toByteArray();
    return local.isEmpty() ? FromQString(HistoryPath(item)) : TString(local.constData());
}

// Adds a path at the top unless the very same text is there already; drops the oldest entry
// when that makes more than MaxHistoryItems.
void AddToHistory(QMenu* popup, const QString& path, const TString& local) {
    const QList<QAction*> items = popup->actions();
    for (const QAction* item : items)
        if (HistoryPath(item) == path)
            return;
    QAction* added = MakeHistoryItem(popup, path);
    added->setProperty(LocalPathProperty, QByteArray(local()));
    popup->insertAction(items.isEmpty() ? nullptr : items.first(), added);
    const QList<QAction*> grown = popup->actions();
    if (grown.size() > MaxHistoryItems) {
        popup->removeAction(grown.last());
        delete grown.last();
    }
}

} // namespace

void TMainForm::LoadImageFile(const TString& path) {
    FileImage.Clear();
    ConsoleAdd(" ");
    SetStatusPanel(FilePanel, "File image not loaded");
    const bool refreshing = Refreshing;
    Refreshing = false;
    FileStart = -1;

    const std::string file = path();
    const TImageReadResult result = ReadImageFile(file, FileImage);
    if (!result.Ok()) {
        const TImageMessage message = ImageFailureMessage(result, file);
        MsgBox(message.Warning ? MB_ICONWARNING : MB_OK, "%s", message.Text.c_str());
        ConsoleAddText(message.Text);
        return;
    }
    if (result.HasOwnStart())
        FileStart = result.Start;
    SetStatusPanel(FilePanel, path);
    LoadedPath = path;

    if (refreshing) {
        ConsoleAdd(ImageRefreshedLine(result).c_str());
        return;
    }
    std::vector<TString> lines{" "};
    for (const std::string& line : ImageSummaryLines(result, file))
        lines.emplace_back(line.c_str());
    ConsoleAddLines(lines);
}

void TMainForm::OpenTBClick() {
    TOpenDialog dialog(this, "Open");
    dialog.setFileMode(QFileDialog::ExistingFile);
    QStringList filters;
    for (const char* filter : OpenDialogFilters)
        filters << filter;
    dialog.setNameFilters(filters);
    ListEveryFileUnderAllFiles(dialog);
    dialog.setSizeGripEnabled(true);
    {
        TSettingsKey key;
        const QString last = key.IsOpen() ? ToQString(key.ReadString("LastFileLocation")) : "";
        if (!last.isEmpty())
            dialog.selectFile(last); // its folder, with the name proposed
        // The filter chosen last, as long as the dialog still offers it; else the first.
        const QString filter = key.IsOpen() ? ToQString(key.ReadString(OpenFilterValue)) : "";
        dialog.selectNameFilter(filters.contains(filter) ? filter : filters.first());
    }
    const bool chosen = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
    {
        TSettingsKey key;
        if (key.IsOpen())
            key.WriteString(OpenFilterValue, FromQString(dialog.selectedNameFilter()));
    }
    if (!chosen)
        return;

    OpenChosenFile(dialog.selectedFiles().first());
}

void TMainForm::OpenChosenFile(const QString& path) {
    const QString chosen = QDir::toNativeSeparators(path);
    {
        TSettingsKey key;
        if (key.IsOpen())
            key.WriteString("LastFileLocation", FromQString(chosen));
    }
    const TString local = LocalPath(chosen);
    LoadImageFile(local);
    AddToHistory(OpenPopup, chosen, local); // a failed load is remembered too
}

namespace {

// The one local file a drag carries, or an empty text.
QString DraggedFile(const QMimeData* data) {
    if (!data || !data->hasUrls() || data->urls().size() != 1)
        return QString();
    const QUrl url = data->urls().first();
    // A name with a replacement character may still be a file: the load finds it or says why.
    const QString file = url.toLocalFile();
    if (!url.isLocalFile() ||
        !(QFileInfo(file).isFile() || file.contains(QChar::ReplacementCharacter)))
        return QString();
    return file;
}

} // namespace

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
    // Not while a command runs: the image it transfers must stay as it is.
    if (!Busy && !Operating && !DraggedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void TMainForm::dropEvent(QDropEvent* event) {
    const QString path = DraggedFile(event->mimeData());
    if (Busy || Operating || path.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    OpenChosenFile(path);
}

void TMainForm::HistoryItemClick(QAction* item) {
    if (item)
        LoadImageFile(HistoryLocalPath(item));
}

void TMainForm::RefreshTBClick() {
    if (FileImage.Length() == 0) {
        OpenTBClick();
        return;
    }
    Refreshing = true;
    LoadImageFile(LoadedPath);
}

void TMainForm::FormKeyDown(QKeyEvent* event) {
    // Escape during a transfer is Cancel, with its question.
    if (event->key() == Qt::Key_Escape && Busy) {
        event->accept();
        CancelMenuClick();
        return;
    }
    if (event->key() != Qt::Key_F5 || event->modifiers() != Qt::NoModifier) {
        event->ignore();
        return;
    }
    // F5 is also Refresh's short-cut, which takes the key while the menu is available; it
    // arrives here only when the short-cut is off, and while busy it must do nothing.
    event->accept();
    if (FileMenu->menuAction()->isEnabled())
        RefreshTBClick();
}

void TMainForm::ReadFileHistory(TSettingsKey& key) {
    const TString history = key.ReadString("FileOpenHistory");
    const int count = history.AsciiWords(';', false);
    for (int i = 0; i < count; ++i) {
        const TString path = history.AsciiWord(i, ';', false);
        if (!path.IsBlank())
            OpenPopup->addAction(MakeHistoryItem(OpenPopup, ToQString(path)));
    }
}

void TMainForm::WriteFileHistory(TSettingsKey& key) {
    QString history;
    const QList<QAction*> items = OpenPopup->actions();
    for (int i = 0; i < items.size(); ++i) {
        if (i > 0)
            history += ';';
        const QString path = HistoryPath(items[i]);
        // Quoted, a path with ';' comes back as one entry rather than two.
        history += path.contains(';') ? '"' + path + '"' : path;
    }
    key.WriteString("FileOpenHistory", FromQString(history));
}

// Saving from the main window: the console's text, and the bytes of the last read in one of the
// file formats korvex-cli writes.

#include "HexText.h"
#include "ImageOutput.h"
#include "Mainfrm.h"
#include "Misc.h"
#include "MonitorMessages.h"

#include <QAction>
#include <QFileDialog>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSaveFile>

namespace {

// The name the user chose, or an empty text.
QString AskSavePath(QWidget* owner, const QStringList& filters) {
    QFileDialog dialog(owner, "Save");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(filters);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().first();
}

} // namespace

void TMainForm::CreateConsoleMenu() {
    SaveConsoleAction = new QAction("Save...", this);
    connect(SaveConsoleAction, &QAction::triggered, this, &TMainForm::SaveConsoleClick);
    SaveReadAction = new QAction("Save Data Read...", this);
    SaveReadAction->setEnabled(false); // until a read has brought something
    connect(SaveReadAction, &QAction::triggered, this, &TMainForm::SaveReadClick);
    FileMenu->insertAction(ClearConsoleMenu, SaveConsoleAction);

    Memo->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Memo, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu* menu = Memo->createStandardContextMenu(at);
        menu->addSeparator();
        menu->addAction(SaveConsoleAction);
        menu->addAction(SaveReadAction);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(Memo->viewport()->mapToGlobal(at));
    });
}

void TMainForm::KeepReadData(uint32_t address, std::vector<uint8_t> data) {
    ReadAddress = address;
    ReadData = std::move(data);
    SaveReadAction->setEnabled(!ReadData.empty());
}

bool TMainForm::SaveFile(const QString& path, const QByteArray& bytes) {
    // The file is replaced only once every byte is written: a full disk leaves the old one.
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    ShowFailure({FormatText("Unable to write file:\n%s\n%s", path.toLocal8Bit().constData(),
                            file.errorString().toLocal8Bit().constData()),
                 MB_ICONEXCLAMATION});
    return false;
}

void TMainForm::SaveConsoleClick() {
    const QString path = AskSavePath(this, {"Text files (*.txt)", "All files (*)"});
    if (!path.isEmpty())
        SaveFile(path, (Memo->toPlainText() + '\n').toLocal8Bit());
}

void TMainForm::SaveReadClick() {
    if (ReadData.empty())
        return;
    const QString path =
        AskSavePath(this, {"Binary files (*.bin)", "Intel HEX files (*.hex *.ihex)",
                           "S-record files (*.srec *.s19 *.s28 *.s37 *.mot)", "All files (*)"});
    if (path.isEmpty())
        return;
    // As korvex-cli read -o: the format from the name's extension, binary for any other.
    const std::string name = path.toLocal8Bit().toStdString();
    const std::string contents = ImageFileContents(OutputFormatFromPath(name), ReadAddress,
                                                   ReadData.data(), ReadData.size(), name);
    if (!SaveFile(path, QByteArray(contents.data(), static_cast<int>(contents.size()))))
        return;
    ConsoleAdd(" ");
    ConsolePrintf("%zu bytes at %s saved to %s", ReadData.size(), AddrToHex(ReadAddress)(),
                  name.c_str());
}

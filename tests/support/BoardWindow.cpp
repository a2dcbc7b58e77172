#include "BoardWindow.h"

#include "Addressfrm.h"
#include "PortList.h"
#include "Settings.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <gtest/gtest.h>

namespace boardtest {

namespace {

const char* const KitTypeDefs = "Kit;4x8K,2x32K;0-2;0000 1000;0100 0000";

} // namespace

TBoardWindow::TBoardWindow(const TBoardConfig& config, const TMonitorTiming& timing)
    : Board(config), FPositions(std::make_shared<std::vector<int>>()) {
    std::string error;
    EXPECT_TRUE(Board.Start(&error)) << error;
    TSettingsKey::ClearAll();
    EXPECT_TRUE(TSettingsKey().WriteString("TypeDefs", KitTypeDefs));
    const QString port = QString::fromStdString(Board.PortPath());
    SetPortCandidateSource([port] { return std::vector<TPortCandidate>{{port, "", true}}; });
    Window = std::make_unique<TMainFormHarness>(false);
    Form().MonitorTiming = timing;
    QObject::connect(Form().ProgressBar, &QProgressBar::valueChanged,
                     [positions = FPositions](int value) { positions->push_back(value); });
}

TBoardWindow::~TBoardWindow() {
    Window.reset();
    SetPortCandidateSource({});
}

bool TBoardWindow::Synchronise() {
    Boxes().QueueAnswer(IDOK);
    Form().SynchTBClick();
    SyncFrames = Board.Frames();
    Board.ClearFrames();
    return Form().ReadTB->isEnabled();
}

void TBoardWindow::Load(const TBytes& bytes) {
    const QString path = FFiles.filePath("image.bin");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    file.close();
    Form().LoadImageFile(path.toLocal8Bit().constData());
    ASSERT_EQ(Form().FileImage.Length(), static_cast<int32_t>(bytes.size()));
}

void TBoardWindow::LoadHex(const TBytes& bytes, uint32_t address) {
    Load(bytes);
    const QString hex = FFiles.filePath("image.hex");
    QProcess convert;
    convert.start("srec_cat", {FFiles.filePath("image.bin"), "-binary", "-offset",
                               QString::number(address), "-o", hex, "-intel"});
    ASSERT_TRUE(convert.waitForFinished(60000) && convert.exitCode() == 0);
    Form().LoadImageFile(hex.toLocal8Bit().constData());
    ASSERT_EQ(Form().FileImage.Length(), static_cast<int32_t>(bytes.size()));
    ASSERT_EQ(Form().FileStart, static_cast<int>(address));
}

TDialogSeen TBoardWindow::RunWithDialog(void (TMainForm::*command)(), const TDialogAnswer& answer) {
    return RunWithDialog([this, command] { (Form().*command)(); }, answer);
}

TDialogSeen TBoardWindow::RunWithDialog(const std::function<void()>& run,
                                        const TDialogAnswer& answer) {
    auto seen = std::make_shared<TDialogSeen>();
    WhenModalShown([seen, answer](QWidget* dialog) {
        auto* form = qobject_cast<TAddressForm*>(dialog);
        ASSERT_NE(form, nullptr) << "not the address dialog";
        seen->Shown = true;
        seen->Title = form->windowTitle();
        seen->Start = form->StartE->text();
        seen->AddressOnly = form->AddressOnly;
        if (answer.Cancel) {
            form->CancelButton->click();
            return;
        }
        if (!answer.Start.empty())
            form->StartE->setText(QString::fromStdString(answer.Start));
        if (!form->AddressOnly) {
            form->EndE->clear();
            form->LenE->setText(QString::fromStdString(answer.Length));
        }
        form->OkButton->click();
    });
    run();
    return *seen;
}

QStringList TBoardWindow::Report() const {
    QStringList lines = Window->Form().Memo->toPlainText().split('\n');
    lines.removeIf([](const QString& line) { return IsSlowAdapterHintLine(line.toStdString()); });
    const int start = static_cast<int>(lines.lastIndexOf(" "));
    return start < 0 ? lines : lines.mid(start);
}

void ExpectLastBox(const TBoardWindow& w, const std::string& text, int flags) {
    const std::string shown = w.Boxes().Last().Text;
    const std::string reason = "$REASON";
    if (text.size() >= reason.size() &&
        text.compare(text.size() - reason.size(), reason.size(), reason) == 0) {
        const std::string step = text.substr(0, text.size() - reason.size());
        EXPECT_EQ(shown.substr(0, step.size()), step);
        EXPECT_EQ(shown.substr(step.size(), w.Board.PortPath().size()), w.Board.PortPath())
            << "the reason names the port: " << shown;
    } else {
        EXPECT_EQ(shown, text);
    }
    EXPECT_EQ(w.Boxes().Last().Flags, flags);
}

void ExpectIdle(TMainForm& form) {
    EXPECT_FALSE(form.IsBusy());
    EXPECT_FALSE(form.IsOperating());
    EXPECT_FALSE(form.CancelMenu->isVisible());
    EXPECT_TRUE(form.ToolBar->isEnabled());
    EXPECT_TRUE(form.ProgressBar->isHidden());
    EXPECT_TRUE(form.TransferL->isHidden());
    EXPECT_TRUE(form.Memo->updatesEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

void AtProgress(TMainForm& form, std::function<bool(int position)> pred,
                std::function<void()> action) {
    auto done = std::make_shared<bool>(false);
    auto* bar = form.ProgressBar;
    QObject::connect(bar, &QProgressBar::valueChanged, bar, [done, pred, action](int position) {
        if (*done || !pred(position))
            return;
        *done = true;
        // Queued: it runs when the transfer lets the window handle its messages.
        QTimer::singleShot(0, action);
    });
}

} // namespace boardtest

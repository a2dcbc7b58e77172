// The console pane, the status bar and the progress display of the main window.

#include "AppGlobals.h"
#include "Mainfrm.h"
#include "Settings.h"
#include "TransferRate.h"

#include <QApplication>
#include <QColor>
#include <QHBoxLayout>
#include <QLabel>
#include <QPalette>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace {

const char* const DefaultFontName = "Courier New";
const int DefaultFontSize = 11;
const int DefaultFontColor = 16777215; // white
const int DefaultBackground = 0;       // black

QString FromText(const char* text) {
    return QString::fromLocal8Bit(text);
}

TString ToText(const QString& text) {
    return TString(text.toLocal8Bit().constData());
}

} // namespace

QColor ColorFromValue(int value) {
    const unsigned v = static_cast<unsigned>(value);
    return QColor(v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF);
}

int ColorToValue(const QColor& color) {
    return color.red() | (color.green() << 8) | (color.blue() << 16);
}

void TMainForm::CreateConsole() {
    Memo = new QPlainTextEdit(this);
    Memo->setObjectName("Memo");
    Memo->setReadOnly(true);
    // Dumps keep their columns: a long line scrolls sideways instead of wrapping.
    Memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // Keep the caret visible so the user can select and copy from the console.
    Memo->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setCentralWidget(Memo);
    CreateConsoleMenu();
    // A view that followed the end keeps following when it grows shorter, as when the board
    // output pane opens below it; one the user scrolled up stays where it was.
    QScrollBar* bar = Memo->verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this,
            [this, bar](int value) { ConsoleFollowing = value >= bar->maximum(); });
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int maximum) {
        if (ConsoleFollowing)
            bar->setValue(maximum);
    });
}

void TMainForm::CreateStatusBar() {
    StatusBar = statusBar();
    StatusBar->setSizeGripEnabled(true);

    // The first panel only hosts the progress bar.
    auto* progressPanel = new QWidget(StatusBar);
    progressPanel->setFixedSize(180, 21);
    ProgressBar = new QProgressBar(progressPanel);
    ProgressBar->setGeometry(8, 2, 173, 17);
    ProgressBar->setRange(0, 100);
    ProgressBar->setFormat("%p%");
    StatusBar->addWidget(progressPanel);

    TransferL = new QLabel(StatusBar);
    TransferL->setObjectName("TransferL");
    StatusBar->addWidget(TransferL);
    TransferL->hide();

    auto* typePanel = new QLabel(StatusBar);
    typePanel->setFixedWidth(80);
    typePanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    StatusBar->addWidget(typePanel);

    // A long path must not widen the window: the panel takes whatever room is left.
    auto* filePanel = new QLabel(StatusBar);
    filePanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    filePanel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    filePanel->setMinimumWidth(1);
    StatusBar->addWidget(filePanel, 1);

    StatusLabels[ProgressPanel] = nullptr;
    StatusLabels[TypePanel] = typePanel;
    StatusLabels[FilePanel] = filePanel;
}

bool TMainForm::ConsoleAtEnd() const {
    const QScrollBar* bar = Memo->verticalScrollBar();
    return bar->value() >= bar->maximum();
}

void TMainForm::ConsoleAppend(const QString& text) {
    // The view follows new lines only when it showed the end; a user reading further up keeps
    // the place.
    QScrollBar* bar = Memo->verticalScrollBar();
    const bool following = ConsoleAtEnd();
    const int kept = bar->value();
    Memo->appendPlainText(text);
    if (!following) {
        bar->setValue(kept);
        return;
    }
    bar->setValue(bar->maximum());
    // The new line from its start, even after a long one scrolled the view sideways.
    Memo->horizontalScrollBar()->setValue(0);
}

void TMainForm::ConsoleAdd(const char* line) {
    ConsoleAppend(FromText(line));
}

void TMainForm::ConsoleAdd(const TString& line) {
    ConsoleAdd(line());
}

void TMainForm::ConsolePrintf(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    const int needed = vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (needed < 0) {
        va_end(args);
        return;
    }
    std::vector<char> text(static_cast<size_t>(needed) + 1);
    vsnprintf(text.data(), text.size(), fmt, args);
    va_end(args);
    ConsoleAdd(text.data());
}

void TMainForm::ConsoleAddLines(const std::vector<TString>& lines) {
    if (lines.empty())
        return;
    // One append for the whole batch: a long dump would otherwise relayout once per line.
    QStringList text;
    text.reserve(static_cast<int>(lines.size()));
    for (const TString& line : lines)
        text.append(FromText(line()));
    ConsoleAppend(text.join('\n'));
}

void TMainForm::ConsoleAddText(const std::string& text) {
    for (const QString& line : QString::fromLocal8Bit(text.c_str()).split('\n'))
        ConsoleAppend(line);
}

int TMainForm::ConsoleLineCount() const {
    QTextDocument* document = Memo->document();
    return document->isEmpty() ? 0 : document->blockCount();
}

TString TMainForm::ConsoleLine(int index) const {
    if (index < 0 || index >= ConsoleLineCount())
        return TString();
    return ToText(Memo->document()->findBlockByNumber(index).text());
}

void TMainForm::ScrollConsoleToEnd() {
    QTextCursor cursor = Memo->textCursor();
    cursor.movePosition(QTextCursor::End);
    Memo->setTextCursor(cursor);
    Memo->ensureCursorVisible();
    QScrollBar* bar = Memo->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void TMainForm::ClearTBClick() {
    Memo->clear();
    ConsolePrintf("Flash/SRAM loader for Atmel Eval. Boards, (Build: %s)", BuildDate());
    ConsoleAdd("Copyright (C) Quillmark. All rights reserved.");
    ConsoleAdd(TString(62, '-'));
}

int TMainForm::ReadConsoleBackground() {
    TSettingsKey key;
    if (!key.IsOpen() || !key.ValueExists("Background"))
        return DefaultBackground;
    return key.ReadInteger("Background", DefaultBackground);
}

void TMainForm::ReadConsoleFont(TConsoleFont& font) {
    TSettingsKey key;
    if (!key.IsOpen() || !key.ValueExists("Font")) {
        font.Font = QFont(DefaultFontName, DefaultFontSize);
        font.Font.setStyleHint(QFont::TypeWriter);
        font.Color = DefaultFontColor;
        return;
    }

    // What the value leaves out keeps the toolkit's defaults for a new font.
    font.Font = QFont();
    font.Color = ColorToValue(QApplication::palette().color(QPalette::Text));
    TString value = key.ReadString("Font");
    const int fields = value.AsciiWords(';', false);
    if (fields > 0) {
        const TString name = value.AsciiWord(0, ';', false);
        if (!name.IsBlank()) {
            font.Font.setFamily(FromText(name()));
            font.Font.setStyleHint(QFont::TypeWriter);
        }
    }
    if (fields > 1) {
        const int size = value.AsciiWord(1, ';', false).ToInt();
        if (size > 0) // the toolkit rejects sizes below one point
            font.Font.setPointSize(size);
    }
    if (fields > 2)
        font.Color = value.AsciiWord(2, ';', false).ToInt();
    auto styleSet = [&](int field, const char* style) {
        return fields > field && value.AsciiWord(field, ';', false).Equals(style, true);
    };
    font.Font.setBold(styleSet(3, "Bold"));
    font.Font.setItalic(styleSet(4, "Italic"));
    font.Font.setUnderline(styleSet(5, "Underline"));
    font.Font.setStrikeOut(styleSet(6, "StrikeOut"));
}

void TMainForm::ApplyConsoleLook() {
    // A new font lays the text out anew, which would leave the view at the top and stop it
    // following new lines: it comes back to the line it showed, or to the end it followed.
    QScrollBar* bar = Memo->verticalScrollBar();
    const bool following = bar->value() >= bar->maximum();
    const int topLine = Memo->cursorForPosition(QPoint(0, 0)).blockNumber();

    TConsoleFont font;
    ReadConsoleFont(font);
    Memo->setFont(font.Font);
    QPalette palette = Memo->palette();
    palette.setColor(QPalette::Base, ColorFromValue(ReadConsoleBackground()));
    palette.setColor(QPalette::Text, ColorFromValue(font.Color));
    Memo->setPalette(palette);
    // The console counts its lines for the new font only when its size changes.
    QResizeEvent sameSize(Memo->viewport()->size(), Memo->viewport()->size());
    QCoreApplication::sendEvent(Memo->viewport(), &sameSize);

    if (following)
        ScrollConsoleToEnd(); // lays out the end anew, which the new lines look at to follow
    else
        bar->setValue(Memo->document()->findBlockByNumber(topLine).firstLineNumber());
}

void TMainForm::SetStatusPanel(int panel, const TString& text) {
    if (panel < 0 || panel > 2 || !StatusLabels[panel])
        return;
    StatusLabels[panel]->setText(FromText(text()));
}

TString TMainForm::StatusPanel(int panel) const {
    if (panel < 0 || panel > 2 || !StatusLabels[panel])
        return TString();
    return ToText(StatusLabels[panel]->text());
}

void TMainForm::ProgressStart(int total) {
    // An empty range would turn the bar into a busy indicator.
    ProgressBar->setRange(0, total > 0 ? total : 1);
    ProgressBar->setValue(0);
    ProgressBar->show();
    TransferL->clear();
    TransferL->show();
    TransferClock.start();
    RateShownAt = -RateIntervalMs;
}

void TMainForm::ProgressRestartClock() {
    TransferClock.start();
    RateShownAt = -RateIntervalMs;
}

void TMainForm::ProgressSetPosition(int position) {
    // Repainting the bar costs more than a block takes on the wire: it moves when the change
    // shows, by a two-hundredth of the range, and at its ends.
    const int total = ProgressBar->maximum();
    const int64_t step = std::max<int64_t>(int64_t(total) / 200, 1);
    if (position == 0 || position >= total ||
        std::abs(int64_t(position) - ProgressBar->value()) >= step)
        ProgressBar->setValue(position);
}

void TMainForm::ProgressEnd() {
    ProgressBar->hide();
    TransferL->hide();
}

void TMainForm::ProgressShowRate(int64_t doneBytes, int64_t totalBytes) {
    const double elapsedMs = TransferClock.isValid() ? TransferClock.nsecsElapsed() / 1e6 : 0;
    // A figure that changed with every block could not be read anyway.
    if (elapsedMs - RateShownAt < RateIntervalMs && doneBytes < totalBytes)
        return;
    RateShownAt = elapsedMs;
    const QString text = QString::fromStdString(TransferRateText(doneBytes, totalBytes, elapsedMs));
    if (text != TransferL->text())
        TransferL->setText(text);
}

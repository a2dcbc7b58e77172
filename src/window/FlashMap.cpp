#include "FlashMap.h"

#include "Ebdata.h"
#include "HexText.h"

#include <QDockWidget>
#include <QHelpEvent>
#include <QPainter>
#include <QPalette>
#include <QResizeEvent>
#include <QToolTip>

#include <algorithm>
#include <iterator>

namespace {

constexpr int MinCellWidth = 28;
constexpr int CellHeight = 22;
constexpr int Gap = 3;
// Red reads as failure in light and dark themes alike; the palette has no role for it.
const QColor FailedColour(190, 30, 30);

struct TLegendEntry {
    const char* Text;
    TFlashMap::TState State;
    bool Protected;
};

const TLegendEntry Legend[] = {
    {"to write", TFlashMap::TState::ToWrite, false},
    {"written", TFlashMap::TState::Written, false},
    {"skipped", TFlashMap::TState::Skipped, false},
    {"erased", TFlashMap::TState::Erased, false},
    {"not written", TFlashMap::TState::NotWritten, false},
    {"erase failed", TFlashMap::TState::EraseFailed, false},
    {"untouched", TFlashMap::TState::Untouched, false},
    {"protected", TFlashMap::TState::Untouched, true},
};
constexpr int LegendCount = static_cast<int>(std::size(Legend));

const char* StateName(TFlashMap::TState state) {
    switch (state) {
    case TFlashMap::TState::ToWrite:
        return "to be erased and written";
    case TFlashMap::TState::Skipped:
        return "unchanged, skipped";
    case TFlashMap::TState::Written:
        return "written";
    case TFlashMap::TState::Erased:
        return "erased";
    case TFlashMap::TState::NotWritten:
        return "not written: the programming failed";
    case TFlashMap::TState::EraseFailed:
        return "erase failed";
    default:
        return "untouched";
    }
}

TFlashMap::TState PlannedState(TSectorAction action) {
    return action == TSectorAction::Write  ? TFlashMap::TState::ToWrite
           : action == TSectorAction::Skip ? TFlashMap::TState::Skipped
                                           : TFlashMap::TState::Untouched;
}

} // namespace

TFlashMap::TFlashMap(QWidget* owner) : QWidget(owner), FNote(NothingYetNote) {
    setObjectName("FlashMap");
    // As wide as the legend needs, narrower when the window is small, never wider.
    QSizePolicy policy(QSizePolicy::Maximum, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    if (owner)
        owner->window()->installEventFilter(this);
}

void TFlashMap::Clear() {
    SetPlan(TProgramPlan());
    FNote = NothingYetNote;
}

void TFlashMap::SetPlan(const TProgramPlan& plan) {
    FPlan = plan;
    FCurrent = -1;
    FStates.clear();
    for (const TSectorPlan& sector : plan.Sectors)
        FStates.push_back(PlannedState(sector.Action));
    FPlanned = plan.Count(TSectorAction::Write) > 0;
    FNote.clear();
    updateGeometry();
    update();
}

void TFlashMap::ShowSectorsOf(const TEBData& type) {
    const std::vector<TSectorPlan>& shown = FPlan.Sectors;
    if (!shown.empty() && static_cast<int>(shown.size()) == type.GetSectorCount() &&
        shown.front().Start == static_cast<uint32_t>(type.GetSector(0).Start))
        return;
    SetPlan(BuildProgramPlan(type, static_cast<uint32_t>(type.GetFlashStart()), nullptr, 0));
}

void TFlashMap::SetState(int sector, TState state) {
    if (sector < 0 || sector >= static_cast<int>(FStates.size()))
        return;
    FStates[static_cast<size_t>(sector)] = state;
    update();
}

void TFlashMap::MarkNextErased() {
    // The sectors of a plan are erased in their order, before any is written.
    const auto next = std::find(FStates.begin(), FStates.end(), TState::ToWrite);
    if (next != FStates.end())
        SetState(static_cast<int>(next - FStates.begin()), TState::Erased);
}

void TFlashMap::MarkWritten(int sector) {
    SetState(sector, TState::Written);
}

void TFlashMap::FinishProgramming(const TBootMonitor::TProgramResult& program) {
    const bool ok = program.Result.Ok();
    const bool inErase = program.Step == TBootMonitor::TStep::Erase;
    // The first sector still to write is the one whose erase did not go through.
    bool eraseFailureMarked = !inErase || program.Result.Status == TMonitorStatus::Cancelled;
    for (TState& state : FStates) {
        if (state == TState::Erased)
            state = ok ? TState::Written : TState::NotWritten;
        else if (state == TState::ToWrite && ok)
            state = TState::Written;
        else if (state == TState::ToWrite && !inErase)
            state = TState::NotWritten;
        else if (state == TState::ToWrite && !eraseFailureMarked) {
            state = TState::EraseFailed;
            eraseFailureMarked = true;
        } else if (state == TState::ToWrite)
            state = TState::Untouched; // never reached
    }
    FNote = !ok && program.Step == TBootMonitor::TStep::Verify ? VerifyFailedNote : "";
    FPlanned = false;
    FCurrent = -1;
    update();
}

void TFlashMap::NothingChanged() {
    if (!FPlanned)
        return;
    for (TState& state : FStates)
        if (state == TState::ToWrite)
            state = TState::Untouched;
    FPlanned = false;
    FCurrent = -1;
    FNote = NothingChangedNote;
    update();
}

void TFlashMap::MarkErased(int sector) {
    FNote.clear();
    SetState(sector, TState::Erased);
}

void TFlashMap::MarkEraseFailed(int sector) {
    FNote.clear();
    SetState(sector, TState::EraseFailed);
}

TFlashMap::TState TFlashMap::State(int sector) const {
    return sector >= 0 && sector < static_cast<int>(FStates.size())
               ? FStates[static_cast<size_t>(sector)]
               : TState::Untouched;
}

QString TFlashMap::CellText(int sector) const {
    if (sector < 0 || sector >= static_cast<int>(FPlan.Sectors.size()))
        return QString();
    const TSectorPlan& plan = FPlan.Sectors[static_cast<size_t>(sector)];
    return QString("Sector %1: %2 to %3, %4%5")
        .arg(sector)
        .arg(AddrToHex(plan.Start)())
        .arg(AddrToHex(plan.Start + plan.Length - 1)())
        .arg(StateName(State(sector)))
        .arg(plan.Protected ? ", protected" : "");
}

bool TFlashMap::event(QEvent* event) {
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    const QPoint at = static_cast<QHelpEvent*>(event)->pos();
    for (int i = 0; i < static_cast<int>(FPlan.Sectors.size()); ++i) {
        if (CellRect(i, width()).contains(at)) {
            QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), CellText(i), this);
            return true;
        }
    }
    QToolTip::hideText();
    event->ignore();
    return true;
}

bool TFlashMap::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize && watched == window())
        FollowWindowWidth(static_cast<QResizeEvent*>(event)->size().width());
    return QWidget::eventFilter(watched, event);
}

void TFlashMap::FollowWindowWidth(int windowWidth) {
    // The console keeps at least two thirds of the window; the legend still fits in one column.
    auto* dock = qobject_cast<QDockWidget*>(parentWidget());
    if (dock)
        dock->setMaximumWidth(std::max(windowWidth / 3, minimumSizeHint().width() + 2 * Gap));
}

void TFlashMap::SetCurrent(int sector) {
    if (sector == FCurrent)
        return;
    FCurrent = sector;
    update();
}

int TFlashMap::Columns(int width) const {
    const int count = std::max<int>(1, static_cast<int>(FPlan.Sectors.size()));
    return std::clamp((width + Gap) / (MinCellWidth + Gap), 1, count);
}

int TFlashMap::CellsHeight(int width) const {
    const int count = static_cast<int>(FPlan.Sectors.size());
    const int rows = (count + Columns(width) - 1) / Columns(width);
    return rows * (CellHeight + Gap);
}

QRect TFlashMap::CellRect(int index, int width) const {
    const int columns = Columns(width);
    const int cellWidth = (width - (columns - 1) * Gap) / columns;
    return QRect((index % columns) * (cellWidth + Gap), (index / columns) * (CellHeight + Gap),
                 cellWidth, CellHeight);
}

int TFlashMap::NoteHeight(int width) const {
    if (FNote.isEmpty())
        return 0;
    return fontMetrics().boundingRect(QRect(0, 0, width, 0), Qt::TextWordWrap, FNote).height() +
           Gap;
}

int TFlashMap::LegendEntryWidth() const {
    int widest = 0;
    for (const TLegendEntry& entry : Legend)
        widest = std::max(widest, fontMetrics().horizontalAdvance(entry.Text));
    return fontMetrics().height() + Gap + widest + 2 * Gap;
}

int TFlashMap::LegendColumns(int width) const {
    return std::clamp(width / LegendEntryWidth(), 1, LegendCount);
}

int TFlashMap::LegendHeight(int width) const {
    const int rows = (LegendCount + LegendColumns(width) - 1) / LegendColumns(width);
    return rows * (fontMetrics().height() + Gap);
}

int TFlashMap::heightForWidth(int width) const {
    return CellsHeight(width) + NoteHeight(width) + Gap + LegendHeight(width);
}

QSize TFlashMap::sizeHint() const {
    // Two columns of legend, and room for six cells a row.
    const int width = std::max(2 * LegendEntryWidth(), 6 * (MinCellWidth + Gap));
    return {width, heightForWidth(width)};
}

QSize TFlashMap::minimumSizeHint() const {
    const int width = LegendEntryWidth();
    return {width, heightForWidth(width)};
}

void TFlashMap::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPalette& colours = palette();
    // The palette's roles, so the map reads in light and dark themes alike.
    const QBrush untouched = colours.brush(QPalette::Base);
    const QBrush written = colours.brush(QPalette::Highlight);
    const QBrush skip = colours.brush(QPalette::Mid);
    const QPen frame(colours.color(QPalette::Text), 1);
    const QBrush hatch(colours.color(QPalette::Text), Qt::BDiagPattern);
    // Planned sectors are dotted in the written colour until they are; erased ones crossed, in
    // red when the programming left them so.
    const QBrush toWrite(colours.color(QPalette::Highlight), Qt::Dense5Pattern);
    const QBrush erased(colours.color(QPalette::Highlight), Qt::DiagCrossPattern);
    const QBrush notWritten(FailedColour, Qt::DiagCrossPattern);

    const auto fill = [&](const QRect& cell, TState state, bool isProtected) {
        painter.fillRect(cell, untouched);
        if (state == TState::Written)
            painter.fillRect(cell, written);
        else if (state == TState::Skipped)
            painter.fillRect(cell, skip);
        else if (state == TState::ToWrite)
            painter.fillRect(cell, toWrite);
        else if (state == TState::Erased)
            painter.fillRect(cell, erased);
        else if (state == TState::NotWritten)
            painter.fillRect(cell, notWritten);
        else if (state == TState::EraseFailed)
            painter.fillRect(cell, FailedColour);
        if (isProtected)
            painter.fillRect(cell, hatch);
        painter.setPen(frame);
        painter.drawRect(cell.adjusted(0, 0, -1, -1));
    };
    for (int i = 0; i < static_cast<int>(FPlan.Sectors.size()); ++i) {
        const QRect cell = CellRect(i, width());
        fill(cell, State(i), FPlan.Sectors[static_cast<size_t>(i)].Protected);
        if (i == FCurrent) {
            // The sector being written: a thick frame in the text colour and a dot.
            painter.setPen(QPen(colours.color(QPalette::Text), 3));
            painter.drawRect(cell.adjusted(1, 1, -2, -2));
            painter.setBrush(colours.brush(QPalette::HighlightedText));
            const int dot = std::min(cell.width(), cell.height()) / 3;
            painter.drawEllipse(cell.center(), dot / 2, dot / 2);
            painter.setBrush(Qt::NoBrush);
        }
    }

    int y = CellsHeight(width());
    painter.setPen(colours.color(QPalette::WindowText));
    if (!FNote.isEmpty()) {
        painter.drawText(QRect(0, y, width(), NoteHeight(width())), Qt::TextWordWrap, FNote);
        y += NoteHeight(width());
    }
    // The legend under them, wrapped into the columns that fit.
    y += Gap;
    const int line = fontMetrics().height();
    const int columns = LegendColumns(width());
    for (int i = 0; i < LegendCount; ++i) {
        const int x = (i % columns) * LegendEntryWidth();
        const int top = y + (i / columns) * (line + Gap);
        fill(QRect(x, top, line, line), Legend[i].State, Legend[i].Protected);
        painter.setPen(colours.color(QPalette::WindowText));
        painter.drawText(QRect(x + line + Gap, top, LegendEntryWidth() - line - Gap, line),
                         Qt::AlignVCenter, Legend[i].Text);
    }
}

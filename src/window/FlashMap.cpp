#include "FlashMap.h"

#include "HexText.h"

#include <QHelpEvent>
#include <QPainter>
#include <QPalette>
#include <QToolTip>

#include <algorithm>

namespace {

constexpr int MinCellWidth = 28;
constexpr int CellHeight = 22;
constexpr int Gap = 3;

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

TFlashMap::TFlashMap(QWidget* owner) : QWidget(owner) {
    setObjectName("FlashMap");
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void TFlashMap::SetPlan(const TProgramPlan& plan) {
    FPlan = plan;
    FCurrent = -1;
    FStates.clear();
    for (const TSectorPlan& sector : plan.Sectors)
        FStates.push_back(PlannedState(sector.Action));
    updateGeometry();
    update();
}

void TFlashMap::SetState(int sector, TState state) {
    if (sector < 0 || sector >= static_cast<int>(FStates.size()))
        return;
    FStates[static_cast<size_t>(sector)] = state;
    update();
}

void TFlashMap::MarkWritten(int sector) {
    SetState(sector, TState::Written);
}

void TFlashMap::MarkErased(int sector) {
    SetState(sector, TState::Erased);
}

void TFlashMap::FinishProgramming(bool ok) {
    for (TState& state : FStates)
        if (state == TState::ToWrite)
            state = ok ? TState::Written : TState::NotWritten;
    FCurrent = -1;
    update();
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
        if (CellRect(i, size()).contains(at)) {
            QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), CellText(i), this);
            return true;
        }
    }
    QToolTip::hideText();
    event->ignore();
    return true;
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

QRect TFlashMap::CellRect(int index, const QSize& area) const {
    const int columns = Columns(area.width());
    const int rows = (static_cast<int>(FPlan.Sectors.size()) + columns - 1) / columns;
    const int legend = fontMetrics().height() + 2 * Gap;
    const int width = (area.width() - (columns - 1) * Gap) / columns;
    const int height =
        std::max(CellHeight / 2, (area.height() - legend - (rows - 1) * Gap) / std::max(rows, 1));
    return QRect((index % columns) * (width + Gap), (index / columns) * (height + Gap), width,
                 height);
}

QSize TFlashMap::sizeHint() const {
    const int count = static_cast<int>(FPlan.Sectors.size());
    const int columns = std::min(std::max(count, 1), 20);
    const int rows = (count + columns - 1) / columns;
    return {columns * (MinCellWidth + Gap),
            rows * (CellHeight + Gap) + fontMetrics().height() + 2 * Gap};
}

QSize TFlashMap::minimumSizeHint() const {
    return {8 * (MinCellWidth + Gap) / 2, CellHeight + fontMetrics().height() + 2 * Gap};
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
    // Planned sectors are dotted in the written colour until they are; erased ones crossed.
    const QBrush toWrite(colours.color(QPalette::Highlight), Qt::Dense5Pattern);
    const QBrush erased(colours.color(QPalette::Highlight), Qt::DiagCrossPattern);

    const auto fill = [&](const QRect& cell, TState state, bool isProtected) {
        painter.fillRect(cell, untouched);
        if (state == TState::Written)
            painter.fillRect(cell, written);
        else if (state == TState::Skipped)
            painter.fillRect(cell, skip);
        else if (state == TState::ToWrite)
            painter.fillRect(cell, toWrite);
        else if (state == TState::Erased || state == TState::NotWritten)
            painter.fillRect(cell, erased);
        if (isProtected)
            painter.fillRect(cell, hatch);
        painter.setPen(frame);
        painter.drawRect(cell.adjusted(0, 0, -1, -1));
    };
    for (int i = 0; i < static_cast<int>(FPlan.Sectors.size()); ++i) {
        const QRect cell = CellRect(i, size());
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

    // The legend along the bottom.
    const int height = fontMetrics().height();
    int x = 0;
    const int y = this->height() - height - Gap;
    const auto key = [&](const char* text, TState state, bool isProtected) {
        fill(QRect(x, y, height, height), state, isProtected);
        x += height + Gap;
        painter.setPen(colours.color(QPalette::WindowText));
        painter.drawText(QRect(x, y, width() - x, height), Qt::AlignVCenter, text);
        x += fontMetrics().horizontalAdvance(text) + 3 * Gap;
    };
    key("to write", TState::ToWrite, false);
    key("written", TState::Written, false);
    key("skipped", TState::Skipped, false);
    key("erased", TState::Erased, false);
    key("untouched", TState::Untouched, false);
    key("protected", TState::Untouched, true);
}

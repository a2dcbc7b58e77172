#include "FlashMap.h"

#include "HexText.h"

#include <QPainter>
#include <QPalette>

#include <algorithm>

namespace {

constexpr int MinCellWidth = 28;
constexpr int CellHeight = 22;
constexpr int Gap = 3;

} // namespace

TFlashMap::TFlashMap(QWidget* owner) : QWidget(owner) {
    setObjectName("FlashMap");
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void TFlashMap::SetPlan(const TProgramPlan& plan) {
    FPlan = plan;
    FCurrent = -1;
    QStringList tips;
    for (size_t i = 0; i < plan.Sectors.size(); ++i) {
        const TSectorPlan& sector = plan.Sectors[i];
        if (sector.Action != TSectorAction::Untouched)
            tips << QString("%1  %2 bytes: %3")
                        .arg(AddrToHex(sector.Start)())
                        .arg(sector.Length)
                        .arg(sector.Action == TSectorAction::Skip ? "skipped"
                                                                  : "erased and written");
    }
    setToolTip(tips.join('\n'));
    updateGeometry();
    update();
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
    const QBrush write = colours.brush(QPalette::Highlight);
    const QBrush skip = colours.brush(QPalette::Mid);
    const QPen frame(colours.color(QPalette::Text), 1);
    const QBrush hatch(colours.color(QPalette::Text), Qt::BDiagPattern);

    const auto fill = [&](const QRect& cell, const TSectorPlan& sector) {
        painter.fillRect(cell, sector.Action == TSectorAction::Write  ? write
                               : sector.Action == TSectorAction::Skip ? skip
                                                                      : untouched);
        if (sector.Protected)
            painter.fillRect(cell, hatch);
        painter.setPen(frame);
        painter.drawRect(cell.adjusted(0, 0, -1, -1));
    };
    for (int i = 0; i < static_cast<int>(FPlan.Sectors.size()); ++i) {
        const QRect cell = CellRect(i, size());
        fill(cell, FPlan.Sectors[static_cast<size_t>(i)]);
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
    const auto key = [&](const char* text, TSectorAction action, bool isProtected) {
        TSectorPlan sample;
        sample.Action = action;
        sample.Protected = isProtected;
        fill(QRect(x, y, height, height), sample);
        x += height + Gap;
        painter.setPen(colours.color(QPalette::WindowText));
        painter.drawText(QRect(x, y, width() - x, height), Qt::AlignVCenter, text);
        x += fontMetrics().horizontalAdvance(text) + 3 * Gap;
    };
    key("written", TSectorAction::Write, false);
    key("skipped", TSectorAction::Skip, false);
    key("untouched", TSectorAction::Untouched, false);
    key("protected", TSectorAction::Untouched, true);
}

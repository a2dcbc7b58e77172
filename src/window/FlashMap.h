// The flash map: the board type's sectors as a picture of what a programming does to each, shown
// before it asks to go ahead and while it runs.
#pragma once

#include "ProgramPlan.h"

#include <QWidget>

class TFlashMap : public QWidget {
    Q_OBJECT
public:
    explicit TFlashMap(QWidget* owner);

    void SetPlan(const TProgramPlan& plan);
    // The sector being written, or -1.
    void SetCurrent(int sector);
    int Current() const { return FCurrent; }
    const TProgramPlan& Plan() const { return FPlan; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // The cell of a sector in a widget of the given size; the legend takes the bottom line.
    QRect CellRect(int index, const QSize& area) const;
    int Columns(int width) const;

    TProgramPlan FPlan;
    int FCurrent = -1;
};

// The flash map: the board type's sectors as a picture of what a programming is to do to each,
// shown before it asks to go ahead, and then of what was done: written, erased, or left unwritten
// by a programming that failed.
#pragma once

#include "ProgramPlan.h"

#include <QWidget>

#include <vector>

class TFlashMap : public QWidget {
    Q_OBJECT
public:
    // What the map knows of a sector.
    enum class TState { Untouched, ToWrite, Skipped, Written, Erased, NotWritten };

    explicit TFlashMap(QWidget* owner);

    // Every sector as the plan has it: to write, skipped or untouched.
    void SetPlan(const TProgramPlan& plan);
    // The sector being written, or -1.
    void SetCurrent(int sector);
    int Current() const { return FCurrent; }
    const TProgramPlan& Plan() const { return FPlan; }

    // What was done: a sector whose data all went out, a sector erased on its own, and the end
    // of a programming (a failed one leaves the sectors it did not write as "not written").
    void MarkWritten(int sector);
    void MarkErased(int sector);
    void FinishProgramming(bool ok);
    TState State(int sector) const;
    // "Sector 3: 0x01006000 to 0x01007FFF, written", as the sector's tool tip says it.
    QString CellText(int sector) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    // The cell of a sector in a widget of the given size; the legend takes the bottom line.
    QRect CellRect(int index, const QSize& area) const;
    int Columns(int width) const;
    void SetState(int sector, TState state);

    TProgramPlan FPlan;
    std::vector<TState> FStates; // one a sector of the plan
    int FCurrent = -1;
};

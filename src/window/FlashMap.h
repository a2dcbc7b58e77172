// The flash map: the board type's sectors as a picture of what a programming is to do to each,
// shown before it asks to go ahead, and then of what was done: written, erased, left erased by a
// programming that failed, or not erased because the erase failed. A dock beside the console,
// as wide as its legend needs and never more than a third of the window.
#pragma once

#include "BootMonitor.h"
#include "ProgramPlan.h"

#include <QWidget>

#include <vector>

class TEBData;

class TFlashMap : public QWidget {
    Q_OBJECT
public:
    // What the map knows of a sector.
    enum class TState { Untouched, ToWrite, Skipped, Written, Erased, NotWritten, EraseFailed };
    // The line under the sectors where they cannot tell it.
    static constexpr const char* NothingYetNote =
        "Nothing to show yet: a programming or a sector erase shows its sectors here.";
    static constexpr const char* NothingChangedNote =
        "Not programmed: nothing on the board changed.";
    static constexpr const char* VerifyFailedNote =
        "Written, but the board's verify of the image failed.";

    // owner's window is the one whose width bounds the map's.
    explicit TFlashMap(QWidget* owner);

    // Nothing to show yet: no programming or erase since the port or board type was chosen.
    void Clear();
    // Every sector as the plan has it: to write, skipped or untouched.
    void SetPlan(const TProgramPlan& plan);
    // The board type's sectors with nothing planned; what the map shows of them stays.
    void ShowSectorsOf(const TEBData& type);
    // The sector being written, or -1.
    void SetCurrent(int sector);
    int Current() const { return FCurrent; }
    const TProgramPlan& Plan() const { return FPlan; }

    // A programming as it goes: the next sector of the plan erased, a sector whose data all went
    // out, and its end. A failed one leaves what it erased as "not written", the sector whose
    // erase failed as such, and the sectors it never reached as they were.
    void MarkNextErased();
    void MarkWritten(int sector);
    void FinishProgramming(const TBootMonitor::TProgramResult& program);
    // The plan shown was never carried out (declined, or the port failed first): nothing on the
    // board changed. Nothing happens once the programming ran.
    void NothingChanged();
    // A sector erased on its own, or whose erase failed.
    void MarkErased(int sector);
    void MarkEraseFailed(int sector);

    TState State(int sector) const;
    // "Sector 3: 0x01006000 to 0x01007FFF, written", as the sector's tool tip says it.
    QString CellText(int sector) const;
    // The line under the sectors: what there is to know beyond them, or empty.
    QString Note() const { return FNote; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The cell of a sector when the map is width wide; the note and the legend follow the cells.
    QRect CellRect(int index, int width) const;
    int Columns(int width) const;
    int CellsHeight(int width) const;
    int NoteHeight(int width) const;
    // One legend entry: its swatch and its text; the entries wrap into as many columns as fit.
    int LegendEntryWidth() const;
    int LegendColumns(int width) const;
    int LegendHeight(int width) const;
    // A third of the window's width, for the dock around the map.
    void FollowWindowWidth(int windowWidth);
    void SetState(int sector, TState state);

    TProgramPlan FPlan;
    std::vector<TState> FStates; // one a sector of the plan
    int FCurrent = -1;
    bool FPlanned = false; // a plan is shown that nothing has been done to yet
    QString FNote;
};

// While a programming command runs: a plan it showed but did not carry out, whichever way the
// command ends before, leaves the map saying that nothing changed.
class TFlashMapPlanScope {
public:
    explicit TFlashMapPlanScope(TFlashMap& map) : FMap(map) {}
    ~TFlashMapPlanScope() { FMap.NothingChanged(); }
    TFlashMapPlanScope(const TFlashMapPlanScope&) = delete;
    TFlashMapPlanScope& operator=(const TFlashMapPlanScope&) = delete;

private:
    TFlashMap& FMap;
};

// The preferences dialog: link speeds, console look and the board type definitions.
#pragma once

#include <QColor>
#include <QDialog>
#include <QFont>

#include "TString.h"

class QCheckBox;
class QColorDialog;
class QComboBox;
class QFontComboBox;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

// The font picker of the console settings: installed fixed-pitch fonts only, sizes 6 to 24
// points, the effects and the text colour, with a sample.
class TFontPicker : public QDialog {
    Q_OBJECT
public:
    explicit TFontPicker(QWidget* owner);

    static constexpr int MinPointSize = 6;
    static constexpr int MaxPointSize = 24;

    // Shows a font; a size outside the limits is brought to the nearest one. The sample is
    // drawn on `background`, so that it looks as it will in the console.
    void SetFont(const QFont& font, const QColor& color, const QColor& background);
    QFont GetFont() const;
    QColor GetColor() const;

    QFontComboBox* FamilyCB;
    QComboBox* StyleCB; // Regular, Italic, Bold, Bold Italic
    QComboBox* SizeCB;
    QCheckBox* StrikeOutCB;
    QCheckBox* UnderlineCB;
    QComboBox* ColorCB;
    QLabel* SampleL;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void CreateFontFields(); // family, style and size
    QGroupBox* CreateEffectsGroup();
    QGroupBox* CreateSampleGroup();
    void UpdateSample();

    QColor FBackground = Qt::black; // the console's, behind the sample
};

class TSetupForm : public QDialog {
    Q_OBJECT
public:
    explicit TSetupForm(QWidget* owner);

    enum class TEditMode { Browse, New, Edit };
    TEditMode Mode() const { return FMode; }

    // The console look as the panel shows it.
    QColor PanelBackground() const;
    QFont PanelFont() const;
    QColor PanelTextColor() const;

    QGroupBox* FlashLoaderGB;
    QCheckBox* AutoSpeedCB;
    QLabel* SpeedL1;
    QComboBox* FlashSpeedCB;
    QLabel* SpeedL2;
    QCheckBox* SkipUnchangedCB;

    QGroupBox* SramLoaderGB;
    QLabel* Label6;
    QComboBox* SramSpeedCB;
    QLabel* Label2;

    QGroupBox* PropertiesGB;
    QLabel* Label4;
    QComboBox* DescCB;
    QLabel* Label5;
    QLineEdit* SectorsE;
    QLabel* SizeL;
    QLabel* Label8;
    QLineEdit* ProtectE;
    QLabel* ProtectedL; // what the Protect text covers, in sectors and addresses
    QLabel* Label9;
    QLineEdit* FlashStartE;
    QLabel* Label1;
    QLineEdit* SramSizeE;
    QToolButton* NewSB;
    QToolButton* EditSB;
    QToolButton* SaveSB;
    QToolButton* DeleteSB;
    QToolButton* LoadDefSB;

    QGroupBox* ConsoleGB;
    QToolButton* BkgColSB;
    QToolButton* FontSB;
    QLabel* FontPanel;

    QPushButton* OkButton;
    QPushButton* CancelButton;

    QColorDialog* ColorDialog;
    TFontPicker* FontDialog;

public slots:
    void AutoSpeedCBClick();
    void BkgColSBClick();
    void FontSBClick();
    void NewSBClick();
    void EditSBClick();
    void SaveSBClick();
    void DeleteSBClick();
    void LoadDefSBClick();
    void DescCBChange();
    void SectorsEChange();
    void ShowProtectedRanges();
    void OkButtonClick();

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void BuildControls();
    void BuildSpeedGroups();
    void BuildPropertiesGroup();
    QHBoxLayout* BuildEditorButtons(); // New, Edit, Save, Remove and Load Defaults
    void BuildConsoleGroup();
    void ConnectHandlers();
    QLabel* MakeLabel(const char* name, const char* caption);
    QLineEdit* MakeEdit(const char* name);
    void ReadSpeedSettings();
    void WriteSettings();
    void SetPanelLook(const QFont& font, const QColor& textColor, const QColor& background);

    void LoadTypeList();
    void ShowSections(const TString& name);
    void ClearSections();
    void SetSectionsEditable(bool editable);
    void EnterEditor(TEditMode mode);
    void ReturnToBrowse();
    bool ConfirmDiscard();
    bool CheckEntry(const TString& name, const TString& sectors, const TString& protect,
                    const TString& sramSize, const TString& flashStart);
    void Refuse(QWidget* focus, const char* message);

    TEditMode FMode = TEditMode::Browse;
    TString FEditedName;   // the name the type had when editing began
    int FBrowseIndex = -1; // the selection to return to when an edit is cancelled
    QColor FPanelBackground;
    QColor FPanelTextColor;
    QFont FPanelFont;
};

#include "Setupfrm.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <cctype>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "Ebdata.h"
#include "FlashLedger.h"
#include "LinkSpeed.h"
#include "Mainfrm.h"
#include "Misc.h"
#include "ProtectText.h"
#include "Settings.h"
#include "UpperCaseEditfrm.h"

namespace {

const char* const SectorsHint = "Valid format: <number>x<size><B|K>\nExample: 8x8K,2x32K,30x64K";
const char* const ProtectHint =
    "Sector numbers that will be protected from being programmed.\nUse hyphen to indicate "
    "range, comma to separate items.\nExample: 0,2-8,10";
const char* const SramSizeHint =
    "Length of SRAM available to the user program.\nExample: 0003FF00 or 0003 FF00";
const char* const FlashStartHint =
    "Start address of the flash memory.\nExample: 01000000 or 0100 0000";

const char* const SectorsMessage =
    "Invalid data in sector description.\nValid format: <number>x<size><B|K> where\n  <number> "
    "is number of cosecutine sectors with the same sector size\n  <size> is sector length\n  "
    "<B|K> indicates size of a sector in Bytes or KB\nIndividual elements are separated by a "
    "comma.\nExample: 8x8K,2x32K,30x64K";
const char* const ProtectMessage =
    "Invalid protected sector numbers.\nValid format: <n> or <n>-<m> where\n  <n> is sector "
    "number to protect\n  <n>-<m> is range of sector numbers to protect\nSector numbers start at "
    "zero index.\nIndividual elements are separated by a comma.\nExample: 0,2-8,10";
const char* const FlashStartMessage = "Invalid hex format: flash start address.\nExample: "
                                      "01000000 or 0100 0000 or 0100.0000 or 0100-0000";
const char* const SramSizeMessage = "Invalid hex format: SRAM size.\nExample: 01000000 or 0100 "
                                    "0000 or 0100.0000 or 0100-0000";

TString ToTString(const QString& text) {
    return TString(text.toUtf8().constData());
}
QString ToQString(const TString& text) {
    return QString::fromUtf8(text());
}

// The field text as the store keeps it: spaces and the characters the stored list reserves
// removed (a quote would hide this entry and every entry stored after it).
TString CleanField(const QString& text) {
    TString field = ToTString(text);
    field.Remove(' ');
    field.Remove(TypeDefReservedCharacters);
    return field;
}

// A colour of the application's palette for this kind of control; the control's own palette
// may already carry a colour set earlier, so it is no guide.
QColor StandardColor(const QWidget* control, QPalette::ColorRole role) {
    return QApplication::palette(control).color(QPalette::Active, role);
}

// A flat tool button with a glyph from the style and a hint.
QToolButton* MakeGlyphButton(QWidget* parent, const char* name, const QIcon& glyph,
                             const char* hint) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setAutoRaise(true);
    button->setIcon(glyph);
    button->setToolTip(hint);
    return button;
}

// The sixteen basic colours a font colour is usually picked from.
struct TNamedColor {
    const char* Name;
    QRgb Value;
};
const TNamedColor BasicColors[] = {
    {"Black", 0x000000},  {"Maroon", 0x800000},  {"Green", 0x008000}, {"Olive", 0x808000},
    {"Navy", 0x000080},   {"Purple", 0x800080},  {"Teal", 0x008080},  {"Gray", 0x808080},
    {"Silver", 0xC0C0C0}, {"Red", 0xFF0000},     {"Lime", 0x00FF00},  {"Yellow", 0xFFFF00},
    {"Blue", 0x0000FF},   {"Fuchsia", 0xFF00FF}, {"Aqua", 0x00FFFF},  {"White", 0xFFFFFF},
};

// Glyphs of the console buttons: four colour patches, and a letter for the font.
QIcon PaletteGlyph() {
    QPixmap glyph(16, 16);
    glyph.fill(Qt::transparent);
    QPainter painter(&glyph);
    const QColor patches[] = {Qt::red, Qt::green, Qt::blue, Qt::yellow};
    for (int index = 0; index < 4; ++index) {
        const QRect patch((index % 2) * 8, (index / 2) * 8, 7, 7);
        painter.fillRect(patch, patches[index]);
        painter.setPen(Qt::black);
        painter.drawRect(patch.adjusted(0, 0, -1, -1));
    }
    return QIcon(glyph);
}

QIcon LetterGlyph() {
    QPixmap glyph(16, 16);
    glyph.fill(Qt::transparent);
    QPainter painter(&glyph);
    QFont font("Serif");
    font.setBold(true);
    font.setPixelSize(15);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(glyph.rect(), Qt::AlignCenter, "A");
    return QIcon(glyph);
}

QIcon ColorSwatch(const QColor& color) {
    QPixmap swatch(16, 12);
    swatch.fill(color);
    QPainter painter(&swatch);
    painter.setPen(Qt::black);
    painter.drawRect(0, 0, swatch.width() - 1, swatch.height() - 1);
    return QIcon(swatch);
}

// The console font as the settings keep it: name, size and colour, then the four styles,
// each field followed by ';', as in "Courier New;11;16777215;Bold;;;;".
TString FontSettingText(const QFont& font, const QColor& color) {
    // A ';' in a family name would shift every later field.
    TString text = ToTString(font.family());
    text.Remove(';');
    int size = font.pointSize();
    if (size <= 0)
        size = qRound(font.pointSizeF());
    text += ";";
    text += TString(size)();
    text += ";";
    text += TString(ColorToValue(color))();
    text += ";";
    text += font.bold() ? "Bold;" : ";";
    text += font.italic() ? "Italic;" : ";";
    text += font.underline() ? "Underline;" : ";";
    text += font.strikeOut() ? "StrikeOut;" : ";";
    return text;
}

} // namespace

// ---------------------------------------------------------------------------------------------

TFontPicker::TFontPicker(QWidget* owner) : QDialog(owner) {
    setObjectName("FontDialog");
    setWindowTitle("Font");
    CreateFontFields();
    QGroupBox* effects = CreateEffectsGroup();
    QGroupBox* sample = CreateSampleGroup();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* grid = new QGridLayout(this);
    const struct {
        const char* Caption;
        QWidget* Buddy;
    } headings[] = {{"&Font:", FamilyCB}, {"Font st&yle:", StyleCB}, {"&Size:", SizeCB}};
    for (int column = 0; column < 3; ++column) {
        auto* heading = new QLabel(headings[column].Caption, this);
        heading->setBuddy(headings[column].Buddy);
        grid->addWidget(heading, 0, column);
    }
    grid->addWidget(FamilyCB, 1, 0);
    grid->addWidget(StyleCB, 1, 1);
    grid->addWidget(SizeCB, 1, 2);
    grid->addWidget(effects, 2, 0);
    grid->addWidget(sample, 2, 1, 1, 2);
    grid->addWidget(buttons, 3, 0, 1, 3);
    grid->setSizeConstraint(QLayout::SetFixedSize);

    connect(FamilyCB, &QFontComboBox::currentFontChanged, this, &TFontPicker::UpdateSample);
    for (QComboBox* box : {StyleCB, SizeCB, ColorCB})
        connect(box, qOverload<int>(&QComboBox::currentIndexChanged), this,
                &TFontPicker::UpdateSample);
    for (QCheckBox* box : {StrikeOutCB, UnderlineCB})
        connect(box, &QCheckBox::toggled, this, &TFontPicker::UpdateSample);
}

void TFontPicker::CreateFontFields() {
    FamilyCB = new QFontComboBox(this);
    FamilyCB->setObjectName("FamilyCB");
    FamilyCB->setFontFilters(QFontComboBox::MonospacedFonts);
    FamilyCB->setEditable(false);
    StyleCB = new QComboBox(this);
    StyleCB->setObjectName("StyleCB");
    StyleCB->addItems({"Regular", "Italic", "Bold", "Bold Italic"});
    SizeCB = new QComboBox(this);
    SizeCB->setObjectName("SizeCB");
    for (int size : QFontDatabase::standardSizes())
        if (size >= MinPointSize && size <= MaxPointSize)
            SizeCB->addItem(QString::number(size), size);
}

QGroupBox* TFontPicker::CreateEffectsGroup() {
    StrikeOutCB = new QCheckBox("Stri&keout", this);
    StrikeOutCB->setObjectName("StrikeOutCB");
    UnderlineCB = new QCheckBox("&Underline", this);
    UnderlineCB->setObjectName("UnderlineCB");
    ColorCB = new QComboBox(this);
    ColorCB->setObjectName("ColorCB");
    for (const TNamedColor& named : BasicColors) {
        const QColor color(named.Value);
        ColorCB->addItem(ColorSwatch(color), named.Name, color);
    }
    auto* effects = new QGroupBox("Effects", this);
    auto* effectsGrid = new QGridLayout(effects);
    effectsGrid->addWidget(StrikeOutCB, 0, 0, 1, 2);
    effectsGrid->addWidget(UnderlineCB, 1, 0, 1, 2);
    auto* colorL = new QLabel("&Color:", this);
    colorL->setBuddy(ColorCB);
    effectsGrid->addWidget(colorL, 2, 0);
    effectsGrid->addWidget(ColorCB, 2, 1);
    return effects;
}

QGroupBox* TFontPicker::CreateSampleGroup() {
    SampleL = new QLabel("AaBbYyZz", this);
    SampleL->setObjectName("SampleL");
    SampleL->setAlignment(Qt::AlignCenter);
    SampleL->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    SampleL->setFixedSize(200, 60);
    SampleL->setAutoFillBackground(true);
    auto* sample = new QGroupBox("Sample", this);
    auto* sampleLayout = new QVBoxLayout(sample);
    sampleLayout->addWidget(SampleL);
    return sample;
}

void TFontPicker::SetFont(const QFont& font, const QColor& color, const QColor& background) {
    FBackground = background;
    FamilyCB->setCurrentFont(font);
    if (FamilyCB->currentIndex() < 0 && FamilyCB->count() > 0)
        FamilyCB->setCurrentIndex(0); // the font is not installed or not fixed-pitch
    StyleCB->setCurrentIndex((font.italic() ? 1 : 0) + (font.bold() ? 2 : 0));

    const int size = qBound(MinPointSize, font.pointSize(), MaxPointSize);
    int sizeIndex = SizeCB->findData(size);
    if (sizeIndex < 0) {
        // Offer an unlisted size within the limits where it belongs in the list.
        sizeIndex = 0;
        while (sizeIndex < SizeCB->count() && SizeCB->itemData(sizeIndex).toInt() < size)
            ++sizeIndex;
        SizeCB->insertItem(sizeIndex, QString::number(size), size);
    }
    SizeCB->setCurrentIndex(sizeIndex);

    StrikeOutCB->setChecked(font.strikeOut());
    UnderlineCB->setChecked(font.underline());
    int colorIndex = ColorCB->findData(color);
    if (colorIndex < 0) {
        // Keep a colour that is not among the basic ones selectable, so OK does not change it.
        ColorCB->addItem(ColorSwatch(color), "Custom", color);
        colorIndex = ColorCB->count() - 1;
    }
    ColorCB->setCurrentIndex(colorIndex);
    UpdateSample();
}

QFont TFontPicker::GetFont() const {
    QFont font(FamilyCB->currentFont().family(), SizeCB->currentData().toInt());
    font.setStyleHint(QFont::TypeWriter);
    font.setItalic(StyleCB->currentIndex() & 1);
    font.setBold(StyleCB->currentIndex() & 2);
    font.setStrikeOut(StrikeOutCB->isChecked());
    font.setUnderline(UnderlineCB->isChecked());
    return font;
}

QColor TFontPicker::GetColor() const {
    return ColorCB->currentData().value<QColor>();
}

void TFontPicker::UpdateSample() {
    SampleL->setFont(GetFont());
    // Both colours each time: the sample shows the text as the console will.
    QPalette palette = SampleL->palette();
    palette.setColor(QPalette::Window, FBackground);
    palette.setColor(QPalette::WindowText, GetColor());
    SampleL->setPalette(palette);
}

void TFontPicker::showEvent(QShowEvent* event) {
    // A style may give the sample a look of its own when it first prepares it for showing,
    // which comes after SetFont: the console's colours go back on before it is seen.
    QDialog::showEvent(event);
    UpdateSample();
}

// ---------------------------------------------------------------------------------------------

TSetupForm::TSetupForm(QWidget* owner) : QDialog(owner) {
    setObjectName("SetupForm");
    setWindowTitle("Serial Port Preferences");
    BuildControls();

    for (int index = 0; index < BaudRateCount; ++index) {
        const QString speed = QString::number(BaudRates[index]);
        FlashSpeedCB->addItem(speed);
        SramSpeedCB->addItem(speed);
    }
    AutoSpeedCB->setChecked(true);
    FlashSpeedCB->setCurrentIndex(0);
    SramSpeedCB->setCurrentIndex(0);
    ReadSpeedSettings();

    TConsoleFont font;
    TMainForm::ReadConsoleFont(font);
    SetPanelLook(font.Font, ColorFromValue(font.Color),
                 ColorFromValue(TMainForm::ReadConsoleBackground()));

    AutoSpeedCBClick();
    LoadTypeList();
}

QLabel* TSetupForm::MakeLabel(const char* name, const char* caption) {
    auto* control = new QLabel(caption, this);
    control->setObjectName(name);
    return control;
}

QLineEdit* TSetupForm::MakeEdit(const char* name) {
    auto* control = new QLineEdit(this);
    control->setObjectName(name);
    return control;
}

void TSetupForm::BuildControls() {
    BuildSpeedGroups();
    BuildPropertiesGroup();
    BuildConsoleGroup();

    OkButton = new QPushButton("&OK", this);
    OkButton->setObjectName("OkButton");
    OkButton->setDefault(true);
    CancelButton = new QPushButton("&Cancel", this);
    CancelButton->setObjectName("CancelButton");
    auto* dialogButtons = new QHBoxLayout;
    dialogButtons->addStretch();
    dialogButtons->addWidget(OkButton);
    dialogButtons->addWidget(CancelButton);

    auto* speeds = new QHBoxLayout;
    speeds->addWidget(FlashLoaderGB, 1);
    speeds->addWidget(SramLoaderGB, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(speeds);
    layout->addWidget(PropertiesGB);
    layout->addWidget(ConsoleGB);
    layout->addLayout(dialogButtons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    ConnectHandlers();
}

void TSetupForm::BuildSpeedGroups() {
    FlashLoaderGB = new QGroupBox(" Flash loader ", this);
    AutoSpeedCB = new QCheckBox("&Auto negotiate speed", FlashLoaderGB);
    AutoSpeedCB->setObjectName("AutoSpeedCB");
    SpeedL1 = MakeLabel("SpeedL1", "Speed");
    FlashSpeedCB = new QComboBox(this);
    FlashSpeedCB->setObjectName("FlashSpeedCB");
    SpeedL2 = MakeLabel("SpeedL2", "baud");
    auto* flashGrid = new QGridLayout(FlashLoaderGB);
    flashGrid->addWidget(AutoSpeedCB, 0, 0, 1, 3);
    flashGrid->addWidget(SpeedL1, 1, 0);
    flashGrid->addWidget(FlashSpeedCB, 1, 1);
    flashGrid->addWidget(SpeedL2, 1, 2);
    SkipUnchangedCB =
        new QCheckBox("S&kip sectors unchanged since the last programming", FlashLoaderGB);
    SkipUnchangedCB->setObjectName("SkipUnchangedCB");
    SkipUnchangedCB->setToolTip(
        "Only sectors Korvex itself last wrote with the same content, and whose sum the board\n"
        "confirms. A sum cannot tell swapped bytes apart: read the flash back to be sure.");
    flashGrid->addWidget(SkipUnchangedCB, 2, 0, 1, 4);
    flashGrid->setColumnStretch(3, 1);

    // SRAM loader
    SramLoaderGB = new QGroupBox(" SRAM loader ", this);
    Label6 = MakeLabel("Label6", "Speed");
    SramSpeedCB = new QComboBox(this);
    SramSpeedCB->setObjectName("SramSpeedCB");
    Label2 = MakeLabel("Label2", "baud");
    auto* sramGrid = new QGridLayout(SramLoaderGB);
    sramGrid->addWidget(Label6, 0, 0);
    sramGrid->addWidget(SramSpeedCB, 0, 1);
    sramGrid->addWidget(Label2, 0, 2);
    sramGrid->setColumnStretch(3, 1);
    sramGrid->setRowStretch(1, 1);
}

void TSetupForm::BuildPropertiesGroup() {
    PropertiesGB = new QGroupBox(" Flash/SRAM properties ", this);
    Label4 = MakeLabel("Label4", "Name");
    DescCB = new QComboBox(this);
    DescCB->setObjectName("DescCB");
    DescCB->setInsertPolicy(QComboBox::NoInsert);
    DescCB->setMinimumContentsLength(16);
    Label5 = MakeLabel("Label5", "Flash sectors");
    SectorsE = MakeEdit("SectorsE");
    SectorsE->setMinimumWidth(220);
    SizeL = MakeLabel("SizeL", "2M");
    SizeL->setMinimumWidth(48);
    Label8 = MakeLabel("Label8", "Protect sectors");
    ProtectE = MakeEdit("ProtectE");
    ProtectedL = MakeLabel("ProtectedL", "");
    Label9 = MakeLabel("Label9", "Flash start");
    FlashStartE = MakeEdit("FlashStartE");
    Label1 = MakeLabel("Label1", "SRAM size");
    SramSizeE = MakeEdit("SramSizeE");
    const QFont hexFont("Courier New");
    for (QLineEdit* hexField : {FlashStartE, SramSizeE}) {
        hexField->setFont(hexFont);
        hexField->setValidator(new TUpperCaseValidator(hexField));
    }
    Label5->setBuddy(SectorsE);
    Label8->setBuddy(ProtectE);
    Label9->setBuddy(FlashStartE);
    Label1->setBuddy(SramSizeE);

    auto* propertiesGrid = new QGridLayout(PropertiesGB);
    propertiesGrid->addWidget(Label4, 0, 0);
    propertiesGrid->addWidget(DescCB, 0, 1, 1, 2);
    propertiesGrid->addWidget(Label5, 1, 0);
    propertiesGrid->addWidget(SectorsE, 1, 1);
    propertiesGrid->addWidget(SizeL, 1, 2);
    propertiesGrid->addWidget(Label8, 2, 0);
    propertiesGrid->addWidget(ProtectE, 2, 1);
    propertiesGrid->addWidget(ProtectedL, 3, 1, 1, 2);
    propertiesGrid->addWidget(Label9, 4, 0);
    propertiesGrid->addWidget(FlashStartE, 4, 1);
    propertiesGrid->addWidget(Label1, 5, 0);
    propertiesGrid->addWidget(SramSizeE, 5, 1);
    propertiesGrid->addLayout(BuildEditorButtons(), 6, 0, 1, 3);
}

QHBoxLayout* TSetupForm::BuildEditorButtons() {
    QStyle* look = style();
    NewSB = MakeGlyphButton(this, "NewSB", look->standardIcon(QStyle::SP_FileIcon), "New device");
    EditSB = MakeGlyphButton(this, "EditSB", look->standardIcon(QStyle::SP_FileDialogContentsView),
                             "Edit");
    SaveSB =
        MakeGlyphButton(this, "SaveSB", look->standardIcon(QStyle::SP_DialogSaveButton), "Save");
    DeleteSB =
        MakeGlyphButton(this, "DeleteSB", look->standardIcon(QStyle::SP_TrashIcon), "Remove");
    SaveSB->setEnabled(false);
    LoadDefSB = new QToolButton(this);
    LoadDefSB->setObjectName("LoadDefSB");
    LoadDefSB->setAutoRaise(true);
    LoadDefSB->setText("&Load Defaults");

    auto* editorButtons = new QHBoxLayout;
    for (QToolButton* button : {NewSB, EditSB, SaveSB, DeleteSB})
        editorButtons->addWidget(button);
    editorButtons->addStretch();
    editorButtons->addWidget(LoadDefSB);
    return editorButtons;
}

void TSetupForm::BuildConsoleGroup() {
    ConsoleGB = new QGroupBox(" Console settings ", this);
    BkgColSB = MakeGlyphButton(this, "BkgColSB", PaletteGlyph(), "Background color");
    FontSB = MakeGlyphButton(this, "FontSB", LetterGlyph(), "Font");
    FontPanel = new QLabel("AaBbYyZz", this);
    FontPanel->setObjectName("FontPanel");
    FontPanel->setAlignment(Qt::AlignCenter);
    FontPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    FontPanel->setAutoFillBackground(true);
    FontPanel->setMinimumSize(180, 44);
    auto* consoleRow = new QHBoxLayout(ConsoleGB);
    consoleRow->addWidget(BkgColSB);
    consoleRow->addWidget(FontSB);
    consoleRow->addWidget(FontPanel, 1);

    ColorDialog = new QColorDialog(this);
    ColorDialog->setObjectName("ColorDialog");
    ColorDialog->setOption(QColorDialog::DontUseNativeDialog);
    FontDialog = new TFontPicker(this);
}

void TSetupForm::ConnectHandlers() {
    connect(AutoSpeedCB, &QCheckBox::clicked, this, &TSetupForm::AutoSpeedCBClick);
    connect(BkgColSB, &QToolButton::clicked, this, &TSetupForm::BkgColSBClick);
    connect(FontSB, &QToolButton::clicked, this, &TSetupForm::FontSBClick);
    connect(NewSB, &QToolButton::clicked, this, &TSetupForm::NewSBClick);
    connect(EditSB, &QToolButton::clicked, this, &TSetupForm::EditSBClick);
    connect(SaveSB, &QToolButton::clicked, this, &TSetupForm::SaveSBClick);
    connect(DeleteSB, &QToolButton::clicked, this, &TSetupForm::DeleteSBClick);
    connect(LoadDefSB, &QToolButton::clicked, this, &TSetupForm::LoadDefSBClick);
    connect(DescCB, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &TSetupForm::DescCBChange);
    connect(SectorsE, &QLineEdit::textChanged, this, &TSetupForm::SectorsEChange);
    for (QLineEdit* field : {SectorsE, ProtectE, FlashStartE})
        connect(field, &QLineEdit::textChanged, this, &TSetupForm::ShowProtectedRanges);
    connect(OkButton, &QPushButton::clicked, this, &TSetupForm::OkButtonClick);
    connect(CancelButton, &QPushButton::clicked, this, &TSetupForm::reject);
}

// ---------------------------------------------------------------------------------------------
// Speeds and console look

void TSetupForm::ReadSpeedSettings() {
    TSettingsKey key;
    if (!key.IsOpen())
        return;
    const TString autoSpeed = key.ReadString("FlashAutoSpeed");
    if (!autoSpeed.IsBlank())
        AutoSpeedCB->setChecked(AutoSpeedFromText(autoSpeed));
    SkipUnchangedCB->setChecked(ReadSkipUnchanged());
    const TString flashSpeed = key.ReadString("FlashMaxSpeed");
    if (!flashSpeed.IsBlank())
        FlashSpeedCB->setCurrentIndex(SpeedIndexFromText(flashSpeed));
    const TString sramSpeed = key.ReadString("SramMaxSpeed");
    if (!sramSpeed.IsBlank())
        SramSpeedCB->setCurrentIndex(SpeedIndexFromText(sramSpeed));
}

void TSetupForm::AutoSpeedCBClick() {
    const bool manual = !AutoSpeedCB->isChecked();
    SpeedL1->setEnabled(manual);
    SpeedL2->setEnabled(manual);
    FlashSpeedCB->setEnabled(manual);
    QPalette palette = FlashSpeedCB->palette();
    palette.setColor(QPalette::Base,
                     StandardColor(FlashSpeedCB, manual ? QPalette::Base : QPalette::Button));
    FlashSpeedCB->setPalette(palette);
}

void TSetupForm::SetPanelLook(const QFont& font, const QColor& textColor,
                              const QColor& background) {
    FPanelFont = font;
    FPanelTextColor = textColor;
    FPanelBackground = background;
    FontPanel->setFont(font);
    QPalette palette = FontPanel->palette();
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::WindowText, textColor);
    FontPanel->setPalette(palette);
}

QColor TSetupForm::PanelBackground() const {
    return FPanelBackground;
}
QFont TSetupForm::PanelFont() const {
    return FPanelFont;
}
QColor TSetupForm::PanelTextColor() const {
    return FPanelTextColor;
}

void TSetupForm::BkgColSBClick() {
    ColorDialog->setCurrentColor(FPanelBackground);
    if (ColorDialog->exec() == QDialog::Accepted)
        SetPanelLook(FPanelFont, FPanelTextColor, ColorDialog->currentColor());
}

void TSetupForm::FontSBClick() {
    FontDialog->SetFont(FPanelFont, FPanelTextColor, FPanelBackground);
    if (FontDialog->exec() == QDialog::Accepted)
        SetPanelLook(FontDialog->GetFont(), FontDialog->GetColor(), FPanelBackground);
}

// ---------------------------------------------------------------------------------------------
// The type list

void TSetupForm::SetSectionsEditable(bool editable) {
    const struct {
        QLineEdit* Field;
        const char* Hint;
    } sections[] = {{SectorsE, SectorsHint},
                    {ProtectE, ProtectHint},
                    {SramSizeE, SramSizeHint},
                    {FlashStartE, FlashStartHint}};
    for (const auto& section : sections) {
        section.Field->setEnabled(editable);
        QPalette palette = section.Field->palette();
        palette.setColor(QPalette::Base, StandardColor(section.Field, editable ? QPalette::Base
                                                                               : QPalette::Button));
        section.Field->setPalette(palette);
        section.Field->setToolTip(editable ? section.Hint : "");
    }
}

void TSetupForm::ClearSections() {
    SectorsE->clear();
    ProtectE->clear();
    FlashStartE->clear();
    SramSizeE->clear();
    SectorsEChange();
}

void TSetupForm::ShowSections(const TString& name) {
    TTypeDef sections;
    {
        TSettingsKey key;
        if (key.IsOpen())
            sections = ReadTypeSections(key, name);
    }
    SectorsE->setText(ToQString(sections.Sectors));
    ProtectE->setText(ToQString(sections.Protect));
    SramSizeE->setText(ToQString(sections.SramSize));
    FlashStartE->setText(ToQString(sections.FlashStart));
    SectorsEChange();
}

void TSetupForm::LoadTypeList() {
    SetSectionsEditable(false);
    const QSignalBlocker quiet(DescCB); // the sections are shown once the list is complete
    DescCB->clear();
    ClearSections();

    std::vector<TString> names;
    int selected = -1;
    {
        TSettingsKey key;
        if (key.IsOpen())
            selected = ListTypeNames(key, &names);
    }
    for (const TString& name : names)
        DescCB->addItem(ToQString(name));

    const bool haveTypes = DescCB->count() > 0;
    EditSB->setEnabled(haveTypes);
    DeleteSB->setEnabled(haveTypes);
    if (haveTypes) {
        DescCB->setCurrentIndex(selected >= 0 && selected < DescCB->count() ? selected : 0);
        ShowSections(ToTString(DescCB->currentText()));
    }
}

void TSetupForm::DescCBChange() {
    if (FMode == TEditMode::Browse)
        ShowSections(ToTString(DescCB->currentText()));
}

void TSetupForm::SectorsEChange() {
    TString sizeText;
    CheckSectors(ToTString(SectorsE->text()), &sizeText);
    SizeL->setText(ToQString(sizeText));
}

void TSetupForm::ShowProtectedRanges() {
    ProtectedL->setText(QString::fromStdString(
        ProtectedRangesText(ToTString(SectorsE->text()), CleanField(ProtectE->text()),
                            CleanField(FlashStartE->text()))));
}

// ---------------------------------------------------------------------------------------------
// The type editor

void TSetupForm::EnterEditor(TEditMode mode) {
    FMode = mode;
    FBrowseIndex = DescCB->currentIndex();
    const QString name = DescCB->currentText();
    DescCB->setEditable(true);
    DescCB->setCompleter(nullptr); // a new name must not be completed into an existing one
    SetSectionsEditable(true);
    NewSB->setEnabled(false);
    EditSB->setEnabled(false);
    SaveSB->setEnabled(true);
    DeleteSB->setEnabled(true);
    DeleteSB->setToolTip(mode == TEditMode::New ? "Cancel new" : "Cancel edit");
    OkButton->setEnabled(false);
    CancelButton->setEnabled(false);
    if (mode == TEditMode::New) {
        DescCB->setEditText("");
        SectorsE->clear();
        ProtectE->clear();
        FlashStartE->clear();
        SramSizeE->clear();
        SectorsEChange();
        DescCB->setFocus();
    } else {
        FEditedName = ToTString(name);
        DescCB->setEditText(name);
        SectorsE->setFocus();
    }
}

void TSetupForm::NewSBClick() {
    if (FMode == TEditMode::Browse)
        EnterEditor(TEditMode::New);
}

void TSetupForm::EditSBClick() {
    if (FMode == TEditMode::Browse && DescCB->currentIndex() >= 0)
        EnterEditor(TEditMode::Edit);
}

void TSetupForm::ReturnToBrowse() {
    FMode = TEditMode::Browse;
    {
        const QSignalBlocker quiet(DescCB); // the sections are shown below
        DescCB->setEditable(false);
        if (FBrowseIndex >= 0 && FBrowseIndex < DescCB->count())
            DescCB->setCurrentIndex(FBrowseIndex);
    }
    SetSectionsEditable(false);
    DeleteSB->setToolTip("Remove");
    NewSB->setEnabled(true);
    SaveSB->setEnabled(false);
    const bool haveTypes = DescCB->count() > 0;
    EditSB->setEnabled(haveTypes);
    DeleteSB->setEnabled(haveTypes);
    OkButton->setEnabled(true);
    CancelButton->setEnabled(true);
    if (haveTypes)
        ShowSections(ToTString(DescCB->currentText()));
    else
        ClearSections(); // nothing typed stays on show as if it were stored
}

void TSetupForm::DeleteSBClick() {
    if (FMode != TEditMode::Browse) {
        ReturnToBrowse();
        return;
    }
    if (DescCB->count() == 0)
        return;
    const TString name = ToTString(DescCB->currentText());
    if (MsgBox(MB_YESNO | MB_ICONQUESTION, "Remove %s from the list?", name()) != IDYES)
        return;
    {
        TSettingsKey key;
        if (!key.IsOpen() || !RemoveTypeDefs(key, name)) {
            MsgBox(MB_ICONEXCLAMATION, "Unable to open registry key for update.");
            return;
        }
    }
    LoadTypeList();
}

void TSetupForm::LoadDefSBClick() {
    if (MsgBox(MB_YESNO | MB_ICONQUESTION, "Overwrite existing settings with default values?") !=
        IDYES)
        return;
    if (FMode != TEditMode::Browse)
        ReturnToBrowse();
    try {
        ImportFactoryDefaults();
    } catch (const std::exception& error) {
        // The dialog stays open; the user is told and the list shows what the store holds.
        MsgBox(MB_ICONERROR, "%s", error.what());
    }
    LoadTypeList();
}

void TSetupForm::Refuse(QWidget* focus, const char* message) {
    MsgBox(MB_OK, "%s", message);
    focus->setFocus();
}

bool TSetupForm::CheckEntry(const TString& name, const TString& sectors, const TString& protect,
                            const TString& sramSize, const TString& flashStart) {
    // Cleaned, a name can only fail the store's rule by being blank.
    if (!IsStorableTypeName(name)) {
        Refuse(DescCB, "Description can't be blank.");
        return false;
    }
    // A new name must not be taken; neither may an edited type be renamed onto another one,
    // which would hide that type behind the first entry of the name.
    const bool renamed = FMode == TEditMode::Edit && !name.Equals(FEditedName, true);
    if (FMode == TEditMode::New || renamed) {
        for (int index = 0; index < DescCB->count(); ++index) {
            const TString listed = ToTString(DescCB->itemText(index));
            if (renamed && listed.Equals(FEditedName, true))
                continue;
            if (listed.Equals(name, true)) {
                Refuse(DescCB, "Description with this name already exists.");
                return false;
            }
        }
    }
    if (sectors.IsBlank() && (!protect.IsBlank() || !flashStart.IsBlank())) {
        Refuse(protect.IsBlank() ? static_cast<QWidget*>(FlashStartE) : ProtectE,
               "If Flash sectors is blank, then Protect sectors and Flash start must be blank.");
        return false;
    }
    if (!sectors.IsBlank() && flashStart.IsBlank()) {
        Refuse(FlashStartE, "Flash start address must not be blank.");
        return false;
    }
    TEBData data;
    if (!sectors.IsBlank()) {
        if (!data.SetSectors(sectors)) {
            Refuse(SectorsE, SectorsMessage);
            return false;
        }
        if (!data.SetProtected(protect)) {
            Refuse(ProtectE, ProtectMessage);
            return false;
        }
        if (!data.SetFlashStart(flashStart)) {
            Refuse(FlashStartE, FlashStartMessage);
            return false;
        }
    }
    if (!sramSize.IsBlank() && !data.SetSramSize(sramSize)) {
        Refuse(SramSizeE, SramSizeMessage);
        return false;
    }
    // The import's reason (" - the flash area ..."), as a sentence of its own.
    if (const char* refusal = TypeRangeRefusal(sectors, sramSize, flashStart)) {
        std::string sentence(refusal + 3);
        sentence[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(sentence[0])));
        Refuse(std::strstr(refusal, "SRAM") ? SramSizeE : FlashStartE, sentence.c_str());
        return false;
    }
    return true;
}

void TSetupForm::SaveSBClick() {
    if (FMode == TEditMode::Browse)
        return;
    const TString name = CleanField(DescCB->currentText());
    const TString sectors = CleanField(SectorsE->text());
    const TString protect = CleanField(ProtectE->text());
    const TString sramSize = CleanField(SramSizeE->text());
    const TString flashStart = CleanField(FlashStartE->text());
    if (!CheckEntry(name, sectors, protect, sramSize, flashStart))
        return;

    const TTypeDef entry{name, sectors, protect, sramSize, flashStart};
    {
        TSettingsKey key;
        const bool stored =
            key.IsOpen() && (FMode == TEditMode::New ? AddTypeDef(key, entry)
                                                     : ReplaceTypeDefs(key, FEditedName, entry));
        if (!stored) {
            MsgBox(MB_ICONEXCLAMATION, "Unable to open registry key for writing.");
            return;
        }
    }
    if (FMode == TEditMode::New) {
        DescCB->addItem(ToQString(name));
        FBrowseIndex = DescCB->count() - 1;
    } else if (FBrowseIndex >= 0) {
        // Every listed entry of the edited name now carries the new one.
        for (int index = 0; index < DescCB->count(); ++index)
            if (ToTString(DescCB->itemText(index)).Equals(FEditedName, true))
                DescCB->setItemText(index, ToQString(name));
    }
    ReturnToBrowse();
}

// ---------------------------------------------------------------------------------------------
// Closing

bool TSetupForm::ConfirmDiscard() {
    if (FMode == TEditMode::Browse)
        return true;
    if (MsgBox(MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2,
               "Flash data not saved. Discard changes?") != IDYES)
        return false;
    ReturnToBrowse();
    return true;
}

void TSetupForm::closeEvent(QCloseEvent* event) {
    if (!ConfirmDiscard()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TSetupForm::reject() {
    // While a type is being edited Cancel is disabled; Escape acts as the close box, asking
    // before the unsaved entry is dropped.
    if (!ConfirmDiscard())
        return;
    QDialog::reject();
}

void TSetupForm::WriteSettings() {
    TSettingsKey key;
    if (!key.IsOpen())
        return;
    key.WriteString("FlashAutoSpeed", AutoSpeedCB->isChecked() ? "1" : "0");
    key.WriteString("FlashMaxSpeed", TString(FlashSpeedCB->currentIndex()));
    key.WriteString(SkipUnchangedSetting, SkipUnchangedCB->isChecked() ? "1" : "0");
    key.WriteString("SramMaxSpeed", TString(SramSpeedCB->currentIndex()));
    key.WriteInteger("Background", ColorToValue(FPanelBackground));
    key.WriteString("Font", FontSettingText(FPanelFont, FPanelTextColor));
    key.WriteString("LastType", ToTString(DescCB->currentText()));
}

void TSetupForm::OkButtonClick() {
    if (FMode != TEditMode::Browse)
        return;
    WriteSettings();
    accept();
}

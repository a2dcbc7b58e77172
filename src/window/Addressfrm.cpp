#include "Addressfrm.h"

#include "HexText.h"
#include "Misc.h"
#include "Settings.h"
#include "TString.h"
#include "UpperCaseEditfrm.h"

#include <QApplication>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

#include <cstdint>

namespace {

const char* const StartAddrValue = "ProgReadStartAddr";
const char* const EndAddrValue = "ProgReadEndAddr";
const char* const LengthValue = "ProgReadLength";

constexpr int FormWidth = 400;
constexpr int FullHeight = 250;
constexpr int AddressOnlyHeight = 188;

QLineEdit* CreateHexField(QWidget* parent) {
    QLineEdit* field = new QLineEdit(parent);
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setPixelSize(16);
    field->setFont(font);
    field->setValidator(new TUpperCaseValidator(field));
    return field;
}

// An unused field is disabled and takes the button-face colour; a usable one the window colour.
void SetFieldUsable(QLineEdit* field, bool usable) {
    field->setEnabled(usable);
    QPalette palette = field->palette();
    const QPalette standard = QApplication::palette(field);
    const QColor background = standard.color(usable ? QPalette::Base : QPalette::Button);
    palette.setColor(QPalette::Disabled, QPalette::Base, background);
    palette.setColor(QPalette::Active, QPalette::Base, background);
    palette.setColor(QPalette::Inactive, QPalette::Base, background);
    field->setPalette(palette);
}

TString ToText(const QString& text) {
    return TString(text.toLatin1().constData());
}

// A field's text without spaces, upper-cased, as a hexadecimal number of at most eight
// significant digits: a longer one is refused rather than cut to 32 bits, which would name
// another address than the one typed.
bool ParseHexField(const QString& text, int* value) {
    QByteArray digits = QString(text).remove(QLatin1Char(' ')).toUpper().toLatin1();
    if (digits.isEmpty() || !IsHexString(digits.constData()))
        return false;
    while (digits.size() > 1 && digits.startsWith('0'))
        digits.remove(0, 1);
    if (digits.size() > 8)
        return false;
    uint32_t number = 0;
    for (const char digit : digits)
        number = (number << 4) | HexDigitValue(digit);
    *value = static_cast<int>(number);
    return true;
}

} // namespace

TAddressForm::TAddressForm(QWidget* owner)
    : QDialog(owner), AddressOnly(false), StartAddress(-1), DataLength(0), FShown(false) {
    setWindowTitle(QStringLiteral("Address / Length Selection"));
    CreateControls();
    LoadStoredTexts();
}

void TAddressForm::CreateControls() {
    GroupBox = new QGroupBox(this);
    AdrLabel = new QLabel(QStringLiteral("Start address"), GroupBox);
    Label2 = new QLabel(QStringLiteral("End address"), GroupBox);
    Label3 = new QLabel(QStringLiteral("or"), GroupBox);
    Label4 = new QLabel(QStringLiteral("Data length"), GroupBox);
    Label5 =
        new QLabel(QStringLiteral("All values must be entered as hexadecimal numbers."), GroupBox);
    Label6 =
        new QLabel(QStringLiteral("Digit groups can be separated by a space character."), GroupBox);
    Label1 = new QLabel(QStringLiteral("For example: 011E0000 or 011E 0000"), GroupBox);
    StartE = CreateHexField(GroupBox);
    EndE = CreateHexField(GroupBox);
    LenE = CreateHexField(GroupBox);
    OkButton = new QPushButton(QStringLiteral("&OK"), this);
    CancelButton = new QPushButton(QStringLiteral("&Cancel"), this);
    OkButton->setDefault(true);
    OkButton->setAutoDefault(true);
    CancelButton->setAutoDefault(false);

    AdrLabel->setGeometry(12, 22, 100, 20);
    StartE->setGeometry(130, 18, 230, 26);
    Label2->setGeometry(12, 54, 100, 20);
    EndE->setGeometry(130, 50, 230, 26);
    Label3->setGeometry(130, 78, 230, 16);
    Label3->setAlignment(Qt::AlignHCenter);
    Label4->setGeometry(12, 100, 100, 20);
    LenE->setGeometry(130, 96, 230, 26);

    connect(EndE, &QLineEdit::textChanged, this, &TAddressForm::EndEChange);
    connect(LenE, &QLineEdit::textChanged, this, &TAddressForm::LenEChange);
    connect(OkButton, &QPushButton::clicked, this, &TAddressForm::OkButtonClick);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void TAddressForm::LoadStoredTexts() {
    TSettingsKey key;
    if (key.IsOpen()) {
        StartE->setText(QString::fromLatin1(key.ReadString(StartAddrValue)()));
        EndE->setText(QString::fromLatin1(key.ReadString(EndAddrValue)()));
        LenE->setText(QString::fromLatin1(key.ReadString(LengthValue)()));
    }
    // A stored length wins over a stored end address.
    if (!LenE->text().isEmpty()) {
        EndE->clear();
        SetFieldUsable(EndE, false);
    }
}

void TAddressForm::showEvent(QShowEvent* event) {
    if (!FShown) {
        FShown = true;
        const int height = AddressOnly ? AddressOnlyHeight : FullHeight;
        setFixedSize(FormWidth, height);
        for (QWidget* row : {static_cast<QWidget*>(Label2), static_cast<QWidget*>(Label3),
                             static_cast<QWidget*>(Label4), static_cast<QWidget*>(EndE),
                             static_cast<QWidget*>(LenE)})
            row->setVisible(!AddressOnly);

        // The group box fills the window above the buttons; the hints sit at its bottom.
        const int groupHeight = height - 52;
        GroupBox->setGeometry(8, 6, FormWidth - 16, groupHeight);
        const int hintWidth = FormWidth - 40;
        Label5->setGeometry(12, groupHeight - 58, hintWidth, 16);
        Label6->setGeometry(12, groupHeight - 40, hintWidth, 16);
        Label1->setGeometry(12, groupHeight - 22, hintWidth, 16);
        OkButton->setGeometry(FormWidth - 184, height - 38, 82, 28);
        CancelButton->setGeometry(FormWidth - 92, height - 38, 82, 28);

        if (StartAddress != -1) {
            const unsigned address = static_cast<unsigned>(StartAddress);
            StartE->setText(QString::asprintf("%04X%04X", address >> 16, address & 0xFFFF));
        }
        StartAddress = 0;
        if (!AddressOnly && ProposedLength > 0 && ProposedLength <= UINT32_MAX &&
            EndE->text().isEmpty() && LenE->text().isEmpty()) {
            const auto length = static_cast<uint32_t>(ProposedLength);
            LenE->setText(QString::asprintf("%04X%04X", length >> 16, length & 0xFFFF));
        }
        StartE->setFocus();
    }
    QDialog::showEvent(event);
}

void TAddressForm::EndEChange() {
    SetFieldUsable(LenE, EndE->text().isEmpty());
}

void TAddressForm::LenEChange() {
    SetFieldUsable(EndE, LenE->text().isEmpty());
}

bool TAddressForm::ReadHexField(QLineEdit* field, int* value) {
    if (ParseHexField(field->text(), value))
        return true;
    MsgBox(MB_OK, "A valid hexadecimal value is required.");
    field->setFocus();
    return false;
}

void TAddressForm::OkButtonClick() {
    int start = 0;
    if (!ReadHexField(StartE, &start))
        return;
    StartAddress = start;

    if (!AddressOnly) {
        if (EndE->isEnabled()) {
            int end = 0;
            if (!ReadHexField(EndE, &end))
                return;
            // A start at or above 0x80000000 with a low end passes the signed comparison but
            // spans more than a length can hold; it is as wrong as an end below the start.
            const int64_t span = int64_t(end) - int64_t(StartAddress);
            if (StartAddress >= end || span > INT32_MAX) {
                MsgBox(MB_OK, "End address must be greater than start address.");
                EndE->setFocus();
                return;
            }
            DataLength = static_cast<int>(span);
        } else {
            int length = 0;
            if (!ReadHexField(LenE, &length))
                return;
            DataLength = length;
        }
    }
    StoreTexts();
    accept();
}

void TAddressForm::StoreTexts() {
    TSettingsKey key;
    if (!key.IsOpen())
        return;
    key.WriteString(StartAddrValue, ToText(StartE->text()));
    if (!AddressOnly) {
        key.WriteString(EndAddrValue, ToText(EndE->text()));
        key.WriteString(LengthValue, ToText(LenE->text()));
    }
}

// The small modal dialog that asks for the target addresses of an operation: a start address
// and either an end address or a length, or the start address alone. It proposes the texts
// last accepted and stores them again on OK.
#pragma once

#include <QDialog>

#include <cstdint>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TAddressForm : public QDialog {
    Q_OBJECT
public:
    explicit TAddressForm(QWidget* owner);

    // Set by the caller before showing: ask for the start address only.
    bool AddressOnly;
    // Before showing: an address to propose, -1 for none. After OK: the start address entered.
    int StartAddress;
    // After OK in full mode: the number of bytes from the start address.
    int DataLength;
    // Before showing, in full mode: a length to propose when neither the end nor the length
    // field holds a text (the loaded image's); 0 for none.
    int64_t ProposedLength = 0;

    QGroupBox* GroupBox;
    QLabel* AdrLabel;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLabel* Label6;
    QLabel* Label1;
    QLineEdit* StartE;
    QLineEdit* EndE;
    QLineEdit* LenE;
    QPushButton* OkButton;
    QPushButton* CancelButton;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void CreateControls();
    void LoadStoredTexts();
    void StoreTexts();
    void EndEChange();
    void LenEChange();
    void OkButtonClick();
    // Reads a field as a hexadecimal number; on failure tells the user and focuses the field.
    bool ReadHexField(QLineEdit* field, int* value);

    bool FShown;
};

// Edit fields that turn whatever is typed or pasted into upper case, as the hexadecimal fields
// of the dialogs do.
#pragma once

#include <QValidator>

class TUpperCaseValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override;
};

#include "ScriptedMsgBox.h"

TScriptedMsgBox::TScriptedMsgBox() {
    FPrevious =
        SetMsgBoxPresenter([this](int flags, const char* text) { return Present(flags, text); });
}

TScriptedMsgBox::~TScriptedMsgBox() {
    SetMsgBoxPresenter(std::move(FPrevious));
}

void TScriptedMsgBox::QueueAnswer(int answer) {
    FAnswers.push_back(answer);
}

void TScriptedMsgBox::QueueAnswers(std::initializer_list<int> answers) {
    for (int answer : answers)
        FAnswers.push_back(answer);
}

const TScriptedMsgBox::TBox& TScriptedMsgBox::Last() const {
    // No box yet: an impossible one, so the test's comparison fails with a readable message.
    static const TBox none{-1, "(no message box was shown)"};
    return FBoxes.empty() ? none : FBoxes.back();
}

std::string TScriptedMsgBox::AllTexts() const {
    std::string joined;
    for (const TBox& box : FBoxes) {
        if (!joined.empty())
            joined += '\n';
        joined += box.Text;
    }
    return joined;
}

void TScriptedMsgBox::Clear() {
    FBoxes.clear();
    FAnswers.clear();
}

int TScriptedMsgBox::Present(int flags, const char* text) {
    FBoxes.push_back({flags, text});
    if (FAnswers.empty())
        return MsgBoxDefaultAnswer(flags);
    const int answer = FAnswers.front();
    FAnswers.pop_front();
    return answer;
}

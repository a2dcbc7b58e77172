#include "ScriptedMsgBox.h"

#include <cassert>

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
    assert(!FBoxes.empty() && "TScriptedMsgBox::Last: no box shown (ScriptedMsgBox.cpp)");
    return FBoxes.back();
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

// A message-box presenter for tests: records every box MsgBox shows and answers from a queue,
// so a test can script the user's replies and check what the user was told.
#pragma once

#include "Misc.h"

#include <deque>
#include <initializer_list>
#include <string>
#include <vector>

class TScriptedMsgBox {
public:
    struct TBox {
        int Flags;
        std::string Text;
    };

    // Installs itself as the presenter; the destructor puts the previous presenter back.
    TScriptedMsgBox();
    ~TScriptedMsgBox();
    TScriptedMsgBox(const TScriptedMsgBox&) = delete;
    TScriptedMsgBox& operator=(const TScriptedMsgBox&) = delete;

    // Answers the next boxes in this order; with the queue empty a box gets its default button.
    void QueueAnswer(int answer);
    void QueueAnswers(std::initializer_list<int> answers);
    int PendingAnswers() const { return static_cast<int>(FAnswers.size()); }

    const std::vector<TBox>& Boxes() const { return FBoxes; }
    int Count() const { return static_cast<int>(FBoxes.size()); }
    // The most recent box; with none shown, a box with flags -1 and a text saying so.
    const TBox& Last() const;
    // All texts joined by newlines, handy for failure messages.
    std::string AllTexts() const;
    // Forgets the recorded boxes and the queued answers.
    void Clear();

private:
    int Present(int flags, const char* text);

    std::vector<TBox> FBoxes;
    std::deque<int> FAnswers;
    TMsgBoxPresenter FPrevious;
};

// Answers the program's message boxes in process: while a recorder lives, every box goes through
// it instead of the screen (the MessageBoxFunc seam). It records each box and answers from a
// queue; a box with no answer queued is dismissed the way Escape or the close box would (Cancel
// where the box has it, No for Yes/No, else OK), so a Retry question never loops by accident.
//
//     TMessageBoxRecorder boxes;
//     boxes.Answer(IDRETRY);                  // the first box answers Retry, later ones Cancel
//     ... code under test ...
//     EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{"接続に失敗しました　回線を確認してください"}));
//     EXPECT_EQ(boxes[0].Flags, UINT{MB_RETRYCANCEL});
#pragma once

#include "toolkit/win/Win.h"

#include <cstddef>
#include <deque>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "toolkit/win/MessageBox.h"

class TMessageBoxRecorder {
public:
    struct TBox {
        HWND Owner;
        std::string Text;
        std::string Caption;
        UINT Flags;
        int Answer; // what the recorder answered
    };

    TMessageBoxRecorder() : FPrevious(MessageBoxFunc), FOuter(Current)
    {
        Current = this;
        MessageBoxFunc = Record;
    }
    ~TMessageBoxRecorder()
    {
        MessageBoxFunc = FPrevious;
        Current = FOuter;
    }
    TMessageBoxRecorder(const TMessageBoxRecorder&) = delete;
    TMessageBoxRecorder& operator=(const TMessageBoxRecorder&) = delete;

    // Queues answers for the boxes to come, in order.
    void Answer(int Id) { FAnswers.push_back(Id); }
    void Answer(std::initializer_list<int> Ids) { FAnswers.insert(FAnswers.end(), Ids); }
    std::size_t Pending() const noexcept { return FAnswers.size(); }

    const std::vector<TBox>& Boxes() const noexcept { return FBoxes; }
    std::size_t size() const noexcept { return FBoxes.size(); }
    bool empty() const noexcept { return FBoxes.empty(); }
    const TBox& operator[](std::size_t Index) const { return FBoxes.at(Index); }
    std::vector<std::string> Texts() const
    {
        std::vector<std::string> texts;
        for (const TBox& box : FBoxes) texts.push_back(box.Text);
        return texts;
    }
    // Forgets the boxes seen and the answers still queued.
    void Clear()
    {
        FBoxes.clear();
        FAnswers.clear();
    }

    // Runs while a box is "up", before it is answered (to look at the windows behind it).
    std::function<void(const TBox&)> OnBox;

    // The answer Escape or the close box gives: Cancel, else No (Yes/No has no Cancel), else OK.
    static int DismissAnswer(UINT Flags)
    {
        switch (Flags & MB_TYPEMASK) {
        case MB_OKCANCEL:
        case MB_RETRYCANCEL:
        case MB_YESNOCANCEL:
        case MB_CANCELTRYCONTINUE: return IDCANCEL;
        case MB_YESNO: return IDNO;
        case MB_ABORTRETRYIGNORE: return IDABORT;
        default: return IDOK;
        }
    }

private:
    static int Record(HWND Owner, const std::string& Text, const std::string& Caption, UINT Flags)
    {
        TMessageBoxRecorder& self = *Current;
        int answer = DismissAnswer(Flags);
        if (!self.FAnswers.empty()) {
            answer = self.FAnswers.front();
            self.FAnswers.pop_front();
        }
        const TBox box{Owner, Text, Caption, Flags, answer};
        self.FBoxes.push_back(box);
        if (self.OnBox) self.OnBox(box);
        return answer;
    }

    static inline TMessageBoxRecorder* Current = nullptr;
    TMessageBoxFunc FPrevious;
    TMessageBoxRecorder* FOuter;
    std::vector<TBox> FBoxes;
    std::deque<int> FAnswers;
};

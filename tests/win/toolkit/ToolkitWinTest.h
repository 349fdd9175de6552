// What the toolkit's Win32 tests share: the fixture that names the application and records its
// message boxes, and a timer that runs scripted actions while a modal loop runs. One type each
// for the whole test program, so the files' TEST_F(Toolkit, ...) belong to one suite.
#pragma once

#include <gtest/gtest.h>

#include "toolkit/win/Win.h"

#include <commctrl.h>

#include <deque>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>

#include "toolkit/win/Application.h"
#include "toolkit/win/Bars.h"
#include "toolkit/win/Buttons.h"
#include "toolkit/FileCtrl.h"
#include "toolkit/win/Form.h"
#include "toolkit/win/HiddenWindow.h"
#include "toolkit/win/InputControls.h"
#include "MessageBoxRecorder.h"
#include "toolkit/win/Registry.h"
#include "toolkit/win/ResourceStream.h"
#include "toolkit/win/SelectDir.h"
#include "toolkit/win/StaticControls.h"
#include "toolkit/SysUtils.h"

class Toolkit : public ::testing::Test {
protected:
    void SetUp() override { Application->SetTitle("doduza　領収書発行セットアップ"); }
    TMessageBoxRecorder Boxes;
};

// Runs the actions one per timer tick while a modal loop is running.
inline std::deque<std::function<void()>> TimerActions;
inline void CALLBACK RunNextAction(HWND, UINT, UINT_PTR, DWORD)
{
    if (!TimerActions.empty()) {
        auto action = std::move(TimerActions.front());
        TimerActions.pop_front();
        action();
    }
}

struct TScriptedTimer {
    UINT_PTR id;
    explicit TScriptedTimer(std::deque<std::function<void()>> Actions)
    {
        TimerActions = std::move(Actions);
        id = SetTimer(nullptr, 0, 30, RunNextAction);
    }
    ~TScriptedTimer() { KillTimer(nullptr, id); }
};

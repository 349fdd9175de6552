// Forms and the application under Wine: the message-box seam and the exception display, showing,
// closing and modal loops, the message pump, failures stopped at a window's edge, hidden windows
// and the handle holders.
#include "ToolkitWinTest.h"

namespace {

TEST(ExceptionText, PeriodAppendedUnlessLastCharacterSortsAtOrBeforeIt)
{
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"", ""},
        {"Stream read error", "Stream read error."},
        {"done.", "done."},
        {"why?", "why?."},     // '?' sorts after '.'
        {"stop!", "stop!"},    // '!' before '.'
        {"(note)", "(note)"},  // ')' before '.'
        {"a-", "a-"},
        {"path/", "path/."},
        {"ディレクトリを作成することができません", "ディレクトリを作成することができません."},
        {"表", "表."}, // a trail byte 0x5C is part of the last character
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExceptionDisplayText(c.in), c.out) << c.in;
    }
}

TEST_F(Toolkit, ShowMessageGoesThroughTheSeamWithTheTitle)
{
    ShowMessage("ディレクトリを作成できませんでした");
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "\x83\x66\x83\x42\x83\x8C\x83\x4E\x83\x67\x83\x8A\x82\xF0\x8D\xEC\x90\xAC\x82\xC5\x82\xAB\x82\xDC\x82\xB9"
                             "\x82\xF1\x82\xC5\x82\xB5\x82\xBD");
    EXPECT_EQ(Boxes[0].Caption, Application->Title());
    EXPECT_EQ(Boxes[0].Flags, static_cast<UINT>(MB_OK));
}

TEST_F(Toolkit, ExceptionInAHandlerIsShownAndTheWindowStays)
{
    TForm form(nullptr);
    auto* button = new TButton(&form, &form);
    int calls = 0;
    button->OnClick = [&](TObject*) {
        ++calls;
        if (calls == 1) throw EInOutError("ディレクトリを作成することができません");
        throw std::runtime_error("plain");
    };
    form.Show();
    button->Click();
    button->Click();
    ASSERT_EQ(Boxes.size(), 2u);
    EXPECT_EQ(Boxes[0].Text, "ディレクトリを作成することができません.");
    EXPECT_EQ(Boxes[0].Caption, "doduza　領収書発行セットアップ");
    EXPECT_EQ(Boxes[0].Flags, static_cast<UINT>(MB_OK | MB_ICONSTOP));
    EXPECT_EQ(Boxes[1].Text, "plain.");
    EXPECT_TRUE(IsWindow(form.Handle()));
    EXPECT_TRUE(IsWindowVisible(form.Handle()));
}

TEST_F(Toolkit, CloseRunsOnCloseAndHidesUnlessRefused)
{
    TForm form(nullptr);
    TCloseAction answer = TCloseAction::caNone;
    int closes = 0;
    form.OnClose = [&](TObject*, TCloseAction& Action) {
        ++closes;
        Action = answer;
    };
    form.Show();
    SendMessageA(form.Handle(), WM_CLOSE, 0, 0); // the close box
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(IsWindowVisible(form.Handle()));
    // Freeing on close is refused loudly, and the window stays as it was.
    answer = TCloseAction::caFree;
    SendMessageA(form.Handle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(closes, 2);
    EXPECT_TRUE(IsWindowVisible(form.Handle()));
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Flags, static_cast<UINT>(MB_OK | MB_ICONSTOP));
    answer = TCloseAction::caHide;
    form.Close();
    EXPECT_EQ(closes, 3);
    EXPECT_FALSE(IsWindowVisible(form.Handle()));
    EXPECT_FALSE(form.Visible());
}

TEST_F(Toolkit, ShowRunsOnShowFirstAndItsExceptionReachesTheCaller)
{
    TForm form(nullptr);
    form.OnShow = [&](TObject*) {
        EXPECT_FALSE(IsWindowVisible(form.Handle()));
        throw ERegistryException("'Path' のデータ型が不正です");
    };
    EXPECT_THROW(form.Show(), ERegistryException);
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(Toolkit, ShowModalEndsWithTheButtonsResultAndReenablesTheOwner)
{
    TForm owner(nullptr);
    owner.Show();
    TForm dialog(nullptr);
    auto* ok = new TButton(&dialog, &dialog);
    ok->SetModalResult(mrOk);
    bool ownerDisabledMeanwhile = false;
    TScriptedTimer timer({[&] {
        ownerDisabledMeanwhile = !IsWindowEnabled(owner.Handle());
        ok->Click();
    }});
    EXPECT_EQ(dialog.ShowModal(), mrOk);
    EXPECT_TRUE(ownerDisabledMeanwhile);
    EXPECT_TRUE(IsWindowEnabled(owner.Handle()));
    EXPECT_FALSE(IsWindowVisible(dialog.Handle()));
}

class TCountingForm : public TForm {
public:
    using TForm::TForm;
    int Seen = 0;

protected:
    LRESULT WndProc(UINT Msg, WPARAM wParam, LPARAM lParam) override
    {
        if (Msg == WM_USER + 7) {
            ++Seen;
            return 0;
        }
        return TForm::WndProc(Msg, wParam, lParam);
    }
};

TEST_F(Toolkit, ProcessMessagesDispatchesWhatIsPendingAndReturns)
{
    TCountingForm form(nullptr);
    PostMessageA(form.Handle(), WM_USER + 7, 0, 0);
    PostMessageA(form.Handle(), WM_USER + 7, 0, 0);
    EXPECT_EQ(form.Seen, 0);
    Application->ProcessMessages();
    EXPECT_EQ(form.Seen, 2);
    Application->ProcessMessages(); // nothing pending: returns at once
    EXPECT_EQ(form.Seen, 2);
}

TEST_F(Toolkit, ApplicationMessageBoxAnswersRetryOrCancel)
{
    Boxes.Answer(IDRETRY);
    EXPECT_EQ(Application->MessageBox("接続に失敗しました　回線を確認してください", "データ送信", MB_RETRYCANCEL), IDRETRY);
    EXPECT_EQ(Application->MessageBox("送信に失敗しました　再度送信しますか", "データ送信", MB_RETRYCANCEL), IDCANCEL);
    {
        TMessageBoxRecorder inner; // a recorder of its own, and the outer one back afterwards
        ShowMessage("inner");
        EXPECT_EQ(inner.Texts(), std::vector<std::string>{"inner"});
    }
    EXPECT_EQ(Application->MessageBox("サーバーが応答しません", "エラー", MB_OK), IDOK);
    ASSERT_EQ(Boxes.size(), 3u);
    EXPECT_EQ(Boxes[0].Caption, "データ送信");
    EXPECT_EQ(Boxes[0].Flags, static_cast<UINT>(MB_RETRYCANCEL));
    EXPECT_EQ(Boxes[2].Text, "サーバーが応答しません");
    EXPECT_EQ(Boxes[2].Caption, "エラー");
}

// A paint that fails stops at the window's edge: the failure is shown once and the window is
// left valid, not repainted (and the failure shown) over and over.
class TFailingPanel : public TPanel {
public:
    using TPanel::TPanel;
    int Paints = 0;
    void Paint(HDC) override
    {
        ++Paints;
        throw Exception("paint failed");
    }
};

TEST_F(Toolkit, FailedPaintIsShownOnceNotOverAndOver)
{
    TForm form(nullptr);
    auto* panel = new TFailingPanel(&form, &form);
    panel->SetBounds(0, 0, 50, 50);
    form.Show();
    UpdateWindow(panel->Handle());
    Application->ProcessMessages();
    EXPECT_EQ(panel->Paints, 1);
    EXPECT_EQ(Boxes.Texts(), std::vector<std::string>{"paint failed."});
    EXPECT_FALSE(GetUpdateRect(panel->Handle(), nullptr, FALSE));
}

TEST_F(Toolkit, ControlPlacedInAFormOwnedElsewhereOutlivesItsWindow)
{
    TComponent owner(nullptr);
    TPanel* panel = nullptr;
    TButton* button = nullptr;
    {
        TForm form(nullptr);
        panel = new TPanel(&owner, &form);
        button = new TButton(&owner, panel);
        EXPECT_TRUE(IsWindow(panel->Handle()));
    }
    EXPECT_EQ(panel->Handle(), nullptr); // gone with the form's window, and not destroyed twice
    EXPECT_EQ(panel->Parent(), nullptr);
    EXPECT_EQ(button->Handle(), nullptr);
    EXPECT_THROW(TButton(&owner, nullptr), Exception); // a windowed control needs a parent window
}

// The hidden-window base: the object gets every message once it is kept in the window, an
// exception stops at the window's edge, and the window goes with the object.
class TProbeWindow : public THiddenWindow {
public:
    explicit TProbeWindow(const char* ClassName, HWND Owner = nullptr)
    {
        AllocateHandle(ClassName, "", WS_POPUP, WS_EX_TOOLWINDOW, 0, 0, nullptr, Owner);
    }
    std::vector<UINT> Seen;
    std::string Failed;

protected:
    LRESULT WndProc(UINT Msg, WPARAM wParam, LPARAM lParam) override
    {
        if (Msg >= WM_USER) {
            Seen.push_back(Msg);
            if (Msg == WM_USER + 1) throw Exception("from the handler");
            return 42;
        }
        return THiddenWindow::WndProc(Msg, wParam, lParam);
    }
    LRESULT WndProcFailed(const std::exception& E, UINT) noexcept override
    {
        Failed = E.what();
        return 7;
    }
};

TEST(HiddenWindow, PassesMessagesToItsObjectAndCatchesAtTheEdge)
{
    HWND first = nullptr;
    {
        TProbeWindow a("ProbeWindowClass"), b("ProbeWindowClass"); // the class is registered once
        first = a.Handle();
        ASSERT_NE(first, nullptr);
        ASSERT_NE(b.Handle(), nullptr);
        EXPECT_EQ(THiddenWindow::FromHandle(first), &a);
        EXPECT_EQ(GetWindowLongA(first, GWL_EXSTYLE) & WS_EX_TOOLWINDOW, WS_EX_TOOLWINDOW);
        EXPECT_FALSE(IsWindowVisible(first));
        EXPECT_EQ(SendMessageA(first, WM_USER, 0, 0), 42);
        EXPECT_EQ(SendMessageA(first, WM_USER + 1, 0, 0), 7);
        EXPECT_EQ(a.Failed, "from the handler");
        EXPECT_EQ(a.Seen, (std::vector<UINT>{WM_USER, WM_USER + 1}));
        EXPECT_TRUE(b.Seen.empty());
        EXPECT_EQ(GetWindow(first, GW_OWNER), nullptr);
        TProbeWindow owned("ProbeWindowClass", Application->Handle());
        EXPECT_EQ(GetWindow(owned.Handle(), GW_OWNER), Application->Handle());
    }
    EXPECT_FALSE(IsWindow(first));
    EXPECT_EQ(THiddenWindow::FromHandle(GetDesktopWindow()), nullptr);
}

TEST_F(Toolkit, ApplicationWindowIsAHiddenWindowThatShowsItsFailures)
{
    HWND window = Application->Handle();
    EXPECT_NE(THiddenWindow::FromHandle(window), nullptr);
    char name[64] = {}, caption[128] = {};
    GetClassNameA(window, name, sizeof name);
    GetWindowTextA(window, caption, sizeof caption);
    EXPECT_STREQ(name, "TApplication");
    EXPECT_EQ(caption, Application->Title());
    EXPECT_EQ(GetWindowLongPtrA(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW, 0); // it has the taskbar button
    RECT r, area;
    GetWindowRect(window, &r);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    EXPECT_EQ(r.left, (area.left + area.right) / 2);
    EXPECT_EQ(r.top, (area.top + area.bottom) / 2);

    // "Close" on the taskbar button runs the main form's close handler in the window's handler.
    TForm* main = nullptr;
    Application->CreateForm(main);
    const std::unique_ptr<TForm> owned(main);
    main->OnClose = [](TObject*, TCloseAction&) { throw EInOutError("閉じられません"); };
    EXPECT_EQ(SendMessageA(window, WM_CLOSE, 0, 0), 0);
    EXPECT_EQ(Boxes.Texts(), std::vector<std::string>{"閉じられません."});
    EXPECT_EQ(Boxes[0].Flags, static_cast<UINT>(MB_OK | MB_ICONSTOP));
}

TEST(Handles, EachHolderFreesItsHandleOnce)
{
    HANDLE raw = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD flags = 0;
    {
        TKernelHandle event(raw);
        TKernelHandle moved(std::move(event));
        EXPECT_FALSE(event);
        EXPECT_TRUE(GetHandleInformation(raw, &flags));
    }
    EXPECT_FALSE(GetHandleInformation(raw, &flags));
    TKernelHandle invalid(INVALID_HANDLE_VALUE);
    EXPECT_FALSE(invalid);
    TFindHandle none;
    EXPECT_FALSE(none);
    EXPECT_EQ(none.Get(), INVALID_HANDLE_VALUE);
}

} // namespace

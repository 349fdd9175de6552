// The GUI toolkit under Wine: the message-box seam and the exception display, forms and modal
// loops, progress scaling, the folder chooser's accept rules, the registry in Wine's real
// registry and resource streams.
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

namespace {

class Toolkit : public ::testing::Test {
protected:
    void SetUp() override { Application->SetTitle("doduza　領収書発行セットアップ"); }
    TMessageBoxRecorder Boxes;
};

std::string TempFolder(const std::string& Name)
{
    char buffer[MAX_PATH];
    GetTempPathA(MAX_PATH, buffer);
    // Wine reuses process ids from run to run: the counter keeps every run's folders apart.
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return std::string(buffer) + "tkwin_" + std::to_string(now.QuadPart) + "_" + Name;
}

// Runs the actions one per timer tick while a modal loop is running.
std::deque<std::function<void()>> TimerActions;
void CALLBACK RunNextAction(HWND, UINT, UINT_PTR, DWORD)
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

TSelectDirDlg* OpenChooser()
{
    HWND window = FindWindowA("TForm", "ディレクトリの選択");
    return dynamic_cast<TSelectDirDlg*>(TWinControl::FromHandle(window));
}

// ---------------------------------------------------------------------------------------------

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

TEST(ProgressScaling, RangesAboveSixteenBitsAreScaled)
{
    const struct {
        int64_t position, max;
        int range, scaled;
    } cases[] = {
        {0, 0, 0, 0},
        {5, 0, 0, 0},
        {50, 100, 100, 50},
        {-3, 100, 100, 0},
        {150, 100, 100, 100},
        {65535, 65535, 65535, 65535},
        {0, 2054589, 65535, 0},
        {2054589, 2054589, 65535, 65535},
        {1027294, 2054589, 65535, 32767},
        {int64_t{1} << 62, INT64_MAX, 65535, 32767},
        {INT64_MAX, INT64_MAX, 65535, 65535},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ScaledRange(c.max), c.range) << c.max;
        EXPECT_EQ(ScaledPosition(c.position, c.max), c.scaled) << c.position << "/" << c.max;
    }
}

TEST_F(Toolkit, ProgressBarShowsALargeRangeScaled)
{
    TForm form(nullptr);
    auto* bar = new TProgressBar(&form, &form);
    bar->SetMax(2054589);
    bar->SetPosition(1027294);
    PBRANGE range{};
    SendMessageA(bar->Handle(), PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iHigh, 65535);
    EXPECT_EQ(SendMessageA(bar->Handle(), PBM_GETPOS, 0, 0), 32767);
    EXPECT_EQ(bar->Position(), 1027294);
    bar->SetPosition(3000000); // clamped to Max
    EXPECT_EQ(bar->Position(), 2054589);
    EXPECT_EQ(SendMessageA(bar->Handle(), PBM_GETPOS, 0, 0), 65535);
}

// ---------------------------------------------------------------------------------------------

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

TEST_F(Toolkit, ControlsKeepTheirTexts)
{
    TForm form(nullptr);
    auto* edit = new TEdit(&form, &form);
    auto* combo = new TComboBox(&form, &form);
    auto* status = new TStatusBar(&form, &form);
    auto* panel = new TPanel(&form, &form);
    auto* male = new TRadioButton(&form, panel);
    auto* female = new TRadioButton(&form, panel);
    edit->SetText("c:\\ソフト\\表");
    EXPECT_EQ(edit->Text(), "c:\\ソフト\\表");
    for (const char* item : {"１０代", "２０代", "６０代以上"}) combo->AddItem(item);
    EXPECT_EQ(combo->ItemIndex(), -1);
    combo->SetText("typed");
    EXPECT_EQ(combo->ItemIndex(), -1);
    combo->SetItemIndex(2);
    EXPECT_EQ(combo->Item(combo->ItemIndex()), "６０代以上");
    EXPECT_THROW(combo->Item(7), EListError);
    status->SetSimpleText("サーバーに接続中です");
    char text[64] = {};
    // In simple mode the bar answers for its one part under index 0.
    SendMessageA(status->Handle(), SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(text, "サーバーに接続中です");
    male->SetChecked(true);
    female->SetChecked(true);
    EXPECT_FALSE(male->Checked());
    EXPECT_TRUE(female->Checked());
    EXPECT_EQ(GetParent(male->Handle()), panel->Handle());
}

TEST_F(Toolkit, NotificationsOfControlsInAPanelReachTheirHandlers)
{
    TForm form(nullptr);
    auto* panel = new TPanel(&form, &form);
    auto* button = new TButton(&form, panel);
    int clicks = 0;
    button->OnClick = [&](TObject* Sender) {
        EXPECT_EQ(Sender, button);
        ++clicks;
    };
    button->Click(); // WM_COMMAND to the panel, which hands it to the button's object
    EXPECT_EQ(clicks, 1);
}

TEST_F(Toolkit, TabOrderFollowsCreationUntilMoved)
{
    TForm form(nullptr);
    TButton* buttons[4];
    for (auto*& b : buttons) b = new TButton(&form, &form);
    auto* caption = new TEdit(&form, &form);
    caption->SetReadOnly(true);
    caption->SetTabStop(false); // a caption box is skipped by Tab
    const auto order = [&] {
        std::vector<HWND> seen;
        HWND at = buttons[0]->Handle();
        for (int i = 0; i < 4; ++i) seen.push_back(at = GetNextDlgTabItem(form.Handle(), at, FALSE));
        return seen;
    };
    EXPECT_EQ(order(), (std::vector<HWND>{buttons[1]->Handle(), buttons[2]->Handle(), buttons[3]->Handle(), buttons[0]->Handle()}));
    buttons[0]->SetTabOrder(3); // last of the four buttons, before the caption box
    buttons[3]->SetTabOrder(0);
    EXPECT_EQ(order(), (std::vector<HWND>{buttons[3]->Handle(), buttons[1]->Handle(), buttons[2]->Handle(), buttons[0]->Handle()}));
}

// ---------------------------------------------------------------------------------------------
// What a dialog form of the program is made of: frames, placement, the OK button, caption boxes,
// the input method per box, bevels, fonts and colours.

// The pixels a control draws onto a white bitmap of its size (windowless controls draw at their
// bounds, so the bitmap covers the parent's client area up to the control's far corner).
class TCanvas {
public:
    TCanvas(int Width, int Height) : FWidth(Width), FHeight(Height)
    {
        const TWindowDC screen(nullptr);
        FDC.Reset(CreateCompatibleDC(screen.Get()));
        FBitmap.Reset(CreateCompatibleBitmap(screen.Get(), Width, Height));
        FSelected.emplace(FDC.Get(), FBitmap.Get());
        RECT all{0, 0, Width, Height};
        FillRect(FDC.Get(), &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    }
    HDC DC() const noexcept { return FDC.Get(); }
    COLORREF At(int X, int Y) const { return GetPixel(FDC.Get(), X, Y); }
    int Count(COLORREF Color) const
    {
        int n = 0;
        for (int y = 0; y < FHeight; ++y)
            for (int x = 0; x < FWidth; ++x) n += At(x, y) == Color;
        return n;
    }
    int Ink() const { return FWidth * FHeight - Count(RGB(255, 255, 255)); }

private:
    int FWidth, FHeight;
    TMemoryDC FDC;
    TBitmapHandle FBitmap;
    std::optional<TSelectedObject> FSelected; // selected out before the bitmap and the DC go
};

LOGFONTA FontOf(HFONT Font)
{
    LOGFONTA font{};
    GetObjectA(Font, sizeof font, &font);
    return font;
}

TEST_F(Toolkit, FixedFrameWithoutIconsStaysOnTopAndCentresOnItsOwner)
{
    TForm* main = nullptr;
    Application->CreateForm(main);
    const std::unique_ptr<TForm> mainHeld(main);
    main->SetBounds(40, 30, 500, 400);
    main->Show();
    TForm other(Application);
    other.SetBounds(400, 300, 300, 200);
    other.Show();

    TForm byOther(&other), byApplication(Application);
    for (TForm* form : {&byOther, &byApplication}) {
        form->SetBorderStyle(TBorderStyle::bsSingle);
        form->SetBorderIcons(0);
        form->SetFormStyle(TFormStyle::fsStayOnTop);
        form->SetPosition(TPosition::poOwnerFormCenter);
        form->SetClientSize(368, 429);
        const LONG_PTR style = GetWindowLongPtrA(form->Handle(), GWL_STYLE);
        EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
        EXPECT_EQ(style & (WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
        EXPECT_EQ(GetWindowLongPtrA(form->Handle(), GWL_EXSTYLE) & WS_EX_TOPMOST, WS_EX_TOPMOST);
        EXPECT_EQ(form->ClientWidth(), 368);
        EXPECT_EQ(form->ClientHeight(), 429);
    }
    const auto centre = [](HWND Window) {
        RECT r;
        GetWindowRect(Window, &r);
        return std::pair((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    };
    // Owned by a form: centred on that one; owned by the application: centred on the main form.
    byOther.Show();
    byApplication.Show();
    EXPECT_EQ(centre(byOther.Handle()), centre(other.Handle()));
    EXPECT_EQ(centre(byApplication.Handle()), centre(main->Handle()));
    // With no visible form to centre on, the work area's centre.
    byApplication.Hide();
    main->Hide();
    byApplication.Show();
    RECT area;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    const auto [x, y] = centre(byApplication.Handle());
    EXPECT_NEAR(x, (area.left + area.right) / 2, 1);
    EXPECT_NEAR(y, (area.top + area.bottom) / 2, 1);
}

TEST_F(Toolkit, OkKindButtonIsTheDefaultAndEndsTheDialogWithOk)
{
    TForm dialog(nullptr);
    auto* edit = new TEdit(&dialog, &dialog);
    auto* panel = new TPanel(&dialog, &dialog);
    auto* send = new TBitBtn(&dialog, panel); // in a panel: found through it
    send->SetCaption("送信");
    send->SetKind(TBitBtnKind::bkOK);
    auto* plain = new TBitBtn(&dialog, &dialog);
    plain->SetKind(TBitBtnKind::bkOK);
    plain->SetVisible(false);
    EXPECT_EQ(send->Caption(), "送信");
    EXPECT_EQ(plain->Caption(), "OK");
    EXPECT_EQ(GetWindowLongPtrA(send->Handle(), GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
    EXPECT_EQ(dialog.DefaultButton(), send);
    int clicks = 0;
    send->OnClick = [&](TObject*) { ++clicks; };
    dialog.SetActiveControl(edit);
    // Enter in the edit box goes through the dialog keys of the message loop.
    TScriptedTimer timer({[&] {
        EXPECT_EQ(GetFocus(), edit->Handle());
        PostMessageA(edit->Handle(), WM_KEYDOWN, VK_RETURN, 0);
    }});
    EXPECT_EQ(dialog.ShowModal(), mrOk);
    EXPECT_EQ(clicks, 1);
}

TEST_F(Toolkit, CaptionBoxIsDrawnInItsColoursAndSkippedByTab)
{
    TForm form(nullptr);
    auto* caption = new TEdit(&form, &form);
    auto* name = new TEdit(&form, &form);
    caption->SetBounds(8, 8, 68, 23);
    caption->SetText("施設名");
    caption->SetReadOnly(true);
    caption->SetTabStop(false);
    caption->SetColor(clTeal);
    TFont white;
    white.Name = "MS UI Gothic";
    white.Height = 15;
    white.Color = clWhite;
    caption->SetFont(white);
    EXPECT_EQ(GetNextDlgTabItem(form.Handle(), name->Handle(), FALSE), name->Handle());

    // The box paints itself with the brush and text colour its parent hands out.
    TCanvas canvas(68, 23);
    SendMessageA(caption->Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.DC()), PRF_CLIENT | PRF_ERASEBKGND);
    EXPECT_GT(canvas.Count(RGB(0, 128, 128)), 68 * 23 / 2);
    EXPECT_GT(canvas.Count(RGB(255, 255, 255)), 0);
    EXPECT_EQ(canvas.Count(RGB(0, 0, 0)), 0);
}

TEST_F(Toolkit, InputMethodFollowsTheFocusedBox)
{
    TForm form(nullptr);
    auto* japanese = new TEdit(&form, &form);
    auto* mail = new TEdit(&form, &form);
    auto* any = new TEdit(&form, &form);
    japanese->SetImeMode(TImeMode::imeOpen);
    mail->SetImeMode(TImeMode::imeClose);
    form.Show();
    const auto open = [](TEdit* Edit) {
        const TInputContext context(Edit->Handle());
        return context && ImmGetOpenStatus(context.Get()) != FALSE;
    };
    {
        const TInputContext context(japanese->Handle());
        ASSERT_TRUE(context) << "no input context under this Wine";
    }
    const struct {
        TEdit* focus;
        bool open;
    } steps[] = {{japanese, true}, {mail, false}, {any, false}, {japanese, true}, {any, true}, {mail, false}};
    for (const auto& step : steps) {
        step.focus->SetFocus();
        EXPECT_EQ(open(step.focus), step.open) << (step.focus == japanese ? "japanese" : step.focus == mail ? "mail" : "any");
    }
    // Setting the mode of the focused box applies it at once.
    mail->SetImeMode(TImeMode::imeOpen);
    EXPECT_TRUE(open(mail));
}

TEST_F(Toolkit, PanelBevelsRaisedInnerLoweredOuterOrNone)
{
    TForm form(nullptr);
    auto* framed = new TPanel(&form, &form);
    framed->SetBounds(0, 0, 40, 30);
    framed->SetBevelInner(TBevelCut::bvRaised);
    framed->SetBevelOuter(TBevelCut::bvLowered);
    auto* bare = new TPanel(&form, &form);
    bare->SetBounds(0, 0, 40, 30);
    bare->SetBevelOuter(TBevelCut::bvNone);
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW), light = GetSysColor(COLOR_BTNHIGHLIGHT);
    ASSERT_NE(shadow, light);

    TCanvas withBevels(40, 30);
    framed->Paint(withBevels.DC());
    // Lowered outer: shadow at the top left, light at the bottom right; the raised inner one
    // inside it the other way round.
    EXPECT_EQ(withBevels.At(0, 0), shadow);
    EXPECT_EQ(withBevels.At(39, 29), light);
    EXPECT_EQ(withBevels.At(1, 1), light);
    EXPECT_EQ(withBevels.At(38, 28), shadow);
    EXPECT_EQ(withBevels.At(20, 15), RGB(255, 255, 255));

    TCanvas borderless(40, 30);
    bare->Paint(borderless.DC());
    EXPECT_EQ(borderless.Ink(), 0);
}

TEST_F(Toolkit, StatusBarAndClosedComboBoxTakeTheHeightsTheyAreGiven)
{
    TForm form(nullptr);
    form.SetClientSize(368, 429);
    const auto outer = [&](TWinControl* Control) {
        RECT r;
        GetWindowRect(Control->Handle(), &r);
        MapWindowPoints(nullptr, form.Handle(), reinterpret_cast<POINT*>(&r), 2);
        return r;
    };
    auto* status = new TStatusBar(&form, &form);
    status->SetBounds(0, 410, 368, 19);
    status->SetSimpleText("データ送信中です");
    EXPECT_EQ(outer(status).top, 410);
    EXPECT_EQ(outer(status).bottom, 429);
    EXPECT_EQ(outer(status).right, 368);

    const struct {
        int fontHeight, height;
        bool fontFirst; // the font set before the bounds or after them
    } cases[] = {{15, 23, true}, {15, 23, false}, {12, 20, false}, {20, 30, true}, {9, 40, false}};
    for (const auto& c : cases) {
        auto* combo = new TComboBox(&form, &form);
        TFont font;
        font.Height = c.fontHeight;
        if (c.fontFirst) combo->SetFont(font);
        combo->SetBounds(78, 306, 280, c.height);
        if (!c.fontFirst) combo->SetFont(font);
        combo->AddItem("６０代以上");
        const RECT r = outer(combo);
        EXPECT_EQ(r.bottom - r.top, c.height) << c.fontHeight << " " << c.height;
        EXPECT_EQ(r.right - r.left, 280);
        // The list still drops down below the box.
        SendMessageA(combo->Handle(), CB_SHOWDROPDOWN, TRUE, 0);
        RECT list{};
        SendMessageA(combo->Handle(), CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&list));
        EXPECT_GT(list.bottom - list.top, c.height);
        SendMessageA(combo->Handle(), CB_SHOWDROPDOWN, FALSE, 0);
    }
}

TEST_F(Toolkit, EachControlKeepsItsOwnFont)
{
    TForm form(nullptr);
    auto* edit = new TEdit(&form, &form);
    auto* combo = new TComboBox(&form, &form);
    auto* follower = new TEdit(&form, &form); // keeps following the form's font
    const struct {
        TWinControl* control;
        const char* face;
        int height;
    } cases[] = {{edit, "MS UI Gothic", 15}, {combo, "ＭＳ Ｐゴシック", 15}};
    for (const auto& c : cases) {
        TFont font;
        font.Name = c.face;
        font.Height = c.height;
        c.control->SetFont(font);
    }
    TFont formFont;
    formFont.Height = 12;
    form.SetFont(formFont);
    for (const auto& c : cases) {
        const LOGFONTA font = FontOf(reinterpret_cast<HFONT>(SendMessageA(c.control->Handle(), WM_GETFONT, 0, 0)));
        EXPECT_STREQ(font.lfFaceName, c.face);
        EXPECT_EQ(font.lfHeight, -c.height);
        EXPECT_EQ(font.lfCharSet, SHIFTJIS_CHARSET);
    }
    EXPECT_EQ(FontOf(reinterpret_cast<HFONT>(SendMessageA(follower->Handle(), WM_GETFONT, 0, 0))).lfHeight, -12);
}

TEST_F(Toolkit, LabelDrawsInItsColourAndWeight)
{
    TForm form(nullptr);
    const auto draw = [&](bool Bold) {
        auto* label = new TLabel(&form, &form);
        TFont font;
        font.Name = "MS UI Gothic";
        font.Height = 13;
        font.Color = clBlue;
        font.Bold = Bold;
        label->SetFont(font);
        label->SetCaption("何も入力されていない場合は");
        auto canvas = std::make_unique<TCanvas>(label->Left() + label->Width(), label->Top() + label->Height());
        label->Paint(canvas->DC());
        return canvas;
    };
    const auto normal = draw(false);
    const auto bold = draw(true);
    EXPECT_GT(bold->Count(clBlue), 0);
    EXPECT_EQ(bold->Count(clBlack), 0);
    EXPECT_GT(bold->Ink(), normal->Ink() * 11 / 10);
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

// ---------------------------------------------------------------------------------------------
// The folder chooser

TEST_F(Toolkit, ChooserAcceptRules)
{
    const std::string base = TempFolder("chooser");
    ASSERT_TRUE(ForceDirectories(base));
    TSelectDirDlg dialog(nullptr, sdAllowCreate | sdPerformCreate | sdPrompt);
    const struct {
        std::string folder;
        std::deque<int> answers;
        bool accepted;
        bool asked;
        bool existsAfter;
    } cases[] = {
        {base, {}, true, false, true},
        {base + "\\no", {IDNO}, false, true, false},
        {base + "\\yes\\deep\\ソ", {IDYES}, true, true, true},
        {"", {}, false, false, false},
    };
    for (const auto& c : cases) {
        Boxes.Clear();
        for (const int answer : c.answers) Boxes.Answer(answer);
        EXPECT_EQ(dialog.CanAccept(c.folder), c.accepted) << c.folder;
        EXPECT_EQ(!Boxes.empty(), c.asked) << c.folder;
        if (!Boxes.empty()) {
            EXPECT_EQ(Boxes[0].Text, "指定されたディレクトリが存在しません。作成しますか？");
            EXPECT_EQ(Boxes[0].Flags & MB_TYPEMASK, static_cast<UINT>(MB_YESNO));
        }
        EXPECT_EQ(DirectoryExists(c.folder), c.existsAfter) << c.folder;
    }
    TSelectDirDlg noCreate(nullptr, 0);
    EXPECT_FALSE(noCreate.CanAccept(base + "\\other"));

    // Texts that are not full paths would be made under the current folder: refused before the
    // question, with the install step's error, and nothing is made, an existing one named so
    // included.
    ASSERT_TRUE(ForceDirectories(base + "\\Existing"));
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(base.c_str()));
    for (const char* text : {"Doduza", "Doduza\\sub", ".\\Doduza", "\\DoduzaAtTheRoot", "c:DoduzaOnTheDrive", "Existing"}) {
        Boxes.Clear();
        Boxes.Answer(IDYES);
        EXPECT_THROW(dialog.CanAccept(text), EInOutError) << text;
        EXPECT_TRUE(Boxes.empty()) << text;
    }
    SetCurrentDirectoryA(previous);
    EXPECT_FALSE(DirectoryExists(base + "\\Doduza"));
    EXPECT_FALSE(DirectoryExists(base + "\\DoduzaOnTheDrive"));
    EXPECT_FALSE(DirectoryExists("c:\\DoduzaAtTheRoot"));
}

TEST_F(Toolkit, ChooserKeepsTheSeparatorOfADriveRoot)
{
    // "c:" without its "\" is the current folder of drive C, not its root.
    for (const std::string typed : {"c:\\", "C:\\", "c:\\\\"}) {
        std::string folder = "c:\\windows";
        TScriptedTimer timer({[&] {
                                  TSelectDirDlg* dialog = OpenChooser();
                                  ASSERT_NE(dialog, nullptr);
                                  dialog->FolderEdit()->SetText(typed);
                                  dialog->OkButton()->Click();
                              },
                              [&] {
                                  // Still open: the answer was refused.
                                  if (TSelectDirDlg* dialog = OpenChooser()) dialog->CancelButton()->Click();
                              }});
        ASSERT_TRUE(SelectDirectory(folder, sdAllowCreate | sdPerformCreate | sdPrompt)) << typed;
        EXPECT_EQ(folder, typed.substr(0, 3)) << typed;
    }
    TSelectDirDlg dialog(nullptr, 0);
    dialog.SetDirectory("c:\\"); // opened at a root, it shows the root
    EXPECT_EQ(dialog.Directory(), "c:\\");
}

TEST_F(Toolkit, ChooserTypedFolderNoThenYes)
{
    const std::string base = TempFolder("typed");
    ASSERT_TRUE(ForceDirectories(base));
    const std::string wanted = base + "\\新しい\\フォルダ\\";
    std::string folder = base;
    bool captionRight = false;
    TScriptedTimer timer({
        [&] {
            TSelectDirDlg* dialog = OpenChooser();
            ASSERT_NE(dialog, nullptr);
            captionRight = dialog->Caption() == "ディレクトリの選択";
            dialog->FolderEdit()->SetText(wanted);
            Boxes.Answer(IDNO);
            dialog->OkButton()->Click();
        },
        [&] {
            TSelectDirDlg* dialog = OpenChooser();
            ASSERT_NE(dialog, nullptr); // "No" kept it open
            EXPECT_FALSE(DirectoryExists(wanted));
            Boxes.Answer(IDYES);
            dialog->OkButton()->Click();
        },
    });
    ASSERT_TRUE(SelectDirectory(folder, sdAllowCreate | sdPerformCreate | sdPrompt));
    EXPECT_TRUE(captionRight);
    EXPECT_EQ(Boxes.size(), 2u);
    EXPECT_EQ(folder, base + "\\新しい\\フォルダ"); // answered without the trailing separator
    EXPECT_TRUE(DirectoryExists(folder));
}

TEST_F(Toolkit, ChooserCancelLeavesTheFolderAlone)
{
    std::string folder = "x:\\typed by hand";
    TScriptedTimer timer({[&] {
        TSelectDirDlg* dialog = OpenChooser();
        ASSERT_NE(dialog, nullptr);
        dialog->FolderEdit()->SetText("c:\\");
        dialog->CancelButton()->Click();
    }});
    EXPECT_FALSE(SelectDirectory(folder, sdAllowCreate | sdPerformCreate | sdPrompt));
    EXPECT_EQ(folder, "x:\\typed by hand");
    EXPECT_TRUE(Boxes.empty());
}

// ---------------------------------------------------------------------------------------------
// The registry, in Wine's registry

class Registry : public Toolkit {
protected:
    void SetUp() override
    {
        Toolkit::SetUp();
        Key = "\\Software\\SetupToolkitTest\\" + std::to_string(GetCurrentProcessId());
        TRegistry cleanup;
        cleanup.SetRootKey(HKEY_LOCAL_MACHINE);
        cleanup.DeleteKey(Key);
    }
    void TearDown() override
    {
        TRegistry cleanup;
        cleanup.SetRootKey(HKEY_LOCAL_MACHINE);
        cleanup.DeleteKey(Key);
        Toolkit::TearDown();
    }
    TRegKey RawKey()
    {
        TRegKey key;
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, Key.substr(1).c_str(), 0, KEY_ALL_ACCESS, key.Put());
        return key;
    }
    std::string Key;
};

TEST_F(Registry, AbsentKeyIsNotCreatedByOpening)
{
    TRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    EXPECT_EQ(reg.Access(), static_cast<REGSAM>(KEY_ALL_ACCESS));
    EXPECT_FALSE(reg.OpenKey(Key, false));
    EXPECT_FALSE(RawKey());
    EXPECT_TRUE(reg.OpenKey(Key, true));
    EXPECT_TRUE(RawKey());
}

TEST_F(Registry, WrittenStringsReadBackAndCountTheirZero)
{
    TRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey(Key, true));
    for (const std::string& value : {std::string("c:\\Program Files\\Ruviva\\VodidavorAd"), std::string("d:\\ソフト\\表\\"),
                                    std::string()}) {
        reg.WriteString("Path", value);
        EXPECT_EQ(reg.ReadString("Path"), value);
        DWORD type = 0, size = 0;
        ASSERT_EQ(RegQueryValueExA(reg.CurrentKey(), "Path", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(size, value.size() + 1);
    }
}

TEST_F(Registry, ReadingStoredData)
{
    TRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey(Key, true));
    HKEY raw = reg.CurrentKey();
    const struct {
        DWORD type;
        std::string data;
        std::string expected;
    } cases[] = {
        {REG_SZ, std::string("", 0), ""},                          // size zero
        {REG_SZ, std::string("no zero"), "no zero"},                // stored without its zero
        {REG_SZ, std::string("first\0second", 13), "first"},        // ends at the first zero
        {REG_EXPAND_SZ, std::string("%TEMP%\\x\0", 10), "%TEMP%\\x"}, // not expanded
    };
    for (const auto& c : cases) {
        ASSERT_EQ(RegSetValueExA(raw, "Path", 0, c.type, reinterpret_cast<const BYTE*>(c.data.data()),
                                 static_cast<DWORD>(c.data.size())),
                  ERROR_SUCCESS);
        EXPECT_EQ(reg.ReadString("Path"), c.expected);
    }
    EXPECT_EQ(reg.ReadString("Missing"), "");
    EXPECT_FALSE(reg.ValueExists("Missing"));
    const DWORD number = 7;
    RegSetValueExA(raw, "Path", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number));
    try {
        reg.ReadString("Path");
        FAIL() << "a number read as a string";
    } catch (const ERegistryException& e) {
        EXPECT_EQ(e.Message(), "'Path' \x82\xCC\x83\x66\x81\x5B\x83\x5E\x8C\x5E\x82\xAA\x95\x73\x90\xB3\x82\xC5\x82\xB7");
    }
}

TEST_F(Registry, DataTypes)
{
    TRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey(Key, true));
    const std::pair<DWORD, TRegDataType> cases[] = {
        {REG_SZ, TRegDataType::rdString},    {REG_EXPAND_SZ, TRegDataType::rdExpandString}, {REG_DWORD, TRegDataType::rdInteger},
        {REG_BINARY, TRegDataType::rdBinary}, {REG_MULTI_SZ, TRegDataType::rdUnknown},      {REG_NONE, TRegDataType::rdUnknown}};
    for (const auto& [type, expected] : cases) {
        ASSERT_EQ(RegSetValueExA(reg.CurrentKey(), "v", 0, type, reinterpret_cast<const BYTE*>("abcd"), 4), ERROR_SUCCESS);
        EXPECT_EQ(reg.GetDataType("v"), expected) << type;
    }
    EXPECT_EQ(reg.GetDataType("missing"), TRegDataType::rdUnknown);
}

TEST_F(Registry, PathsFromTheRootOrTheOpenKey)
{
    TRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey(Key, true));
    ASSERT_TRUE(reg.OpenKey("child", true)); // below the open key
    reg.WriteString("v", "1");
    TRegistry check;
    check.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(check.OpenKey(Key + "\\child", false));
    EXPECT_EQ(check.ReadString("v"), "1");
    EXPECT_FALSE(check.OpenKey("\\child", false)); // from the root: no such key
    EXPECT_EQ(check.ReadString("v"), "1");         // a failed open keeps the open key
}

TEST_F(Registry, FailedWriteRaisesTheToolkitsText)
{
    {
        TRegistry create;
        create.SetRootKey(HKEY_LOCAL_MACHINE);
        ASSERT_TRUE(create.OpenKey(Key, true));
    }
    TRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    reg.SetAccess(KEY_READ);
    ASSERT_TRUE(reg.OpenKey(Key, false));
    try {
        reg.WriteString("Path", "c:\\x");
        FAIL() << "write through a read-only key";
    } catch (const ERegistryException& e) {
        EXPECT_EQ(e.Message(), "'Path' \x82\xCC\x90\xDD\x92\xE8\x82\xC9\x8E\xB8\x94\x73\x82\xB5\x82\xDC\x82\xB5\x82\xBD");
    }
}

// ---------------------------------------------------------------------------------------------
// Resource streams

TEST(ResourceStream, ReadsSeeksAndSavesTheBytes)
{
    const std::string expected("resource\0bytes\x5c\x83\x5c end", 21);
    TResourceStream stream(GetModuleHandleA(nullptr), "testbytes", "testdata"); // case ignored
    ASSERT_EQ(stream.Size(), static_cast<int64_t>(expected.size()));
    std::string got(expected.size(), '\0');
    EXPECT_EQ(stream.Read(got.data(), 100), static_cast<int32_t>(expected.size()));
    EXPECT_EQ(got, expected);
    EXPECT_EQ(stream.Read(got.data(), 1), 0);
    EXPECT_EQ(stream.Seek(-3, soFromEnd), static_cast<int64_t>(expected.size()) - 3);
    char tail[3];
    EXPECT_EQ(stream.Read(tail, 3), 3);
    EXPECT_EQ(std::string(tail, 3), "end");
    EXPECT_THROW(stream.Write("x", 1), EStreamError);

    // Saving overwrites a longer file completely.
    const std::string path = TempFolder("saved.bin");
    {
        std::ofstream longer(path, std::ios::binary);
        longer << std::string(1000, 'z');
    }
    stream.SaveToFile(path);
    std::ifstream in(path, std::ios::binary);
    const std::string saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(saved, expected);
    EXPECT_THROW(stream.SaveToFile(TempFolder("missing") + "\\sub\\file.bin"), EFCreateError);
}

TEST(ResourceStream, MissingResourceRaises)
{
    EXPECT_THROW(TResourceStream(GetModuleHandleA(nullptr), "davareduravu", "smz"), EResNotFound);
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

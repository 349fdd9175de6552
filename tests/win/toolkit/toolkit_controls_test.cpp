// The controls under Wine: progress scaling, texts, notifications and tab order, and what a dialog
// form of the program is made of (frames, placement, the OK button, caption boxes, the input
// method per box, bevels, fonts and colours).
#include "ToolkitWinTest.h"

namespace {

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

} // namespace

#include "toolkit/win/InputControls.h"

#include "toolkit/SysUtils.h"

namespace {

const TItemsControl::TItemMessages ComboMessages{CB_ADDSTRING,   CB_RESETCONTENT, CB_GETCOUNT, CB_GETLBTEXTLEN,
                                                 CB_GETLBTEXT,   CB_GETCURSEL,    CB_SETCURSEL, CB_ERR};
const TItemsControl::TItemMessages ListMessages{LB_ADDSTRING, LB_RESETCONTENT, LB_GETCOUNT,  LB_GETTEXTLEN,
                                                LB_GETTEXT,   LB_GETCURSEL,    LB_SETCURSEL, LB_ERR};

} // namespace

// ---------------------------------------------------------------------------------------------
// TEdit

TEdit::TEdit(TComponent* AOwner, TWinControl* AParent) : TWinControl(AOwner, AParent)
{
    FColor = clWindow;
    FParentColor = false;
    FTabStop = true;
    CreateHandle("EDIT", WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, ParentHandle(), false);
}

void TEdit::SetReadOnly(bool Value)
{
    FReadOnly = Value;
    SendMessageA(Handle(), EM_SETREADONLY, Value ? TRUE : FALSE, 0);
}

void TEdit::SetImeMode(TImeMode Value)
{
    FImeMode = Value;
    if (Focused()) {
        ApplyImeMode();
    }
}

void TEdit::ApplyImeMode()
{
    if (FImeMode == TImeMode::imeDontCare) {
        return;
    }
    // Without an input method (or with it disabled for this window) there is nothing to switch.
    const TInputContext context(Handle());
    if (context) {
        ImmSetOpenStatus(context.Get(), FImeMode == TImeMode::imeOpen ? TRUE : FALSE);
    }
}

void TEdit::CommandNotify(WORD Code)
{
    if (Code == EN_SETFOCUS) {
        ApplyImeMode();
    } else if (Code == EN_CHANGE && OnChange) {
        OnChange(this);
    }
}

// ---------------------------------------------------------------------------------------------
// TItemsControl

void TItemsControl::AddItem(const std::string& Item)
{
    SendMessageA(Handle(), FMessages.Add, 0, reinterpret_cast<LPARAM>(Item.c_str()));
}

void TItemsControl::ClearItems()
{
    SendMessageA(Handle(), FMessages.Reset, 0, 0);
}

int TItemsControl::ItemCount() const
{
    return static_cast<int>(SendMessageA(Handle(), FMessages.Count, 0, 0));
}

std::string TItemsControl::Item(int Index) const
{
    const LRESULT length = SendMessageA(Handle(), FMessages.TextLength, static_cast<WPARAM>(Index), 0);
    if (length == FMessages.Error) {
        throw EListError("List index out of bounds (" + IntToStr(Index) + ")");
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    SendMessageA(Handle(), FMessages.Text, static_cast<WPARAM>(Index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    return text;
}

int TItemsControl::ItemIndex() const
{
    return static_cast<int>(SendMessageA(Handle(), FMessages.GetSelection, 0, 0));
}

void TItemsControl::SetItemIndex(int Value)
{
    SendMessageA(Handle(), FMessages.SetSelection, static_cast<WPARAM>(Value), 0);
}

// ---------------------------------------------------------------------------------------------
// TComboBox

TComboBox::TComboBox(TComponent* AOwner, TWinControl* AParent) : TItemsControl(AOwner, AParent, ComboMessages)
{
    FColor = clWindow;
    FParentColor = false;
    FTabStop = true;
    CreateHandle("COMBOBOX", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL, 0,
                 ParentHandle(), false);
}

void TComboBox::SetBounds(int ALeft, int ATop, int AWidth, int AHeight)
{
    // The window's height includes the dropped-down list; the edit part sizes itself.
    TWinControl::SetBounds(ALeft, ATop, AWidth, AHeight);
    if (Handle() != nullptr) {
        MoveWindow(Handle(), ALeft, ATop, AWidth, AHeight + 160, TRUE);
    }
    FitHeight();
}

void TComboBox::SetFont(const TFont& Value)
{
    TWinControl::SetFont(Value);
    FitHeight();
}

void TComboBox::ParentFontChanged()
{
    TWinControl::ParentFontChanged();
    FitHeight();
}

void TComboBox::FitHeight()
{
    if (Handle() == nullptr || FHeight <= 0) {
        return;
    }
    // The closed box is the selection field and a frame; only the field can be sized. Some
    // systems report the field higher than it was set, so the frame is measured from a height
    // set here rather than from the one reported.
    const auto closedHeight = [this] {
        RECT r;
        GetWindowRect(Handle(), &r);
        return static_cast<int>(r.bottom - r.top);
    };
    const LRESULT field = SendMessageA(Handle(), CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
    if (field == CB_ERR || closedHeight() == FHeight) {
        return;
    }
    SendMessageA(Handle(), CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), field);
    const int frame = closedHeight() - static_cast<int>(field);
    if (FHeight > frame) {
        SendMessageA(Handle(), CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), FHeight - frame);
    }
}

void TComboBox::CommandNotify(WORD Code)
{
    if ((Code == CBN_SELCHANGE || Code == CBN_EDITCHANGE) && OnChange) {
        OnChange(this);
    }
}

// ---------------------------------------------------------------------------------------------
// TListBox

TListBox::TListBox(TComponent* AOwner, TWinControl* AParent) : TItemsControl(AOwner, AParent, ListMessages)
{
    FColor = clWindow;
    FParentColor = false;
    FTabStop = true;
    CreateHandle("LISTBOX", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT,
                 WS_EX_CLIENTEDGE, ParentHandle(), false);
}

void TListBox::CommandNotify(WORD Code)
{
    if (Code == LBN_DBLCLK && OnDblClick) {
        OnDblClick(this);
    }
}

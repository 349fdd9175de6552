#include "InputControls.h"

#include "SysUtils.h"

namespace {

// The text of item Index of a combo box or list box, by that control's own length and text
// messages; an index outside the list raises.
std::string ListItemText(HWND Handle, UINT LengthMessage, UINT TextMessage, LRESULT Error, int Index)
{
    const LRESULT length = SendMessageA(Handle, LengthMessage, static_cast<WPARAM>(Index), 0);
    if (length == Error) {
        throw EListError("List index out of bounds (" + IntToStr(Index) + ")");
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    SendMessageA(Handle, TextMessage, static_cast<WPARAM>(Index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    return text;
}

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
// TComboBox

TComboBox::TComboBox(TComponent* AOwner, TWinControl* AParent) : TWinControl(AOwner, AParent)
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

void TComboBox::AddItem(const std::string& Item)
{
    SendMessageA(Handle(), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Item.c_str()));
}

void TComboBox::ClearItems()
{
    SendMessageA(Handle(), CB_RESETCONTENT, 0, 0);
}

int TComboBox::ItemCount() const
{
    return static_cast<int>(SendMessageA(Handle(), CB_GETCOUNT, 0, 0));
}

std::string TComboBox::Item(int Index) const
{
    return ListItemText(Handle(), CB_GETLBTEXTLEN, CB_GETLBTEXT, CB_ERR, Index);
}

int TComboBox::ItemIndex() const
{
    return static_cast<int>(SendMessageA(Handle(), CB_GETCURSEL, 0, 0));
}

void TComboBox::SetItemIndex(int Value)
{
    SendMessageA(Handle(), CB_SETCURSEL, static_cast<WPARAM>(Value), 0);
}

void TComboBox::CommandNotify(WORD Code)
{
    if ((Code == CBN_SELCHANGE || Code == CBN_EDITCHANGE) && OnChange) {
        OnChange(this);
    }
}

// ---------------------------------------------------------------------------------------------
// TListBox

TListBox::TListBox(TComponent* AOwner, TWinControl* AParent) : TWinControl(AOwner, AParent)
{
    FColor = clWindow;
    FParentColor = false;
    FTabStop = true;
    CreateHandle("LISTBOX", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT,
                 WS_EX_CLIENTEDGE, ParentHandle(), false);
}

void TListBox::AddItem(const std::string& Item)
{
    SendMessageA(Handle(), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Item.c_str()));
}

void TListBox::ClearItems()
{
    SendMessageA(Handle(), LB_RESETCONTENT, 0, 0);
}

int TListBox::ItemCount() const
{
    return static_cast<int>(SendMessageA(Handle(), LB_GETCOUNT, 0, 0));
}

std::string TListBox::Item(int Index) const
{
    return ListItemText(Handle(), LB_GETTEXTLEN, LB_GETTEXT, LB_ERR, Index);
}

int TListBox::ItemIndex() const
{
    return static_cast<int>(SendMessageA(Handle(), LB_GETCURSEL, 0, 0));
}

void TListBox::SetItemIndex(int Value)
{
    SendMessageA(Handle(), LB_SETCURSEL, static_cast<WPARAM>(Value), 0);
}

void TListBox::CommandNotify(WORD Code)
{
    if (Code == LBN_DBLCLK && OnDblClick) {
        OnDblClick(this);
    }
}

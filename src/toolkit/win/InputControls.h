// The controls that take typing or a choice: edit box, combo box, list box.
#pragma once

#include <string>

#include "toolkit/win/Control.h"

// The input method's state an edit box asks for when it gets the focus.
enum class TImeMode { imeDontCare, imeOpen, imeClose };

class TEdit : public TWinControl {
public:
    TEdit(TComponent* AOwner, TWinControl* AParent);
    std::string Text() const { return Caption(); }
    void SetText(const std::string& Value) { SetCaption(Value); }
    // A read-only box still takes the focus on a click; a "caption box" also leaves the tab order
    // (SetTabStop(false)) and gets its own colour and font colour.
    bool ReadOnly() const noexcept { return FReadOnly; }
    void SetReadOnly(bool Value);
    // imeOpen switches the input method on, imeClose off, each time the box gets the focus (and
    // at once when it has it); imeDontCare leaves it as the user left it.
    TImeMode ImeMode() const noexcept { return FImeMode; }
    void SetImeMode(TImeMode Value);
    void CommandNotify(WORD Code) override;
    TNotifyEvent OnChange;

private:
    void ApplyImeMode();
    bool FReadOnly = false;
    TImeMode FImeMode = TImeMode::imeDontCare;
};

// The item list shared by the combo box and the list box; the two differ only in the message
// numbers their windows take.
class TItemsControl : public TWinControl {
public:
    void AddItem(const std::string& Item);
    void ClearItems();
    int ItemCount() const;
    // An index outside the list raises EListError.
    std::string Item(int Index) const;
    // -1 when no item is selected.
    int ItemIndex() const;
    void SetItemIndex(int Value);

    struct TItemMessages {
        UINT Add, Reset, Count, TextLength, Text, GetSelection, SetSelection;
        LRESULT Error;
    };

protected:
    TItemsControl(TComponent* AOwner, TWinControl* AParent, const TItemMessages& Messages)
        : TWinControl(AOwner, AParent), FMessages(Messages)
    {
    }

private:
    const TItemMessages& FMessages;
};

// A drop-down combo box whose edit part accepts typing. Closed, it is as high as its bounds say,
// whatever its font: the selection field is sized to fit.
class TComboBox : public TItemsControl {
public:
    TComboBox(TComponent* AOwner, TWinControl* AParent);
    // Typing into the edit part selects no item (ItemIndex -1).
    std::string Text() const { return Caption(); }
    void SetText(const std::string& Value) { SetCaption(Value); }
    void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;
    void SetFont(const TFont& Value) override;
    void CommandNotify(WORD Code) override;
    TNotifyEvent OnChange;

protected:
    void ParentFontChanged() override;

private:
    // A new font sizes the selection field anew; the closed box is brought back to Height.
    void FitHeight();
};

class TListBox : public TItemsControl {
public:
    TListBox(TComponent* AOwner, TWinControl* AParent);
    void CommandNotify(WORD Code) override;
    TNotifyEvent OnDblClick;
};

// TForm: a top-level window of the program, with its modal loop and the dialog keys (Tab,
// Enter for the default button, Escape in a modal loop).
#pragma once

#include <functional>

#include "toolkit/win/Control.h"

class TButton;

enum class TBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog };
enum class TFormStyle { fsNormal, fsStayOnTop };
enum class TPosition { poDesigned, poScreenCenter, poMainFormCenter, poOwnerFormCenter };
enum class TCloseAction { caNone, caHide, caFree, caMinimize };
enum TBorderIcon : unsigned { biSystemMenu = 1, biMinimize = 2, biMaximize = 4 };

using TCloseEvent = std::function<void(TObject* Sender, TCloseAction& Action)>;

// A form creates its (hidden) window in its constructor. Every form's window is owned by the
// application window (Application.h), which alone has a taskbar button.
class TForm : public TWinControl {
public:
    explicit TForm(TComponent* AOwner);
    ~TForm() override;

    // bsSingle without border icons is a fixed frame with a caption and no buttons on it.
    void SetBorderStyle(TBorderStyle Value);
    void SetBorderIcons(unsigned Value);
    // fsStayOnTop keeps the window above every window that is not itself on top.
    void SetFormStyle(TFormStyle Value);
    // Where the window is put each time it is shown: poOwnerFormCenter centres it on the form
    // that owns it (else as poMainFormCenter), poMainFormCenter on the main form (else as
    // poScreenCenter); a form to centre on counts only while it is visible.
    TPosition Position() const noexcept { return FPosition; }
    void SetPosition(TPosition Value) { FPosition = Value; }
    // Outer size (SetBounds) or client size.
    void SetClientSize(int AWidth, int AHeight);
    int ClientWidth() const;
    int ClientHeight() const;

    // Showing runs OnShow before the window appears; an exception from it reaches the caller.
    void Show();
    void Hide();
    void SetVisible(bool Value) override;
    // Runs OnClose and hides the window as the handler says (caHide, the default; caMinimize;
    // caNone keeps it); the main form's closing ends the message loop. caFree is refused with
    // an exception and the window stays: a form is never freed from its own handlers, while
    // pointers to it are still held. Inside ShowModal it ends the modal loop with mrCancel.
    void Close();
    // Runs a modal loop with the other windows of the program disabled; returns ModalResult.
    int ShowModal();
    int ModalResult() const noexcept { return FModalResult; }
    void SetModalResult(int Value) { FModalResult = Value; }
    bool Modal() const noexcept { return FModal; }
    // Repaints the window's invalid parts now, children included, dispatching nothing else.
    void Update();

    TWinControl* ActiveControl() const noexcept { return FActiveControl; }
    void SetActiveControl(TWinControl* Control);
    // The visible button marked Default, searched through the panels too; null if none.
    TButton* DefaultButton() const;

    TNotifyEvent OnCreate;
    TNotifyEvent OnShow;
    TCloseEvent OnClose;

    // Called by TApplication::CreateForm once the form is fully constructed.
    void DoCreate();

protected:
    LRESULT WndProc(UINT Msg, WPARAM wParam, LPARAM lParam) override;

private:
    void ApplyStyle();
    void PlaceForShowing();
    TBorderStyle FBorderStyle = TBorderStyle::bsSizeable;
    unsigned FBorderIcons = biSystemMenu | biMinimize | biMaximize;
    TFormStyle FFormStyle = TFormStyle::fsNormal;
    TPosition FPosition = TPosition::poDesigned;
    TWinControl* FActiveControl = nullptr;
    HWND FLastFocus = nullptr;
    int FModalResult = mrNone;
    bool FModal = false;
};

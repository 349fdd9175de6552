// The GUI layer: the application object, forms and the controls the program's windows use,
// message boxes and the folder chooser. Win32 only (A functions, code page 932 texts).
//
// Window handles are created eagerly: a form creates its (hidden) window in its constructor and
// a windowed control creates its window when it is constructed with its parent. Every object is
// owned by the component passed as owner; a control's parent is only where it is shown.
#pragma once

#include "Win.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"
#include "Handles.h"

// ---------------------------------------------------------------------------------------------
// Message boxes. Every modal message box of the program goes through MessageBoxFunc, so that an
// in-process test can read the text and caption and give the answer. Its default shows a real
// MessageBoxA and returns the identifier of the button pressed.

using TMessageBoxFunc = int (*)(HWND Owner, const std::string& Text, const std::string& Caption, UINT Flags);
int SystemMessageBox(HWND Owner, const std::string& Text, const std::string& Caption, UINT Flags);
extern TMessageBoxFunc MessageBoxFunc;

// The text an escaped exception is shown with: "." is appended unless the text is empty or its
// last character (a double-byte character counts as one) sorts at or before ".".
std::string ExceptionDisplayText(const std::string& Message);

// A progress bar's range is kept within 16 bits so that any common-controls version draws it;
// larger ranges are scaled. ScaledRange gives the bar's maximum for a logical maximum, and
// ScaledPosition the bar's position for a logical position (clamped into 0..Max).
constexpr int ProgressBarLimit = 0xFFFF;
int ScaledRange(int64_t Max) noexcept;
int ScaledPosition(int64_t Position, int64_t Max) noexcept;

// ---------------------------------------------------------------------------------------------
// Fonts and colours.

constexpr COLORREF clBlack = RGB(0, 0, 0);
constexpr COLORREF clWhite = RGB(255, 255, 255);
constexpr COLORREF clBlue = RGB(0, 0, 255);
constexpr COLORREF clTeal = RGB(0, 128, 128);
// The system's colours, resolved when drawn.
constexpr COLORREF clBtnFace = 0x80000000u | COLOR_BTNFACE;
constexpr COLORREF clWindow = 0x80000000u | COLOR_WINDOW;
constexpr COLORREF clWindowText = 0x80000000u | COLOR_WINDOWTEXT;
COLORREF ColorToRGB(COLORREF Color) noexcept;

// A font by face name and character height in pixels (96 DPI), Shift_JIS character set.
struct TFont {
    std::string Name = "ＭＳ Ｐゴシック";
    int Height = 12;
    bool Bold = false;
    COLORREF Color = clWindowText;
    BYTE Charset = SHIFTJIS_CHARSET;

    TFontHandle CreateHandle() const;
};

// ---------------------------------------------------------------------------------------------
// Controls.

class TWinControl;

class TControl : public TComponent {
public:
    explicit TControl(TComponent* AOwner);
    ~TControl() override;

    TWinControl* Parent() const noexcept { return FParent; }
    virtual void SetParent(TWinControl* AParent);

    int Left() const noexcept { return FLeft; }
    int Top() const noexcept { return FTop; }
    int Width() const noexcept { return FWidth; }
    int Height() const noexcept { return FHeight; }
    virtual void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);

    bool Visible() const noexcept { return FVisible; }
    virtual void SetVisible(bool Value);
    virtual bool Enabled() const noexcept { return FEnabled; }
    virtual void SetEnabled(bool Value);

    virtual std::string Caption() const { return FCaption; }
    virtual void SetCaption(const std::string& Value);

    const TFont& Font() const noexcept { return FFont; }
    virtual void SetFont(const TFont& Value);
    // Clear colour means "the parent's"; see EffectiveColor.
    COLORREF Color() const noexcept { return FColor; }
    virtual void SetColor(COLORREF Value);
    bool ParentColor() const noexcept { return FParentColor; }
    COLORREF EffectiveColor() const noexcept;

    // Graphic (windowless) controls draw themselves onto their parent.
    virtual bool IsWindowed() const noexcept { return false; }
    virtual void Paint(HDC) {}
    void Invalidate();

protected:
    friend class TWinControl;
    // The parent changed its font: a control that follows its parent's font takes it over.
    virtual void ParentFontChanged();
    bool FParentFont = true;

    TWinControl* FParent = nullptr;
    int FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;
    bool FVisible = true;
    bool FEnabled = true;
    std::string FCaption;
    TFont FFont;
    COLORREF FColor = clBtnFace;
    bool FParentColor = true;
};

// One window-procedure base for every window the toolkit creates from its own classes; it
// stores `this` at WM_NCCREATE. Standard controls (buttons, edits ...) keep their own window
// procedure: their parent reflects WM_COMMAND, WM_NOTIFY and WM_CTLCOLOR* to the control's
// object. An exception that escapes a handler is shown by the application and swallowed there,
// never unwound through the system's frames.
class TWinControl : public TControl {
public:
    explicit TWinControl(TComponent* AOwner);
    ~TWinControl() override;

    HWND Handle() const noexcept { return FHandle; }
    bool IsWindowed() const noexcept override { return true; }
    void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;
    void SetVisible(bool Value) override;
    void SetEnabled(bool Value) override;
    void SetCaption(const std::string& Value) override;
    std::string Caption() const override;
    void SetFont(const TFont& Value) override;
    void SetColor(COLORREF Value) override;
    bool TabStop() const noexcept { return FTabStop; }
    void SetTabStop(bool Value);
    bool Focused() const noexcept;
    void SetFocus();
    // Moves the control to place Index (0 first) in its parent's tab order, which is the order
    // of the sibling windows; controls are first in the order they were created.
    void SetTabOrder(int Index);

    int ControlCount() const noexcept { return static_cast<int>(FControls.size()); }
    TControl* Controls(int Index) const { return FControls.at(static_cast<std::size_t>(Index)); }

    // The object behind a window created by this toolkit, or null.
    static TWinControl* FromHandle(HWND Window) noexcept;

    // Reflected notifications from the parent. Code is the notification code of WM_COMMAND.
    virtual void CommandNotify(WORD Code);
    virtual LRESULT Notify(NMHDR*) { return 0; }
    // WM_CTLCOLOR* for this control; returns the brush, or null for the default.
    virtual HBRUSH CtlColor(HDC DC);

protected:
    friend class TControl;
    // Creates the window. Own classes are registered on first use and run through WndProc.
    void CreateHandle(const char* ClassName, DWORD Style, DWORD ExStyle, HWND ParentWindow, bool OwnClass);
    virtual LRESULT WndProc(UINT Msg, WPARAM wParam, LPARAM lParam);
    LRESULT DefaultHandler(UINT Msg, WPARAM wParam, LPARAM lParam);
    void ParentFontChanged() override;
    void ApplyFont();
    void PaintGraphicChildren(HDC DC);
    void AddControl(TControl* Control);
    void RemoveControl(TControl* Control) noexcept;
    // The brush of this control's effective colour (created on demand, kept until it changes).
    HBRUSH ColorBrush();

    HWND FHandle = nullptr;
    bool FOwnClass = false;
    bool FTabStop = false;
    std::vector<TControl*> FControls;
    TFontHandle FFontHandle;
    TBrushHandle FBrush;
    COLORREF FBrushColor = CLR_INVALID;

private:
    static LRESULT CALLBACK StdWndProc(HWND Window, UINT Msg, WPARAM wParam, LPARAM lParam);
};

// A windowless text, drawn transparently onto its parent unless Transparent is off.
class TLabel : public TControl {
public:
    explicit TLabel(TComponent* AOwner);
    void SetCaption(const std::string& Value) override;
    void SetFont(const TFont& Value) override;
    void Paint(HDC DC) override;

    bool AutoSize() const noexcept { return FAutoSize; }
    void SetAutoSize(bool Value);
    bool WordWrap() const noexcept { return FWordWrap; }
    void SetWordWrap(bool Value);
    bool Transparent() const noexcept { return FTransparent; }
    void SetTransparent(bool Value);

protected:
    void ParentFontChanged() override;

private:
    void AdjustSize();
    bool FAutoSize = true;
    bool FWordWrap = false;
    bool FTransparent = true;
};

// A windowless picture (a device-dependent bitmap from a resource).
class TImage : public TControl {
public:
    explicit TImage(TComponent* AOwner);
    // Loads a bitmap resource of Instance; false when it is not there.
    bool LoadFromResourceName(HINSTANCE Instance, const std::string& Name);
    bool AutoSize() const noexcept { return FAutoSize; }
    void SetAutoSize(bool Value) { FAutoSize = Value; }
    int PictureWidth() const noexcept { return FPictureWidth; }
    int PictureHeight() const noexcept { return FPictureHeight; }
    void Paint(HDC DC) override;

private:
    TBitmapHandle FBitmap;
    int FPictureWidth = 0, FPictureHeight = 0;
    bool FAutoSize = true;
};

class TButtonControl : public TWinControl {
public:
    using TWinControl::TWinControl;
    void CommandNotify(WORD Code) override;
    // What a user's click does: raises OnClick (through the parent, as the system would).
    void Click();
    TNotifyEvent OnClick;
};

class TButton : public TButtonControl {
public:
    TButton(TComponent* AOwner, TWinControl* AParent);
    // The default button is pressed by Enter anywhere in its form.
    bool Default() const noexcept { return FDefault; }
    void SetDefault(bool Value);
    int ModalResult() const noexcept { return FModalResult; }
    void SetModalResult(int Value) { FModalResult = Value; }
    void CommandNotify(WORD Code) override;

private:
    bool FDefault = false;
    int FModalResult = 0;
};

// A button that holds a checked state: the check box and the radio button.
class TCheckableButton : public TButtonControl {
public:
    bool Checked() const;
    virtual void SetChecked(bool Value);
    HBRUSH CtlColor(HDC DC) override;

protected:
    TCheckableButton(TComponent* AOwner, TWinControl* AParent, DWORD ButtonStyle);
};

class TCheckBox : public TCheckableButton {
public:
    TCheckBox(TComponent* AOwner, TWinControl* AParent);
};

// Radio buttons sharing a parent form one group.
class TRadioButton : public TCheckableButton {
public:
    TRadioButton(TComponent* AOwner, TWinControl* AParent);
    void SetChecked(bool Value) override;
};

class TEdit : public TWinControl {
public:
    TEdit(TComponent* AOwner, TWinControl* AParent);
    std::string Text() const { return Caption(); }
    void SetText(const std::string& Value) { SetCaption(Value); }
    bool ReadOnly() const noexcept { return FReadOnly; }
    void SetReadOnly(bool Value);
    HBRUSH CtlColor(HDC DC) override;
    void CommandNotify(WORD Code) override;
    TNotifyEvent OnChange;

private:
    bool FReadOnly = false;
};

// A drop-down combo box whose edit part accepts typing.
class TComboBox : public TWinControl {
public:
    TComboBox(TComponent* AOwner, TWinControl* AParent);
    void AddItem(const std::string& Item);
    void ClearItems();
    int ItemCount() const;
    std::string Item(int Index) const;
    // -1 when no item is selected (typing into the edit part selects none).
    int ItemIndex() const;
    void SetItemIndex(int Value);
    std::string Text() const { return Caption(); }
    void SetText(const std::string& Value) { SetCaption(Value); }
    void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;
    void CommandNotify(WORD Code) override;
    TNotifyEvent OnChange;
};

class TListBox : public TWinControl {
public:
    TListBox(TComponent* AOwner, TWinControl* AParent);
    void AddItem(const std::string& Item);
    void ClearItems();
    int ItemCount() const;
    std::string Item(int Index) const;
    int ItemIndex() const;
    void SetItemIndex(int Value);
    void CommandNotify(WORD Code) override;
    TNotifyEvent OnDblClick;
};

enum class TBevelCut { bvNone, bvLowered, bvRaised };

// A container with optional bevels; it hosts controls and forwards their notifications.
class TPanel : public TWinControl {
public:
    TPanel(TComponent* AOwner, TWinControl* AParent);
    void SetBevelInner(TBevelCut Value);
    void SetBevelOuter(TBevelCut Value);
    void Paint(HDC DC) override;

private:
    TBevelCut FBevelInner = TBevelCut::bvNone;
    TBevelCut FBevelOuter = TBevelCut::bvRaised;
};

// A status line at the bottom of its parent, showing one simple text.
class TStatusBar : public TWinControl {
public:
    TStatusBar(TComponent* AOwner, TWinControl* AParent);
    const std::string& SimpleText() const noexcept { return FSimpleText; }
    void SetSimpleText(const std::string& Value);

private:
    std::string FSimpleText;
};

// Max and Position are logical values of any size; the bar itself is scaled (see ScaledRange).
class TProgressBar : public TWinControl {
public:
    TProgressBar(TComponent* AOwner, TWinControl* AParent);
    int64_t Min() const noexcept { return FMin; }
    int64_t Max() const noexcept { return FMax; }
    int64_t Position() const noexcept { return FPosition; }
    void SetMax(int64_t Value);
    void SetPosition(int64_t Value);
    void SetStep(int Value);
    void SetSmooth(bool Value);

private:
    void Apply();
    int64_t FMin = 0, FMax = 100, FPosition = 0;
};

// ---------------------------------------------------------------------------------------------
// Forms.

enum class TBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog };
enum class TFormStyle { fsNormal, fsStayOnTop };
enum class TPosition { poDesigned, poScreenCenter, poMainFormCenter, poOwnerFormCenter };
enum class TCloseAction { caNone, caHide, caFree, caMinimize };
enum TBorderIcon : unsigned { biSystemMenu = 1, biMinimize = 2, biMaximize = 4 };

constexpr int mrNone = 0;
constexpr int mrOk = IDOK;
constexpr int mrCancel = IDCANCEL;

using TCloseEvent = std::function<void(TObject* Sender, TCloseAction& Action)>;

class TForm : public TWinControl {
public:
    explicit TForm(TComponent* AOwner);
    ~TForm() override;

    void SetBorderStyle(TBorderStyle Value);
    void SetBorderIcons(unsigned Value);
    void SetFormStyle(TFormStyle Value);
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
    // Runs OnClose and hides the window unless the handler says caNone; the main form's closing
    // ends the message loop. Inside ShowModal it ends the modal loop with mrCancel instead.
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
    bool FShownOnce = false;
};

// ---------------------------------------------------------------------------------------------
// The application object.

class TApplication : public TComponent {
public:
    TApplication();
    ~TApplication() override;

    // Creates the application window: the owner of every form and of the socket layer's
    // notification windows, and the program's taskbar button. It has no size, carries the title
    // as its caption and is shown while the main form is; the forms, being owned, get no button.
    void Initialize();
    HWND Handle();
    HINSTANCE Instance() const noexcept;

    const std::string& Title() const noexcept { return FTitle; }
    void SetTitle(const std::string& Value);

    // Creates a form owned by the application and stores it in Reference before its OnCreate
    // runs; the first form created becomes the main form.
    template <typename T>
    void CreateForm(T*& Reference)
    {
        T* form = new T(this);
        Reference = form;
        if (FMainForm == nullptr) {
            FMainForm = form;
        }
        form->DoCreate();
    }
    TForm* MainForm() const noexcept { return FMainForm; }
    void FormDestroyed(TForm* Form) noexcept;

    // Shows the main form and dispatches messages until the main form closes (or Terminate).
    void Run();
    // Dispatches every message already waiting and returns; for waits that must keep the
    // program alive (network operations, timers). Sets Terminated when WM_QUIT arrives.
    void ProcessMessages();
    // Waits for one message and dispatches it; false once WM_QUIT has been seen.
    bool HandleMessage();
    void Terminate();
    bool Terminated() const noexcept { return FTerminated; }
    // Minimising the main form minimises the program: its windows are hidden behind the taskbar
    // button until it is restored.
    void Minimize();
    void Restore();

    // A modal message box owned by the active window; returns the button's identifier.
    int MessageBox(const std::string& Text, const std::string& Caption, UINT Flags);
    // The display of an exception that escaped an event handler: stop icon, the title as caption.
    void ShowException(const std::exception& E);
    void HandleException(const std::exception& E) { ShowException(E); }

private:
    friend class TForm;
    static LRESULT CALLBACK AppWndProc(HWND Window, UINT Msg, WPARAM wParam, LPARAM lParam);
    LRESULT WndProc(UINT Msg, WPARAM wParam, LPARAM lParam);
    // The taskbar button follows the main form's visibility.
    void MainFormVisibility(bool Visible);
    // Passes the activation from the application window to the form last active, else the
    // main form, when it is shown and enabled.
    void ActivateForm();
    bool Dispatch(MSG& Msg);
    std::string FTitle;
    TForm* FMainForm = nullptr;
    HWND FHandle = nullptr;
    bool FTerminated = false;
};

extern TApplication* Application;

// A modal message with one OK button, the application title as caption.
void ShowMessage(const std::string& Text);

// ---------------------------------------------------------------------------------------------
// The folder chooser.

enum TSelectDirOpt : unsigned {
    sdAllowCreate = 1,   // a folder that does not exist may be typed
    sdPerformCreate = 2, // an accepted folder that does not exist is created (outcome ignored)
    sdPrompt = 4,        // ask before accepting a folder that does not exist
};

// A modal dialog with the folder text, the subfolders of the folder shown, OK and Cancel.
class TSelectDirDlg : public TForm {
public:
    TSelectDirDlg(TComponent* AOwner, unsigned Options);
    // Shows the folder's subfolders and puts it into the folder text.
    void SetDirectory(const std::string& Folder);
    std::string Directory() const { return FEdit->Text(); }
    // The OK decision for a folder text: whether the dialog may close with it. Asks the create
    // question and creates the folder as the options say.
    bool CanAccept(const std::string& Folder);

    TEdit* FolderEdit() const noexcept { return FEdit; }
    TListBox* FolderList() const noexcept { return FList; }
    TButton* OkButton() const noexcept { return FOk; }
    TButton* CancelButton() const noexcept { return FCancel; }

private:
    void OkClick(TObject*);
    void ListDblClick(TObject*);
    unsigned FOptions;
    std::string FShown; // the folder whose subfolders are listed ("" lists the drives)
    TLabel* FLabel;
    TEdit* FEdit;
    TListBox* FList;
    TButton* FOk;
    TButton* FCancel;
};

// The dialog's caption is "ディレクトリの選択". Directory is the start folder on entry and the
// accepted folder on return (true); on Cancel it is left as it was (false).
bool SelectDirectory(std::string& Directory, unsigned Options);

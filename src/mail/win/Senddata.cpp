#include "mail/win/Senddata.h"

#include <vector>

#include "toolkit/win/Application.h"
#include "toolkit/Classes.h"
#include "common/Library.h"
#include "codec/Mailconvert.h"
#include "toolkit/win/MessageBox.h"

TSendDataForm* SendDataForm = nullptr;

namespace {
const char* const STitlePlaceholder = "TITLE";
const char* const SIncompleteAddress = "メールアドレスが不完全です　再入力して下さい";
const char* const SConnecting = "サーバーに接続中です";
const char* const SConnected = "サーバーに接続しました";
const char* const SSending = "データ送信中です";
const char* const SSent = "データ送信完了";
const char* const SThanks = "御協力ありがとうございました！";
const char* const SSubject = "ユーザー登録完了メール";
const char* const SNoResponse = "サーバーが応答しません";
const char* const SConnectFailed = "接続に失敗しました　回線を確認してください";
const char* const SSendFailed = "送信に失敗しました　再度送信しますか";
const char* const SUnexpected = "予期せぬエラーが発生しました　送信を中止します";
const char* const SErrorCaption = "エラー";
const char* const SRetryCaption = "データ送信";
const char* const SContentType = "text/plain; charset=\"ISO-2022-JP\"";

TFont MakeFont(const char* Name, int Height, COLORREF Color = clWindowText, bool Bold = false)
{
    TFont font;
    font.Name = Name;
    font.Height = Height;
    font.Color = Color;
    font.Bold = Bold;
    return font;
}

std::string TodayShortDate()
{
    const int size = GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, nullptr, 0);
    if (size <= 0) {
        throw Exception("The date cannot be formatted");
    }
    std::vector<char> text(static_cast<std::size_t>(size));
    const int written = GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, text.data(), size);
    if (written <= 0) {
        throw Exception("The date cannot be formatted");
    }
    return std::string(text.data(), static_cast<std::size_t>(written - 1));
}

// Marks the send action as running for its scope; at its end the lines a FormClose left to it
// are released.
class TSendingScope {
public:
    TSendingScope(bool& Sending, bool& ReleaseLines, std::unique_ptr<TStringList>& Lines) noexcept
        : FSending(Sending), FReleaseLines(ReleaseLines), FLines(Lines)
    {
        FSending = true;
    }
    ~TSendingScope()
    {
        FSending = false;
        if (FReleaseLines) {
            FReleaseLines = false;
            FLines.reset();
        }
    }
    TSendingScope(const TSendingScope&) = delete;
    TSendingScope& operator=(const TSendingScope&) = delete;

private:
    bool& FSending;
    bool& FReleaseLines;
    std::unique_ptr<TStringList>& FLines;
};
} // namespace

TSendDataForm::TSendDataForm(TComponent* AOwner)
    : TForm(AOwner), Relay(RegistrationConfig::SmtpRelay), RelayPort(RegistrationConfig::SmtpPort)
{
    SetCaption("送信");
    SetBorderStyle(TBorderStyle::bsSingle);
    SetBorderIcons(0);
    SetFormStyle(TFormStyle::fsStayOnTop);
    SetPosition(TPosition::poOwnerFormCenter);
    SetFont(MakeFont("ＭＳ Ｐゴシック", 12));
    SetClientSize(368, 429);

    const TFont labelFont = MakeFont("MS UI Gothic", 13);
    const TFont editFont = MakeFont("MS UI Gothic", 15);
    const TFont captionBoxFont = MakeFont("MS UI Gothic", 15, clWhite);
    const auto captionBox = [&](int Top, const char* Text) {
        auto* box = new TEdit(this, this);
        box->SetBounds(8, Top, 68, 23);
        box->SetText(Text);
        box->SetReadOnly(true);
        box->SetTabStop(false);
        box->SetColor(clTeal);
        box->SetFont(captionBoxFont);
        return box;
    };
    const auto entryBox = [&](int Top, TImeMode Ime) {
        auto* box = new TEdit(this, this);
        box->SetBounds(78, Top, 280, 23);
        box->SetFont(editFont);
        box->SetImeMode(Ime);
        return box;
    };

    // Windowed controls are created in tab order (the caption boxes, outside it, fill the places
    // between); the order of the sibling windows is the order Tab visits them.
    NameEdit = entryBox(210, TImeMode::imeOpen);
    AdminEdit = entryBox(234, TImeMode::imeOpen);
    EMailEdit = entryBox(258, TImeMode::imeClose);
    Edit3 = captionBox(210, "施設名");
    Edit1 = captionBox(234, "管理者");

    ComboBox1 = new TComboBox(this, this);
    ComboBox1->SetBounds(78, 306, 280, 23);
    ComboBox1->SetFont(MakeFont("ＭＳ Ｐゴシック", 15));
    for (const char* item : {"１０代", "２０代", "３０代", "４０代", "５０代", "６０代以上", "１０代以下"}) {
        ComboBox1->AddItem(item);
    }

    CheckBox1 = new TCheckBox(this, this);
    CheckBox1->SetBounds(64, 338, 253, 17);
    CheckBox1->SetCaption("Ruviva Co.,Ltd.からのお知らせメールを拒否する");

    BitBtn1 = new TBitBtn(this, this);
    BitBtn1->SetBounds(134, 362, 109, 33);
    BitBtn1->SetCaption("送信");
    BitBtn1->SetKind(TBitBtnKind::bkOK);
    BitBtn1->OnClick = [this](TObject* Sender) { BitBtn1Click(Sender); };

    Edit4 = captionBox(258, "E-Mail");
    Edit5 = captionBox(282, "性別");

    Panel1 = new TPanel(this, this);
    Panel1->SetBounds(78, 284, 280, 19);
    Panel1->SetBevelOuter(TBevelCut::bvNone);
    RadioButton1 = new TRadioButton(this, Panel1);
    RadioButton1->SetBounds(10, 2, 59, 17);
    RadioButton1->SetCaption("男性");
    RadioButton2 = new TRadioButton(this, Panel1);
    RadioButton2->SetBounds(80, 2, 69, 17);
    RadioButton2->SetCaption("女性");
    RadioButton1->SetChecked(true);

    Edit7 = captionBox(306, "年齢");

    Panel2 = new TPanel(this, this);
    Panel2->SetBounds(8, 4, 349, 201);
    Panel2->SetBevelInner(TBevelCut::bvRaised);
    Panel2->SetBevelOuter(TBevelCut::bvLowered);
    const auto text = [&](int Top, int Height, const char* Caption, const TFont& Font) {
        auto* label = new TLabel(this, Panel2);
        label->SetAutoSize(false);
        label->SetBounds(10, Top, 330, Height);
        label->SetWordWrap(true);
        label->SetFont(Font);
        label->SetCaption(Caption);
        return label;
    };
    Label1 = text(18, 43,
                  "TITLE をお買い求めいただきまして誠にありがとうございました　"
                  "今後のサポートをご希望の方は以下の項目にご入力下さい",
                  labelFont);
    Label3 = text(67, 42,
                  "ご入力頂いた個人データは　Ruviva Co.,Ltd.がサポートをするために必要なもので　"
                  "他の目的には一切使用いたしません　ご入力はあくまでも任意で結構です",
                  labelFont);
    Label4 = text(119, 39,
                  "ただしEMailアドレスのご記入がない　もしくは正確でない場合は　"
                  "トラブル等があった場合にサポートすることが出来ませんので　その点はご了承下さい　",
                  labelFont);
    Label2 = text(171, 18, "何も入力されていない場合は　空のデータを送信いたします", MakeFont("MS UI Gothic", 13, clBlue, true));

    StatusBar1 = new TStatusBar(this, this);
    StatusBar1->SetBounds(0, 410, 368, 19);

    NMSMTP1 = new TNMSMTP(this);
    NMSMTP1->SetPort(RelayPort);
    NMSMTP1->SetTimeOut(10000);
    NMSMTP1->SetReportLevel(0);
    // HELO names the sending domain: a mailbox there is refused by servers that check it.
    NMSMTP1->SetUserID(RegistrationConfig::HeloDomain);
    NMSMTP1->SetSecurity(static_cast<TSmtpSecurity>(RegistrationConfig::SmtpSecurity));
    NMSMTP1->SetCertificateAuthority(RegistrationConfig::CertificateAuthority);
    NMSMTP1->SetTrustSystemRoots(RegistrationConfig::TrustSystemRoots);
    NMSMTP1->SetUserName(RegistrationConfig::AuthUser);
    NMSMTP1->SetPassword(RegistrationConfig::AuthPassword);
    NMSMTP1->PostMessage().SetFromAddress(RegistrationConfig::Sender);
    NMSMTP1->PostMessage().ToAddress().SetText(RegistrationConfig::Registration);
    NMSMTP1->PostMessage().SetSubject(SSubject);
    NMSMTP1->SetEncodeType(uuMime);
    NMSMTP1->SetClearParams(true);
    NMSMTP1->SetSubType(mtPlain);
    NMSMTP1->SetCharset("us-ascii");
    NMSMTP1->OnConnect = [this](TObject* Sender) { NMSMTP1Connect(Sender); };
    NMSMTP1->OnInvalidHost = [this](bool& Handled) { NMSMTP1InvalidHost(Handled); };
    NMSMTP1->OnConnectionFailed = [this](TObject* Sender) { NMSMTP1ConnectionFailed(Sender); };
    NMSMTP1->OnSendStart = [this](TObject* Sender) { NMSMTP1SendStart(Sender); };
    NMSMTP1->OnSuccess = [this](TObject* Sender) { NMSMTP1Success(Sender); };
    NMSMTP1->OnFailure = [this](TObject* Sender) { NMSMTP1Failure(Sender); };

    SetActiveControl(NameEdit);
    OnCreate = [this](TObject* Sender) { FormCreate(Sender); };
    OnShow = [this](TObject* Sender) { FormShow(Sender); };
    OnClose = [this](TObject* Sender, TCloseAction& Action) { FormClose(Sender, Action); };
}

TSendDataForm::~TSendDataForm() = default;

void TSendDataForm::FormCreate(TObject*)
{
    MailLines = std::make_unique<TStringList>();
}

void TSendDataForm::FormShow(TObject*)
{
    // The setup window's helper lives only from its creation to its closing, and a program that
    // shows this window alone has none: the helper keeps no state, so one of our own does.
    TLibrary library;
    std::string caption = Label1->Caption();
    if (TitleText.empty() || caption.find(TitleText) == std::string::npos) {
        library.ReplaceFirst(caption, STitlePlaceholder, TitleText);
        Label1->SetCaption(caption);
    }
    StatusBar1->SetSimpleText("");
}

void TSendDataForm::FormClose(TObject*, TCloseAction&)
{
    // The keyboard can close the window while an attempt waits for the server; the attempt
    // still sends these lines.
    if (FSending) {
        FReleaseLines = true;
    } else {
        MailLines.reset();
    }
}

TRegistrationEntry TSendDataForm::ReadEntry() const
{
    TRegistrationEntry entry;
    entry.Date = TodayShortDate();
    entry.Facility = NameEdit->Text();
    entry.Administrator = AdminEdit->Text();
    entry.EMail = EMailEdit->Text();
    entry.RefuseNews = CheckBox1->Checked();
    entry.Sex = RadioButton1->Checked() ? RadioButton1->Caption() : RadioButton2->Caption();
    // Only a chosen item counts; text typed into the edit part is not an age bracket.
    const int age = ComboBox1->ItemIndex();
    entry.Age = age >= 0 ? ComboBox1->Item(age) : std::string();
    return entry;
}

bool TSendDataForm::ComposeMail()
{
    if (IsIncompleteAddress(EMailEdit->Text())) {
        ShowMessage(SIncompleteAddress);
        return false;
    }
    const TRegistrationEntry entry = ReadEntry();
    // A window closed by the keyboard released the list; shown again, it composes into a new one.
    if (!MailLines) {
        MailLines = std::make_unique<TStringList>();
    }
    MailLines->Clear();
    for (const std::string& line : RegistrationBody(entry)) {
        MailLines->Add(line);
    }
    return true;
}

void TSendDataForm::BitBtn1Click(TObject*)
{
    // A press while an attempt runs (its waits pump the message loop) is ignored: a second
    // attempt would compose into the lines and the message the first is sending, and connect a
    // component that is connected or connecting.
    if (FSending) {
        return;
    }
    const TSendingScope sending(FSending, FReleaseLines, MailLines);
    do {
        FRetry = false;
        if (!ComposeMail()) {
            return;
        }
        NMSMTP1->SetHost(Relay);
        NMSMTP1->SetPort(RelayPort);
        StatusBar1->SetSimpleText(SConnecting);
        try {
            NMSMTP1->Connect();
        } catch (const ETlsError& e) {
            SecureRoadFailed(e);
        } catch (const ESmtpSecurityError& e) {
            SecureRoadFailed(e);
        } catch (const Exception& e) {
            // After Retry the failed attempt's error is not reported; the loop starts the new
            // one now that the component has returned.
            if (!FRetry) {
                ErrorPath(e);
            }
        }
    } while (FRetry);
}

void TSendDataForm::NMSMTP1Connect(TObject*)
{
    StatusBar1->SetSimpleText(SConnected);
    TPostMessage& message = NMSMTP1->PostMessage();
    message.SetFromAddress(RegistrationConfig::Sender);
    message.SetFromName(MakeEncodedWord(RegistrationJis(RegistrationSenderName(NameEdit->Text()))));
    message.SetSubject(MakeEncodedWord(RegistrationJis(SSubject)));
    message.ToAddress().SetText(RegistrationConfig::Registration);
    // Each line converted on its own ends in ASCII, so every line of the body stands alone.
    TStringList body;
    for (int i = 0; i < MailLines->Count(); ++i) {
        body.Add(RegistrationJis((*MailLines)[i]));
    }
    message.SetLinesBody(body);
    NMSMTP1->SendMail();
}

void TSendDataForm::NMSMTP1SendStart(TObject*)
{
    StatusBar1->SetSimpleText(SSending);
    NMSMTP1->FinalHeader().SetValue("Content-Type", SContentType);
}

void TSendDataForm::NMSMTP1Success(TObject*)
{
    StatusBar1->SetSimpleText(SSent);
    NMSMTP1->Disconnect();
    ShowMessage(SThanks);
    Hide();
}

void TSendDataForm::NMSMTP1Failure(TObject*)
{
    StatusBar1->SetSimpleText("");
    NMSMTP1->Disconnect();
    AskRetry(SSendFailed);
}

void TSendDataForm::NMSMTP1ConnectionFailed(TObject*)
{
    StatusBar1->SetSimpleText("");
    AskRetry(SConnectFailed);
}

void TSendDataForm::NMSMTP1InvalidHost(bool&)
{
    StatusBar1->SetSimpleText("");
    Application->MessageBox(SNoResponse, SErrorCaption, MB_OK);
    ShowMessage(SupportNotice());
    Hide();
}

void TSendDataForm::AskRetry(const char* Text)
{
    if (Application->MessageBox(Text, SRetryCaption, MB_RETRYCANCEL) == IDRETRY) {
        FRetry = true;
        return;
    }
    ShowMessage(SupportNotice());
    Hide();
}

void TSendDataForm::SecureRoadFailed(const Exception& E)
{
    // As a connection that could not be made, with the reason in the status line: Retry or
    // Cancel, and after Cancel the error path with the reason.
    StatusBar1->SetSimpleText(E.Message());
    AskRetry(SConnectFailed);
    if (!FRetry) {
        ErrorPath(E);
    }
}

void TSendDataForm::ErrorPath(const Exception& E)
{
    Application->MessageBox(E.Message(), SErrorCaption, MB_OK);
    ShowMessage(std::string(SUnexpected) + "\n" + SupportNotice());
    NMSMTP1->Abort();
    // An error in the middle of a transaction (a refused RSET, MAIL FROM or DATA) leaves the
    // connection open, and a connected component refuses the next Connect: it is closed here,
    // without QUIT, as an abort closes it.
    if (NMSMTP1->Connected()) {
        NMSMTP1->AbortResume(NMSMTP1);
    }
    Hide();
}

// What the registration window's tests share: the texts they look for, the fixture that starts
// the window as the installer does and points it at a listener of the SMTP peer, and the
// transcript of one registration. One fixture type for the whole test program, so both files'
// TEST_F(SendDataWindow, ...) belong to one suite.
#pragma once

#include <gtest/gtest.h>

#include "toolkit/win/Win.h"

#include <commctrl.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "toolkit/win/Application.h"
#include "MessageBoxRecorder.h"
#include "mail/win/Senddata.h"
#include "SmtpPeer.h"

inline const std::string Title = "doduza　領収書発行セットアップ";
inline const std::string Product = "デスクトップdoduza";
inline const std::string Incomplete = "メールアドレスが不完全です　再入力して下さい";
inline const std::string Label1Text = "TITLE をお買い求めいただきまして誠にありがとうございました　"
                               "今後のサポートをご希望の方は以下の項目にご入力下さい";
inline const std::string Thanks = "御協力ありがとうございました！";

// One registration as the relay sees it, in session N of a listener.
inline std::string Registered(int N = 1)
{
    return "# session " + std::to_string(N) + "|< 220*|> HELO " + RegistrationConfig::HeloDomain + "|< 250*|> RSET|< 250*|" +
           "> MAIL FROM:<" + RegistrationConfig::Sender + ">|< 250*|> RCPT TO:<" + RegistrationConfig::Registration +
           ">|< 250*|> DATA|< 354*|= mail-1 * bytes|> .|< 250*|> QUIT|< 221*|# closed";
}

// The installer's start-up: a main window first (the setup window's place), then this window.
class SendDataWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Peer().Connected()) << "no SMTP peer: SMTP_PEER_DIR=" << Peer().Folder;
        Application->SetTitle(Title);
        Application->CreateForm(Main);
        Main->SetBounds(300, 400, 465, 229);
        Application->CreateForm(SendDataForm);
        Relay("[]");
    }
    void TearDown() override
    {
        delete SendDataForm;
        SendDataForm = nullptr;
        delete Main;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
    }
    // A click or a key as the user's arrives: the button changes its own state, then notifies;
    // the key goes to the focused window through the dialog keys.
    static void Press(TWinControl* Button) { SendMessageA(Button->Handle(), BM_CLICK, 0, 0); }
    // Every control filled, with Japanese names, the second sex, the sixth age and the box ticked.
    static void FillJapanese(TSendDataForm& f)
    {
        f.NameEdit->SetText("ホテル表参道ソ能");
        f.AdminEdit->SetText("山田　太郎");
        f.EMailEdit->SetText("taro@example.jp");
        Press(f.RadioButton2);
        f.ComboBox1->SetItemIndex(5);
        Press(f.CheckBox1);
    }
    static void Key(WPARAM VirtualKey)
    {
        PostMessageA(GetFocus(), WM_KEYDOWN, VirtualKey, 0);
        Application->ProcessMessages();
    }
    static std::vector<std::string> Lines()
    {
        std::vector<std::string> lines;
        for (int i = 0; i < SendDataForm->MailLines->Count(); ++i) lines.push_back((*SendDataForm->MailLines)[i]);
        return lines;
    }

    // A listener of the peer answering as Rules say, and the window sending to it: its id.
    static int Relay(const std::string& Rules)
    {
        const auto [id, port] = Peer().Listen(Rules);
        SendDataForm->Relay = "127.0.0.1";
        SendDataForm->RelayPort = port;
        return id;
    }
    // The status line as the status bar shows it.
    static std::string Status()
    {
        char text[128] = "?";
        SendMessageA(SendDataForm->StatusBar1->Handle(), SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(text));
        return text;
    }

    TForm* Main = nullptr;
    TMessageBoxRecorder Boxes;
};

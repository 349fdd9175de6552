#include "mail/win/NMsmtp.h"

TNMSMTP::TNMSMTP(TComponent* AOwner) : TComponent(AOwner)
{
    FSocket.SetPort(25);
    FSocket.OnAfterAbort = [this](TObject* Sender) { AbortResume(Sender); };
    const auto relay = [this](const TNotifyEvent& Event) {
        return [this, &Event](TObject*) {
            if (Event) Event(this);
        };
    };
    const auto ask = [](const THandlerEvent& Event) {
        return [&Event](bool& Handled) {
            if (Event) Event(Handled);
        };
    };
    FSocket.OnDisconnect = relay(OnDisconnect);
    FSocket.OnConnectionFailed = relay(OnConnectionFailed);
    FSocket.OnPacketSent = relay(OnPacketSent);
    FSocket.OnPacketRecvd = relay(OnPacketRecvd);
    FSocket.OnDataAvailable = relay(OnDataAvailable);
    FSocket.OnInvalidHost = ask(OnInvalidHost);
    FSocket.OnConnectionRequired = ask(OnConnectionRequired);
    FSocket.OnHostResolved = [this](TComponent*) {
        if (OnHostResolved) OnHostResolved(this);
    };
    FSocket.OnStatus = [this](TComponent*, const std::string& Status) {
        if (OnStatus) OnStatus(this, Status);
    };
    FSocket.OnError = [this](TComponent*, uint16_t Errno, const std::string& Errmsg) {
        if (OnError) OnError(this, Errno, Errmsg);
    };
}

void TNMSMTP::Connect()
{
    FDialogue.Open([this] {
        FSocket.Connect();
        if (Security() == ssTls) {
            FLines.Secure();
        }
    });
}

void TNMSMTP::Disconnect()
{
    FSocket.ClearCanceled();
    FDialogue.Quit();
}

void TNMSMTP::AbortResume(TObject*)
{
    FSocket.Disconnect();
    FSocket.ClearInput();
}

void TNMSMTP::TSocketLines::SendBlock(const std::string& Header, TStream& Body)
{
    FSocket.Write(Header);
    FSocket.SendStream(Body);
}

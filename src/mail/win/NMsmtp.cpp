#include "mail/win/NMsmtp.h"

TNMSMTP::TNMSMTP(TComponent* AOwner) : TPowersock(AOwner), TSmtpDialogue(*this, this)
{
    SetPort(25);
    OnAfterAbort = [this](TObject* Sender) { AbortResume(Sender); };
}

TNMSMTP::~TNMSMTP()
{
    // The hook points into the part of this object that goes first.
    OnAfterAbort = nullptr;
}

void TNMSMTP::Connect()
{
    Open([this] {
        TPowersock::Connect();
        if (Security() == ssTls) {
            Secure();
        }
    });
}

void TNMSMTP::Disconnect()
{
    FCanceled = false;
    Quit();
}

void TNMSMTP::Abort()
{
    TPowersock::Abort();
}

void TNMSMTP::AbortResume(TObject*)
{
    TPowersock::Disconnect();
    ClearInput();
}

void TNMSMTP::SendBlock(const std::string& Header, TStream& Body)
{
    Write(Header);
    SendStream(Body);
}

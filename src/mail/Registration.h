// What the registration window sends: the address check, the 15 body lines and the fixed values
// of the registration mail. Portable: the window reads its controls and the date and passes them
// in; nothing here knows of windows or sockets.
#pragma once

#include <string>
#include <vector>

// The values a release build sets (CMake cache options, see the README): the relay, its port,
// the HELO domain, the sender and registration mailboxes and the support mailbox.
namespace RegistrationConfig {
extern const char* const SmtpRelay;
extern const int SmtpPort;
extern const char* const HeloDomain;
extern const char* const Sender;
extern const char* const Registration;
extern const char* const SupportMailbox;
// How the mail goes: 0 plain SMTP, 1 STARTTLS, 2 TLS from the first byte (TSmtpSecurity).
extern const int SmtpSecurity;
// A certificate authority in PEM ("" for none), whether the system's roots are trusted beside it
// (without one they are the only roots), and the AUTH account ("" for none). All are inside the
// program, where anyone can read them.
extern const char* const CertificateAuthority;
extern const bool TrustSystemRoots;
extern const char* const AuthUser;
extern const char* const AuthPassword;
} // namespace RegistrationConfig

// The controls' contents at the moment the send button is pressed.
struct TRegistrationEntry {
    std::string Date;          // today as the user's short date
    std::string Facility;      // NameEdit, as typed
    std::string Administrator; // AdminEdit, as typed
    std::string EMail;         // EMailEdit, as typed
    bool RefuseNews = false;   // CheckBox1 ticked
    std::string Sex;           // the caption of the selected radio button
    std::string Age;           // the selected item of the combo box; empty when none is selected
};

// True when a non-empty address lacks "@" or "." (either order; full-width forms do not count).
// Characters are looked at, not bytes: the second byte of a double-byte character is never taken
// for "@".
bool IsIncompleteAddress(const std::string& Address);

// The mail body, one string per line, in the order the mail carries them.
std::vector<std::string> RegistrationBody(const TRegistrationEntry& Entry);

// The sender's display name before encoding: the facility name, or "記入なし" when it is empty.
std::string RegistrationSenderName(const std::string& Facility);

// Two lines joined by a line feed; the second names the support mailbox.
std::string SupportNotice();

// The domain of a mailbox ("setup@doduza.example" -> "doduza.example"); the whole text when it
// has no "@".
std::string MailboxDomain(const std::string& Mailbox);

// Half-width katakana (single bytes 0xA1 to 0xDF) as their full-width characters, a following
// sound mark joined where a voiced form exists ("ｶﾞ" -> "ガ"). ISO-2022-JP has no place for the
// single bytes: passed on, they would reach the mail as 8-bit bytes under a 7-bit label. Every
// other byte, and both bytes of a double-byte character, stay as they are.
std::string FullWidthKana(const std::string& S);

// A text of the registration mail in the mail's ISO-2022-JP form.
std::string RegistrationJis(const std::string& S);

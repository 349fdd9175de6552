// The values of the registration mail, from the header CMake generates from its cache options.
// This unit defines them and nothing else: a program built with other values links its own
// copy of this unit, compiled against its own generated header, and the copy in mail_core is
// then never taken from the archive.
#include "mail/Registration.h"
#include "RegistrationConfig.h"

namespace {
// Bytes of files, written by CMake as numbers: any byte survives, and nothing needs escaping.
const char CaBytes[] = {SETUP_SMTP_CA_BYTES};
const char PasswordBytes[] = {SETUP_SMTP_AUTH_PASSWORD_BYTES};
} // namespace

namespace RegistrationConfig {
const char* const SmtpRelay = SETUP_SMTP_RELAY;
const int SmtpPort = SETUP_SMTP_PORT;
const char* const HeloDomain = SETUP_SMTP_HELO;
const char* const Sender = SETUP_MAIL_SENDER;
const char* const Registration = SETUP_MAIL_REGISTRATION;
const char* const SupportMailbox = SETUP_SUPPORT_MAILBOX;
const int SmtpSecurity = SETUP_SMTP_SECURITY;
const char* const CertificateAuthority = CaBytes;
const bool TrustSystemRoots = SETUP_SMTP_TRUST_SYSTEM_ROOTS != 0;
const char* const AuthUser = SETUP_SMTP_AUTH_USER;
const char* const AuthPassword = PasswordBytes;
} // namespace RegistrationConfig

#include "net/win/Tls.h"
#include "net/win/TlsFail.h"

#include "toolkit/win/Win.h"

#include <schannel.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

namespace {

using namespace tlsfail;

// MANUAL_CRED_VALIDATION (in the credentials and in every step): the certificate is verified
// by VerifyServerCertificate, never by the package.
constexpr unsigned long kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                        ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                        ISC_REQ_MANUAL_CRED_VALIDATION;
constexpr DWORD kCredentialFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
constexpr unsigned char kAlertRecord = 21, kHandshakeRecord = 22, kApplicationRecord = 23;

// SCH_CREDENTIALS and its parts, as the Windows SDK declares them (mingw-w64 has none).
enum TAlgorithmUsage { kUsageKeyExchange = 0, kUsageSignature, kUsageCipher };
struct TCryptoSettings {
    TAlgorithmUsage eAlgorithmUsage;
    UNICODE_STRING strCngAlgId;
    DWORD cChainingModes = 0;
    UNICODE_STRING* rgstrChainingModes = nullptr;
    DWORD dwMinBitLength = 0;
    DWORD dwMaxBitLength = 0;
};
struct TTlsParameters {
    DWORD cAlpnIds;
    UNICODE_STRING* rgstrAlpnIds;
    DWORD grbitDisabledProtocols;
    DWORD cDisabledCrypto;
    TCryptoSettings* pDisabledCrypto;
    DWORD dwFlags;
};
struct TSchCredentials {
    DWORD dwVersion;
    DWORD dwCredFormat;
    DWORD cCreds;
    PCCERT_CONTEXT* paCred;
    HCERTSTORE hRootStore;
    DWORD cMappers;
    void** aphMappers;
    DWORD dwSessionLifespan;
    DWORD dwFlags;
    DWORD cTlsParameters;
    TTlsParameters* pTlsParameters;
};
constexpr DWORD kSchCredentialsVersion = 5;

[[noreturn]] void FailSession(long Status, const std::string& What)
{
    throw ETlsError(ETlsError::trSession, Status, "TLS: " + What);
}

SecBuffer Buffer(unsigned long Type, void* Data = nullptr, std::size_t Size = 0)
{
    return SecBuffer{static_cast<unsigned long>(Size), Type, Data};
}

SecBufferDesc Describe(SecBuffer* Buffers, unsigned long Count)
{
    return SecBufferDesc{SECBUFFER_VERSION, Count, Buffers};
}

// The address Name spells (4 or 16 bytes), or nothing for a host name.
std::string Address(const std::string& Name)
{
    unsigned char bytes[16];
    if (InetPtonA(AF_INET, Name.c_str(), bytes) == 1) return std::string(reinterpret_cast<char*>(bytes), 4);
    if (InetPtonA(AF_INET6, Name.c_str(), bytes) == 1) return std::string(reinterpret_cast<char*>(bytes), 16);
    return {};
}

} // namespace

ETlsError::ETlsError(TReason Reason, long Status, std::string Message)
    : Exception(std::move(Message)), FReason(Reason), FStatus(Status)
{
}

TTlsClient::TTlsClient(TTlsSettings Settings) : FSettings(std::move(Settings)), FAddress(Address(FSettings.ServerName))
{
    if (!FSettings.ExtraAuthority.empty()) {
        const std::string& pem = FSettings.ExtraAuthority;
        DWORD size = 0;
        std::vector<BYTE> der;
        if (CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr, &size,
                                 nullptr, nullptr)) {
            der.resize(size);
            if (CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                                     &size, nullptr, nullptr))
                FAuthority.Reset(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), size));
        }
        if (!FAuthority) {
            const auto error = static_cast<long>(GetLastError());
            throw ETlsError(ETlsError::trOther, error, "TLS: the extra certificate authority is no PEM certificate (" + Hex(error) + ")");
        }
    }
    // SCH_CREDENTIALS first: SChannels since Windows 10 1809 honour its lists of disabled
    // protocols and algorithms (everything but TLS 1.2; RSA key exchange, CBC, DES, 3DES, RC4).
    // Older ones refuse it, and get SCHANNEL_CRED, whose list of enabled protocols every
    // SChannel honours. Wine 8 takes SCH_CREDENTIALS and ignores both lists (and SCHANNEL_CRED's
    // algorithms): VerifyConnection holds the floor on what was negotiated either way. No TLS
    // 1.3: Wine 8 has none (a TLS 1.3-only SCHANNEL_CRED is refused, SEC_E_NO_CREDENTIALS), and
    // Windows' would hand post-handshake messages to DecryptMessage as renegotiations.
    wchar_t rsa[] = L"RSA", aes[] = L"AES", cbc[] = L"ChainingModeCBC", des[] = L"DES", des3[] = L"3DES", rc4[] = L"RC4";
    const auto text = [](wchar_t* Text) {
        const auto bytes = static_cast<USHORT>(wcslen(Text) * sizeof(wchar_t));
        return UNICODE_STRING{bytes, static_cast<USHORT>(bytes + sizeof(wchar_t)), Text};
    };
    UNICODE_STRING cbcMode = text(cbc);
    TCryptoSettings disabled[] = {{kUsageKeyExchange, text(rsa)}, {kUsageCipher, text(aes), 1, &cbcMode},
                                  {kUsageCipher, text(des)},      {kUsageCipher, text(des3)},
                                  {kUsageCipher, text(rc4)}};
    TTlsParameters parameters{};
    parameters.grbitDisabledProtocols = ~static_cast<DWORD>(SP_PROT_TLS1_2_CLIENT);
    parameters.cDisabledCrypto = static_cast<DWORD>(std::size(disabled));
    parameters.pDisabledCrypto = disabled;
    TSchCredentials modern{};
    modern.dwVersion = kSchCredentialsVersion;
    modern.dwFlags = kCredentialFlags;
    modern.cTlsParameters = 1;
    modern.pTlsParameters = &parameters;
    SCHANNEL_CRED credentials{};
    credentials.dwVersion = SCHANNEL_CRED_VERSION;
    credentials.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
    credentials.dwFlags = kCredentialFlags;
    char package[] = UNISP_NAME_A;
    TimeStamp expiry;
    SECURITY_STATUS status = AcquireCredentialsHandleA(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &modern, nullptr,
                                                       nullptr, FCredentials.Put(), &expiry);
    if (status != SEC_E_OK)
        status = AcquireCredentialsHandleA(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &credentials, nullptr, nullptr,
                                           FCredentials.Put(), &expiry);
    if (status != SEC_E_OK) Fail(status, "AcquireCredentialsHandle");
}

std::string TTlsClient::Step(const std::string_view* Input, SecBuffer* Extra, long& Status)
{
    SecBuffer in[2] = {Buffer(SECBUFFER_TOKEN), Buffer(SECBUFFER_EMPTY)};
    if (Input != nullptr) in[0] = Buffer(SECBUFFER_TOKEN, const_cast<char*>(Input->data()), Input->size());
    SecBuffer out[1] = {Buffer(SECBUFFER_TOKEN)};
    SecBufferDesc inDesc = Describe(in, 2), outDesc = Describe(out, 1);
    unsigned long attributes = 0;
    CredHandle credentials = FCredentials.Get();
    // SChannel keeps a context's handle from call to call. An address is never sent as SNI
    // (RFC 6066); the certificate check uses it all the same.
    CtxtHandle context = FContext.Get();
    const bool first = !FContext;
    char* target = FAddress.empty() ? FSettings.ServerName.data() : nullptr;
    Status = InitializeSecurityContextA(&credentials, first ? nullptr : &context, target, kContextFlags, 0, 0,
                                        Input != nullptr ? &inDesc : nullptr, 0, first ? FContext.Put() : nullptr, &outDesc,
                                        &attributes, nullptr);
    const TSspiBuffer token(out[0].pvBuffer);
    if (Extra != nullptr) *Extra = in[1];
    return out[0].pvBuffer != nullptr ? std::string(static_cast<const char*>(out[0].pvBuffer), out[0].cbBuffer) : std::string();
}

std::string TTlsClient::Start()
{
    if (FContext) throw Exception("TLS: Start called twice");
    long status = 0;
    std::string hello = Step(nullptr, nullptr, status);
    if (status != SEC_I_CONTINUE_NEEDED) Fail(status, "InitializeSecurityContext");
    return hello;
}

void TTlsClient::Feed(std::string_view Received)
{
    if (FInStart > 0) {
        FIn.erase(0, FInStart);
        FInStart = 0;
    }
    FIn.append(Received);
}

bool TTlsClient::Handshake(std::string& Send)
{
    if (FEstablished) return true;
    if (!FContext) throw Exception("TLS: Handshake before Start");
    // A step may leave whole messages (SECBUFFER_EXTRA) for the next; they are taken at once,
    // as the server may wait for our answer to them.
    for (std::string_view pending = Pending(); !pending.empty(); pending = Pending()) {
        // Wine 8 waits for as many bytes as a record's header claims even when they are no TLS
        // ("220 ..." from a plain server claims 8 KiB): a record that starts with no TLS content
        // type (20 to 24) or no version 3.x ends the handshake here.
        const auto type = static_cast<unsigned char>(pending[0]);
        if (type < 20 || type > 24 || (pending.size() > 1 && pending[1] != 3))
            FailHandshake(SEC_E_ILLEGAL_MESSAGE, "the server does not answer in TLS");
        SecBuffer extra;
        long status = 0;
        const std::string reply = Step(&pending, &extra, status);
        if (status == SEC_E_INCOMPLETE_MESSAGE) return false;
        // Wine 8 reports a server without TLS 1.2 (or without a cipher in common) as
        // SEC_E_INTERNAL_ERROR, Windows as SEC_E_ALGORITHM_MISMATCH or SEC_E_UNSUPPORTED_FUNCTION:
        // every failed step is the handshake's failure.
        if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) FailHandshake(status);
        const unsigned long left = extra.BufferType == SECBUFFER_EXTRA ? extra.cbBuffer : 0;
        Consumed(left);
        if (status == SEC_I_CONTINUE_NEEDED) {
            Send += reply;
            if (left == pending.size()) return false; // nothing taken: it needs more
            continue;
        }
        // The last step's reply (TLS 1.2: none, the client's Finished went before the server's)
        // is handed out only once the certificate is accepted.
        VerifyServerCertificate();
        Send += reply;
        CtxtHandle context = FContext.Get();
        SecPkgContext_StreamSizes sizes{};
        status = QueryContextAttributesA(&context, SECPKG_ATTR_STREAM_SIZES, &sizes);
        if (status != SEC_E_OK) Fail(status, "QueryContextAttributes");
        FHeader = sizes.cbHeader;
        FTrailer = sizes.cbTrailer;
        FMaxMessage = sizes.cbMaximumMessage;
        FEstablished = true;
        return true;
    }
    return false;
}

std::string TTlsClient::Encrypt(std::string_view Plain)
{
    if (!FEstablished || FShutdown) throw Exception("TLS: Encrypt outside an established session");
    std::string out;
    const std::size_t records = (Plain.size() + FMaxMessage - 1) / FMaxMessage;
    out.reserve(Plain.size() + records * (FHeader + FTrailer));
    CtxtHandle context = FContext.Get();
    for (std::size_t at = 0; at < Plain.size(); at += FMaxMessage) {
        const std::size_t size = std::min<std::size_t>(FMaxMessage, Plain.size() - at);
        const std::size_t start = out.size();
        // The package fills the header and the trailer; the plaintext's copy is the only one.
        out.append(FHeader, '\0');
        out.append(Plain.substr(at, size));
        out.append(FTrailer, '\0');
        char* record = out.data() + start;
        SecBuffer buffers[4] = {Buffer(SECBUFFER_STREAM_HEADER, record, FHeader), Buffer(SECBUFFER_DATA, record + FHeader, size),
                                Buffer(SECBUFFER_STREAM_TRAILER, record + FHeader + size, FTrailer), Buffer(SECBUFFER_EMPTY)};
        SecBufferDesc desc = Describe(buffers, 4);
        const SECURITY_STATUS status = EncryptMessage(&context, 0, &desc, 0);
        if (status != SEC_E_OK) Fail(status, "EncryptMessage");
        out.resize(start + buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
    }
    return out;
}

std::string TTlsClient::Decrypt()
{
    if (!FEstablished) throw Exception("TLS: Decrypt before the handshake");
    std::string plain;
    CtxtHandle context = FContext.Get();
    while (!FPeerClosed && !Pending().empty()) {
        const std::string_view pending = Pending();
        // Only these records may follow the handshake. Anything else (bytes that are no TLS) is
        // refused at its first byte: Wine 8 would wait for as many bytes as a header claims.
        const auto type = static_cast<unsigned char>(pending[0]);
        if ((type != kAlertRecord && type != kHandshakeRecord && type != kApplicationRecord) ||
            (pending.size() > 1 && pending[1] != 3))
            FailSession(SEC_E_ILLEGAL_MESSAGE, "the server sent bytes that are no TLS record after the handshake");
        // TLS 1.2 after the handshake: a handshake record is a renegotiation (a new handshake
        // would let the server change the session's terms in the middle of the mail).
        if (type == kHandshakeRecord) FailSession(SEC_I_RENEGOTIATE, "the server asked to renegotiate the session: refused");
        const bool alert = type == kAlertRecord;
        SecBuffer buffers[4] = {Buffer(SECBUFFER_DATA, const_cast<char*>(pending.data()), pending.size()),
                                Buffer(SECBUFFER_EMPTY), Buffer(SECBUFFER_EMPTY), Buffer(SECBUFFER_EMPTY)};
        SecBufferDesc desc = Describe(buffers, 4);
        const SECURITY_STATUS status = DecryptMessage(&context, &desc, 0, nullptr);
        if (status == SEC_E_INCOMPLETE_MESSAGE) break;
        if (status == SEC_I_RENEGOTIATE) FailSession(status, "the server asked to renegotiate the session: refused");
        // Windows reports a record that fails its check as SEC_E_DECRYPT_FAILURE or
        // SEC_E_MESSAGE_ALTERED; Wine 8 as SEC_E_INTERNAL_ERROR ("Decryption has failed" from
        // GnuTLS), its answer to any failure of a whole record of a known type.
        if (status == SEC_E_DECRYPT_FAILURE || status == SEC_E_MESSAGE_ALTERED || status == SEC_E_INTERNAL_ERROR)
            FailSession(status, "a record from the server failed its integrity check (altered on the way)");
        if (status != SEC_E_OK && status != SEC_I_CONTEXT_EXPIRED)
            FailSession(status, "the session with the server failed (" + Hex(status) + ")");
        unsigned long left = 0, got = 0;
        for (const SecBuffer& b : buffers) {
            if (b.BufferType == SECBUFFER_DATA && status == SEC_E_OK) {
                plain.append(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
                got = b.cbBuffer;
            }
            if (b.BufferType == SECBUFFER_EXTRA) left = b.cbBuffer;
        }
        Consumed(left);
        // Windows reports close_notify as SEC_I_CONTEXT_EXPIRED; Wine 8 as SEC_E_OK with no data
        // (from an alert record: no empty application record).
        FPeerClosed = status == SEC_I_CONTEXT_EXPIRED || (alert && got == 0);
    }
    return plain;
}

std::string TTlsClient::Shutdown()
{
    if (!FEstablished || FShutdown) return {};
    FShutdown = true;
    CtxtHandle context = FContext.Get();
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer control[1] = {Buffer(SECBUFFER_TOKEN, &type, sizeof type)};
    SecBufferDesc controlDesc = Describe(control, 1);
    long status = ApplyControlToken(&context, &controlDesc);
    if (status != SEC_E_OK) Fail(status, "ApplyControlToken");
    std::string notify = Step(nullptr, nullptr, status);
    if (status != SEC_E_OK && status != SEC_I_CONTEXT_EXPIRED) Fail(status, "InitializeSecurityContext");
    return notify;
}

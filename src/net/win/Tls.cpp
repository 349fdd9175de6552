#include "net/win/Tls.h"

#include "toolkit/win/Win.h"

#include <schannel.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

namespace {

// MANUAL_CRED_VALIDATION (in the credentials and in every step): the certificate is verified
// by VerifyServerCertificate, never by the package.
constexpr unsigned long kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                        ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                        ISC_REQ_MANUAL_CRED_VALIDATION;
constexpr DWORD kCredentialFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
constexpr unsigned char kAlertRecord = 21;

std::string Hex(long Status)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(Status));
    return text;
}

[[noreturn]] void Fail(long Status, const char* What)
{
    throw ETlsError(ETlsError::trOther, Status, std::string("TLS error in ") + What + ": status " + Hex(Status));
}

[[noreturn]] void FailHandshake(long Status, const char* Why = "the server offers no TLS 1.2 with a cipher in common, or broke the protocol")
{
    throw ETlsError(ETlsError::trHandshake, Status, std::string("TLS handshake failed: ") + Why + " (" + Hex(Status) + ")");
}

[[noreturn]] void FailLast(const char* What)
{
    Fail(static_cast<long>(GetLastError()), What);
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

// Whether Certificate's subject alternative names hold the IP address Address.
bool NamesAddress(PCCERT_CONTEXT Certificate, const std::string& Address)
{
    const CERT_INFO* info = Certificate->pCertInfo;
    const CERT_EXTENSION* extension = CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
    if (extension == nullptr) return false;
    TLocalMem<CERT_ALT_NAME_INFO> names;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData, extension->Value.cbData,
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, names.Put(), &size))
        return false;
    const CERT_ALT_NAME_ENTRY* entries = names.Get()->rgAltEntry;
    return std::any_of(entries, entries + names.Get()->cAltEntry, [&](const CERT_ALT_NAME_ENTRY& Entry) {
        return Entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS &&
               std::string_view(reinterpret_cast<const char*>(Entry.IPAddress.pbData), Entry.IPAddress.cbData) == Address;
    });
}

// The SSL policy's verdict on Server's chain as Engine builds it (null: the system's roots);
// Name null skips the host-name check.
long ChainVerdict(HCERTCHAINENGINE Engine, PCCERT_CONTEXT Server, const wchar_t* Name)
{
    char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    char* usages[] = {serverAuth};
    CERT_CHAIN_PARA chainPara{};
    chainPara.cbSize = sizeof chainPara;
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    TCertChain chain;
    // The server's store holds the intermediates it sent.
    if (!CertGetCertificateChain(Engine, Server, nullptr, Server->hCertStore, &chainPara, 0, nullptr, chain.Put()))
        FailLast("CertGetCertificateChain");
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = const_cast<wchar_t*>(Name);
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS verdict{};
    verdict.cbSize = sizeof verdict;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.Get(), &policy, &verdict))
        FailLast("CertVerifyCertificateChainPolicy");
    // Wine 8's policy passes a chain that ends at no root at all (CERT_TRUST_IS_PARTIAL_CHAIN,
    // the issuer unknown), so the chain's own status is looked at too.
    const DWORD trust = chain.Get()->TrustStatus.dwErrorStatus;
    if (verdict.dwError != 0 || trust == CERT_TRUST_NO_ERROR) return static_cast<long>(verdict.dwError);
    if (trust & (CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_UNTRUSTED_ROOT)) return CERT_E_CHAINING;
    return (trust & CERT_TRUST_IS_NOT_TIME_VALID) ? CERT_E_EXPIRED : TRUST_E_FAIL;
}

bool Untrusted(long Verdict)
{
    return Verdict == CERT_E_UNTRUSTEDROOT || Verdict == CERT_E_CHAINING;
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
    // SCHANNEL_CRED, not SCH_CREDENTIALS: Wine 8 takes the latter but ignores its list of
    // disabled protocols, while every SChannel honours this list of enabled ones. No TLS 1.3:
    // Wine 8 has none (it refuses a TLS 1.3-only SCHANNEL_CRED with SEC_E_NO_CREDENTIALS).
    SCHANNEL_CRED credentials{};
    credentials.dwVersion = SCHANNEL_CRED_VERSION;
    credentials.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
    credentials.dwFlags = kCredentialFlags;
    char package[] = UNISP_NAME_A;
    TimeStamp expiry;
    const SECURITY_STATUS status = AcquireCredentialsHandleA(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &credentials,
                                                             nullptr, nullptr, FCredentials.Put(), &expiry);
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

void TTlsClient::VerifyServerCertificate()
{
    CtxtHandle context = FContext.Get();
    SecPkgContext_ConnectionInfo connection{};
    long status = QueryContextAttributesA(&context, SECPKG_ATTR_CONNECTION_INFO, &connection);
    if (status != SEC_E_OK) Fail(status, "QueryContextAttributes");
    // Whatever the package was told, nothing older than TLS 1.2 goes on.
    if ((connection.dwProtocol & (SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT)) == 0) FailHandshake(SEC_E_UNSUPPORTED_FUNCTION);
    TCertContext server;
    status = QueryContextAttributesA(&context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, server.Put());
    if (status != SEC_E_OK) Fail(status, "QueryContextAttributes");

    // Wine 8's SSL policy matches DNS names only, so an address is matched here against the
    // certificate's IP names and the policy is given no name.
    std::wstring name;
    if (FAddress.empty()) {
        name.resize(FSettings.ServerName.size());
        name.resize(static_cast<std::size_t>(MultiByteToWideChar(CP_ACP, 0, FSettings.ServerName.data(),
                                                                 static_cast<int>(FSettings.ServerName.size()), name.data(),
                                                                 static_cast<int>(name.size()))));
    }
    const wchar_t* policyName = FAddress.empty() ? name.c_str() : nullptr;
    long verdict = ChainVerdict(nullptr, server.Get(), policyName);
    if (Untrusted(verdict) && FAuthority) {
        // A chain engine whose only root is the extra authority (an exclusive root, which Wine
        // 8's crypt32 supports): any other root the server names stays untrusted.
        TCertStore roots(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
        if (!roots || !CertAddCertificateContextToStore(roots.Get(), FAuthority.Get(), CERT_STORE_ADD_ALWAYS, nullptr))
            FailLast("CertAddCertificateContextToStore");
        CERT_CHAIN_ENGINE_CONFIG config{};
        config.cbSize = sizeof config;
        config.hExclusiveRoot = roots.Get();
        TCertChainEngine engine;
        if (!CertCreateCertificateChainEngine(&config, engine.Put())) FailLast("CertCreateCertificateChainEngine");
        verdict = ChainVerdict(engine.Get(), server.Get(), policyName);
    }
    if (verdict == 0 && !FAddress.empty() && !NamesAddress(server.Get(), FAddress)) verdict = CERT_E_CN_NO_MATCH;
    switch (verdict) {
    case 0:
        return;
    case CERT_E_UNTRUSTEDROOT:
    case CERT_E_CHAINING:
        throw ETlsError(ETlsError::trUntrustedAuthority, verdict,
                        "TLS: the server's certificate is not from a trusted certificate authority");
    case CERT_E_EXPIRED:
        throw ETlsError(ETlsError::trExpired, verdict, "TLS: the server's certificate has expired or is not yet valid");
    case CERT_E_CN_NO_MATCH:
        throw ETlsError(ETlsError::trWrongHost, verdict,
                        "TLS: the server's certificate is for another host than " + FSettings.ServerName);
    default:
        throw ETlsError(ETlsError::trOther, verdict, "TLS: the server's certificate was refused (" + Hex(verdict) + ")");
    }
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
        const bool alert = static_cast<unsigned char>(pending[0]) == kAlertRecord;
        SecBuffer buffers[4] = {Buffer(SECBUFFER_DATA, const_cast<char*>(pending.data()), pending.size()),
                                Buffer(SECBUFFER_EMPTY), Buffer(SECBUFFER_EMPTY), Buffer(SECBUFFER_EMPTY)};
        SecBufferDesc desc = Describe(buffers, 4);
        const SECURITY_STATUS status = DecryptMessage(&context, &desc, 0, nullptr);
        if (status == SEC_E_INCOMPLETE_MESSAGE) break;
        if (status != SEC_E_OK && status != SEC_I_CONTEXT_EXPIRED) Fail(status, "DecryptMessage");
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

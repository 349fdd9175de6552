// TTlsClient: what the handshake negotiated and the server's certificate chain, checked against
// the session's rules (trust, validity, name, strength) before anything but the handshake goes
// out.
#include "net/win/Tls.h"
#include "net/win/TlsFail.h"

#include "toolkit/win/Win.h"

#include <schannel.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

namespace {

using namespace tlsfail;

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

// The SSL policy's verdict on Server's chain as Engine builds it (null: the system's roots),
// which is left in Chain; Name null skips the host-name check.
long ChainVerdict(HCERTCHAINENGINE Engine, PCCERT_CONTEXT Server, const wchar_t* Name, TCertChain& Chain)
{
    char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    char* usages[] = {serverAuth};
    CERT_CHAIN_PARA chainPara{};
    chainPara.cbSize = sizeof chainPara;
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    Chain.Reset();
    // The server's store holds the intermediates it sent.
    if (!CertGetCertificateChain(Engine, Server, nullptr, Server->hCertStore, &chainPara, 0, nullptr, Chain.Put()))
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
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, Chain.Get(), &policy, &verdict))
        FailLast("CertVerifyCertificateChainPolicy");
    // Wine 8's policy passes a chain that ends at no root at all (CERT_TRUST_IS_PARTIAL_CHAIN,
    // the issuer unknown), so the chain's own status is looked at too.
    const DWORD trust = Chain.Get()->TrustStatus.dwErrorStatus;
    if (verdict.dwError != 0 || trust == CERT_TRUST_NO_ERROR) return static_cast<long>(verdict.dwError);
    if (trust & (CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_UNTRUSTED_ROOT)) return CERT_E_CHAINING;
    return (trust & CERT_TRUST_IS_NOT_TIME_VALID) ? CERT_E_EXPIRED : TRUST_E_FAIL;
}

bool Untrusted(long Verdict)
{
    return Verdict == CERT_E_UNTRUSTEDROOT || Verdict == CERT_E_CHAINING;
}

[[noreturn]] void FailWeak(const std::string& Who, const std::string& What)
{
    throw ETlsError(ETlsError::trWeakCertificate, CERT_E_CRITICAL, "TLS: " + Who + " " + What);
}

// The hash of a signature algorithm below the floor, by its name; null for one that is not.
const char* WeakHash(std::string_view Oid)
{
    static constexpr std::pair<std::string_view, const char*> weak[] = {
        {"1.2.840.113549.1.1.2", "MD2"},   {"1.2.840.113549.1.1.3", "MD4"},   {"1.2.840.113549.1.1.4", "MD5"},
        {"1.3.14.3.2.3", "MD5"},           {"1.2.840.113549.1.1.5", "SHA-1"}, {"1.3.14.3.2.29", "SHA-1"},
        {"1.2.840.10045.4.1", "SHA-1"},    {"1.2.840.10040.4.3", "SHA-1"},    {"1.3.14.3.2.27", "SHA-1"},
        {"1.2.840.113549.1.1.14", "SHA-224"}, {"1.2.840.10045.4.3.1", "SHA-224"},
    };
    for (const auto& [oid, name] : weak)
        if (oid == Oid) return name;
    return nullptr;
}

// SHA-2 (256 bits or more) with RSA, RSA-PSS or ECDSA. PSS names its hash in parameters that
// SChannel itself checks when it uses the key; a PSS chain certificate is taken as SHA-2.
bool StrongSignature(std::string_view Oid)
{
    static constexpr std::string_view strong[] = {szOID_RSA_SHA256RSA, szOID_RSA_SHA384RSA, szOID_RSA_SHA512RSA,
                                                  szOID_RSA_SSA_PSS,   szOID_ECDSA_SHA256,  szOID_ECDSA_SHA384,
                                                  szOID_ECDSA_SHA512};
    return std::find(std::begin(strong), std::end(strong), Oid) != std::end(strong);
}

// The signature and the key of one certificate of the chain; Signed false for a root's
// self-signature, which proves nothing.
void CheckStrength(PCCERT_CONTEXT Certificate, const std::string& Who, bool Signed)
{
    const CERT_INFO& info = *Certificate->pCertInfo;
    const std::string signature = info.SignatureAlgorithm.pszObjId ? info.SignatureAlgorithm.pszObjId : "";
    if (Signed && !StrongSignature(signature)) {
        const char* hash = WeakHash(signature);
        FailWeak(Who, hash ? std::string("is signed with ") + hash + ", which is too weak"
                           : "is signed with an algorithm this client does not accept (" + signature + ")");
    }
    const CERT_PUBLIC_KEY_INFO& key = info.SubjectPublicKeyInfo;
    const std::string kind = key.Algorithm.pszObjId ? key.Algorithm.pszObjId : "";
    if (kind == szOID_RSA_RSA || kind == szOID_RSA_SSA_PSS) {
        // CertGetPublicKeyLength knows RSA everywhere (Wine 8's gives 0 for EC keys).
        const DWORD bits = CertGetPublicKeyLength(X509_ASN_ENCODING, const_cast<CERT_PUBLIC_KEY_INFO*>(&key));
        if (bits < 2048) FailWeak(Who, "has a " + std::to_string(bits) + "-bit RSA key (at least 2048 bits needed)");
    } else if (kind == szOID_ECC_PUBLIC_KEY) {
        // The curve's size from its point: 04 X Y uncompressed, 02 or 03 X compressed.
        const DWORD bytes = key.PublicKey.cbData;
        const BYTE form = bytes > 0 ? key.PublicKey.pbData[0] : 0;
        const DWORD bits = form == 4 ? (bytes - 1) / 2 * 8 : (form == 2 || form == 3) ? (bytes - 1) * 8 : 0;
        if (bits < 256) FailWeak(Who, "has a " + std::to_string(bits) + "-bit EC key (at least 256 bits needed)");
    } else {
        FailWeak(Who, "has a key of a kind this client does not accept (" + kind + ")");
    }
}

void CheckChainStrength(PCCERT_CHAIN_CONTEXT Chain)
{
    if (Chain->cChain == 0) return;
    const CERT_SIMPLE_CHAIN& simple = *Chain->rgpChain[0];
    for (DWORD i = 0; i < simple.cElement; ++i) {
        const CERT_CHAIN_ELEMENT& element = *simple.rgpElement[i];
        const bool root = i + 1 == simple.cElement && (element.TrustStatus.dwInfoStatus & CERT_TRUST_IS_SELF_SIGNED) != 0;
        // Short: the window's status line shows some 60 characters.
        const std::string who = i == 0 ? "the server's certificate" : root ? "the chain's root" : "an intermediate certificate";
        CheckStrength(element.pCertContext, who, !root || i == 0);
    }
}

[[noreturn]] void FailSuite(const std::string& What)
{
    throw ETlsError(ETlsError::trWeakSuite, SEC_E_ALGORITHM_MISMATCH, "TLS: the server's suite " + What);
}

} // namespace

void TTlsClient::VerifyConnection()
{
    CtxtHandle context = FContext.Get();
    SecPkgContext_ConnectionInfo connection{};
    long status = QueryContextAttributesA(&context, SECPKG_ATTR_CONNECTION_INFO, &connection);
    if (status != SEC_E_OK) Fail(status, "QueryContextAttributes");
    // Whatever the package was told, nothing older than TLS 1.2 goes on.
    if ((connection.dwProtocol & (SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT)) == 0) FailHandshake(SEC_E_UNSUPPORTED_FUNCTION);
    if (connection.dwCipherStrength < 128)
        FailSuite("has a cipher of " + std::to_string(connection.dwCipherStrength) + " bits (at least 128 needed)");
    // TLS 1.3 has no other suites than AEAD ones over an ephemeral key exchange, and the package
    // need not report its exchange in the terms of the older versions.
    if ((connection.dwProtocol & SP_PROT_TLS1_3_CLIENT) != 0) return;
    if (connection.aiExch != CALG_ECDH_EPHEM && connection.aiExch != CALG_DH_EPHEM)
        FailSuite(connection.aiExch == CALG_RSA_KEYX ? "has no forward secrecy (an RSA key exchange)"
                                                     : "has no forward secrecy (no ephemeral key exchange)");
    // An AEAD suite has no MAC of its own. The suite's name, where the package gives one, says
    // so (Wine 8 names a ChaCha20 suite "<unknown>", and gives every AEAD suite a MAC strength of
    // 0 but a CBC suite its HMAC's).
    SecPkgContext_CipherInfo cipher{};
    cipher.dwVersion = SECPKGCONTEXT_CIPHERINFO_V1;
    std::wstring name;
    if (QueryContextAttributesA(&context, SECPKG_ATTR_CIPHER_INFO, &cipher) == SEC_E_OK)
        name.assign(cipher.szCipherSuite, wcsnlen(cipher.szCipherSuite, SZ_ALG_MAX_SIZE));
    const auto names = [&name](const wchar_t* Part) { return name.find(Part) != std::wstring::npos; };
    const bool aead = names(L"_GCM_") || names(L"_CCM") || names(L"CHACHA20");
    const bool other = names(L"_CBC_") || names(L"RC4") || names(L"_NULL_") || names(L"DES");
    if (other || (!aead && connection.dwHashStrength != 0)) FailSuite("has no AEAD cipher (a cipher with a separate MAC)");
}

void TTlsClient::VerifyServerCertificate()
{
    VerifyConnection();
    CtxtHandle context = FContext.Get();
    TCertContext server;
    const long status = QueryContextAttributesA(&context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, server.Put());
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
    TCertChain chain;
    long verdict = CERT_E_CHAINING;
    const bool systemRoots = !FAuthority || FSettings.TrustSystemRoots;
    if (systemRoots) verdict = ChainVerdict(nullptr, server.Get(), policyName, chain);
    if (FAuthority && Untrusted(verdict)) {
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
        verdict = ChainVerdict(engine.Get(), server.Get(), policyName, chain);
    }
    // The strength of the chain as it was built, before its trust: a weak chain is refused for
    // its weakness, whoever signed it.
    CheckChainStrength(chain.Get());
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

#include "mail/Registration.h"

#include "common/Library.h"
#include "codec/Mailconvert.h"
#include "toolkit/SysUtils.h"

bool IsIncompleteAddress(const std::string& Address)
{
    if (Address.empty()) {
        return false;
    }
    bool at = false, dot = false;
    for (std::size_t i = 0; i < Address.size(); ++i) {
        const auto c = static_cast<unsigned char>(Address[i]);
        if (IsSjisLeadByte(c)) {
            ++i; // its trail byte may be 0x40, "@"
        } else if (c == '@') {
            at = true;
        } else if (c == '.') {
            dot = true;
        }
    }
    return !(at && dot);
}

std::vector<std::string> RegistrationBody(const TRegistrationEntry& Entry)
{
    return {
        "--ここから--",
        "",
        "お申込日 = " + Entry.Date,
        "作品番号 = ZO000002",
        std::string("お申込作品名 = ") + SProductName,
        "施設名 = " + Entry.Facility,
        "利用者氏名 = " + Entry.Administrator,
        "利用者氏名(よみ) = ",
        "郵便番号 = ",
        "住所 = ",
        "電話番号 = ",
        "e-mail = " + Entry.EMail,
        Entry.RefuseNews ? "メール受信拒否" : "お知らせメールを受信する",
        "性別 =" + Entry.Sex,
        "年齢 =" + Entry.Age,
    };
}

std::string RegistrationSenderName(const std::string& Facility)
{
    return Facility.empty() ? "記入なし" : Facility;
}

std::string SupportNotice()
{
    return std::string("サポートが必要な場合は、下記のアドレスまでメールでお問い合わせください。\n") +
           "サポート窓口: " + RegistrationConfig::SupportMailbox;
}

std::string MailboxDomain(const std::string& Mailbox)
{
    const std::size_t at = Mailbox.rfind('@');
    return at == std::string::npos ? Mailbox : Mailbox.substr(at + 1);
}

namespace {

// The full-width forms of 0xA1 to 0xDF, two bytes each, in code order (63 forms; the tests run
// every half-width byte through them).
const char FullForms[] = "。「」、・ヲァィゥェォャュョッーアイウエオカキクケコサシスセソタチツテトナニヌネノ"
                         "ハヒフヘホマミムメモヤユヨラリルレロワン゛゜";
// Voiced forms: カ to ト with "ﾞ"; ハ to ホ with "ﾞ" and with "ﾟ".
const char VoicedKaToTo[] = "ガギグゲゴザジズゼゾダヂヅデド";
const char VoicedHaToHo[] = "バビブベボ";
const char SemiVoicedHaToHo[] = "パピプペポ";

constexpr unsigned char Dakuten = 0xDE, Handakuten = 0xDF;

bool IsHalfWidthKana(unsigned char c) noexcept
{
    return c >= 0xA1 && c <= 0xDF;
}

} // namespace

std::string FullWidthKana(const std::string& S)
{
    std::string out;
    out.reserve(S.size() * 2);
    for (std::size_t i = 0; i < S.size(); ++i) {
        const auto c = static_cast<unsigned char>(S[i]);
        if (IsSjisLeadByte(c)) {
            out += S[i];
            if (i + 1 < S.size()) out += S[++i];
            continue;
        }
        if (!IsHalfWidthKana(c)) {
            out += S[i];
            continue;
        }
        const auto next = i + 1 < S.size() ? static_cast<unsigned char>(S[i + 1]) : 0;
        const char* form = FullForms + 2 * (c - 0xA1);
        if (next == Dakuten && c >= 0xB6 && c <= 0xC4) {
            form = VoicedKaToTo + 2 * (c - 0xB6);
            ++i;
        } else if (next == Dakuten && c >= 0xCA && c <= 0xCE) {
            form = VoicedHaToHo + 2 * (c - 0xCA);
            ++i;
        } else if (next == Handakuten && c >= 0xCA && c <= 0xCE) {
            form = SemiVoicedHaToHo + 2 * (c - 0xCA);
            ++i;
        } else if (next == Dakuten && c == 0xB3) {
            form = "ヴ";
            ++i;
        }
        out.append(form, 2);
    }
    return out;
}

std::string RegistrationJis(const std::string& S)
{
    return SjisToJis(FullWidthKana(S));
}

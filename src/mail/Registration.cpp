#include "Registration.h"

#include "Library.h"
#include "SysUtils.h"

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

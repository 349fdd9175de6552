#include <gtest/gtest.h>

#include "mail/Registration.h"

namespace {

TEST(Registration, AddressCheck)
{
    const struct { const char* address; bool incomplete; } cases[] = {
        {"", false},           {"a@b.c", false},     {"a.b@c", false},      {"@.", false},
        {"a@b", true},         {"a.b", true},        {"ab", true},          {" ", true},
        {"ａ＠ｂ．ｃ", true},  // full-width forms only
        {"ァ.", true},         // ァ is 83 40: its trail byte is no "@"
        {"ァ@x.", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsIncompleteAddress(c.address), c.incomplete) << c.address;
    }
}

TEST(Registration, EmptyFormGivesFifteenLinesWithEmptyValues)
{
    TRegistrationEntry entry;
    entry.Date = "2026/12/08";
    entry.Sex = "男性";
    const auto body = RegistrationBody(entry);
    ASSERT_EQ(body.size(), 15u);
    EXPECT_EQ(body[0], "--ここから--");
    EXPECT_EQ(body[1], "");
    EXPECT_EQ(body[2], "お申込日 = 2026/12/08");
    EXPECT_EQ(body[3], "作品番号 = ZO000002");
    EXPECT_EQ(body[4], "お申込作品名 = デスクトップdoduza");
    EXPECT_EQ(body[5], "施設名 = ");
    EXPECT_EQ(body[6], "利用者氏名 = ");
    for (int i : {7, 8, 9, 10}) EXPECT_EQ(body[i].substr(body[i].size() - 3), " = ") << i;
    EXPECT_EQ(body[11], "e-mail = ");
    EXPECT_EQ(body[12], "お知らせメールを受信する");
    EXPECT_EQ(body[13], "性別 =男性");
    EXPECT_EQ(body[14], "年齢 =");
    EXPECT_EQ(RegistrationSenderName(""), "記入なし");
}

TEST(Registration, ValuesAreTakenAsTyped)
{
    TRegistrationEntry entry{"2026/1/2", "  ", "山田 太郎", "a@b.c", true, "女性", "３０代"};
    const auto body = RegistrationBody(entry);
    EXPECT_EQ(body[5], "施設名 =   ");
    EXPECT_EQ(body[6], "利用者氏名 = 山田 太郎");
    EXPECT_EQ(body[11], "e-mail = a@b.c");
    EXPECT_EQ(body[12], "メール受信拒否");
    EXPECT_EQ(body[13], "性別 =女性");
    EXPECT_EQ(body[14], "年齢 =３０代");
    EXPECT_EQ(RegistrationSenderName("  "), "  "); // spaces are a name
}

TEST(Registration, ConfiguredValues)
{
    EXPECT_EQ(MailboxDomain("setup@doduza.example"), "doduza.example");
    EXPECT_EQ(MailboxDomain("nodomain"), "nodomain");
    // The HELO argument is a domain, never a mailbox.
    EXPECT_EQ(std::string(RegistrationConfig::HeloDomain).find('@'), std::string::npos);
    const std::string notice = SupportNotice();
    const auto lf = notice.find('\n');
    ASSERT_NE(lf, std::string::npos);
    EXPECT_EQ(notice.find('\n', lf + 1), std::string::npos);
    EXPECT_NE(notice.find(RegistrationConfig::SupportMailbox, lf), std::string::npos);
}

TEST(Registration, HalfWidthKanaBecomeFullWidthSoTheMailStaysSevenBit)
{
    const struct { const char* typed; const char* sent; } cases[] = {
        {"\xB6\xDE\xB7\xDE\xCA\xDF\xCB\xDE\xB3\xDE", "ガギパビヴ"}, // ｶﾞｷﾞﾊﾟﾋﾞｳﾞ
        {"\xB1\xB2\xA1\xB0\xDD", "アイ。ーン"},                    // ｱｲ｡ｰﾝ
        {"\xDE\xB1\xDF\xDC\xDE", "゛ア゜ワ゛"},                     // no voiced form: marks stand alone
        {"漢\xB6 a", "漢カ a"},                                        // 漢 is 8A BF: its trail byte stays
        {"ﾃｽﾄ", "テスト"},
        {"", ""},
        {"\x8A", "\x8A"}, // a lead byte cut off at the end
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FullWidthKana(c.typed), c.sent) << c.typed;
    }
    for (int b = 0xA1; b <= 0xDF; ++b) {
        for (const char* mark : {"", "\xDE", "\xDF"}) {
            const std::string jis = RegistrationJis(std::string(1, static_cast<char>(b)) + mark);
            for (const char ch : jis) ASSERT_LT(static_cast<unsigned char>(ch), 0x80) << std::hex << b;
        }
    }
}

// Every half-width kana that has a voiced full-width form, with its mark, and the neighbours that
// have none (the mark stays, as ゛ or ゜): the JIS X 0208 run the mail carries, from iconv of the
// full-width text.
TEST(Registration, VoicedHalfWidthKanaInTheMail)
{
    const struct { const char* typed; const char* jis; } rows[] = {
        {"ｶﾞｷﾞｸﾞｹﾞｺﾞｻﾞｼﾞｽﾞｾﾞｿﾞﾀﾞﾁﾞﾂﾞﾃﾞﾄﾞ", "%,%.%0%2%4%6%8%:%<%>%@%B%E%G%I"}, // ガ to ド
        {"ﾊﾞﾋﾞﾌﾞﾍﾞﾎﾞ", "%P%S%V%Y%\\"},                                                  // バビブベボ
        {"ﾊﾟﾋﾟﾌﾟﾍﾟﾎﾟ", "%Q%T%W%Z%]"},                                                    // パピプペポ
        {"ｳﾞ", "%t"},                                                                      // ヴ
        {"ｱﾞｲﾞｴﾞｵﾞﾅﾞﾉﾞﾏﾞﾜﾞｦﾞﾝﾞｰﾞ", "%\"!+%$!+%(!+%*!+%J!+%N!+%^!+%o!+%r!+%s!+!<!+"},  // ア゛イ゛ ... ー゛
        {"ｶﾟﾄﾟｳﾟﾉﾟﾏﾟｱﾟ", "%+!,%H!,%&!,%N!,%^!,%\"!,"},                                   // カ゜ト゜ウ゜ノ゜マ゜ア゜
        {"ﾞﾟﾞﾞ", "!+!,!+!+"},                                                              // ゛゜゛゛
    };
    for (const auto& row : rows) {
        EXPECT_EQ(RegistrationJis(row.typed), std::string("\x1B$B") + row.jis + "\x1B(B") << row.typed;
    }
}

} // namespace

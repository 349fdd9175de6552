// Shift_JIS to ISO-2022-JP and encoded-words against Python's shift_jis / iso2022_jp codecs and
// its email package (codec_vectors.inc), plus the cases those peers cannot express.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "codec/Mailconvert.h"
#include "codec_vectors.inc"

namespace {

using namespace std::string_literals;

std::string Bytes(std::string_view s)
{
    return std::string(s);
}

TEST(Mailconvert, EveryJisX0208CharacterMatchesPython)
{
    const std::string_view sjis = codec_vectors::kAllSjisPairs;
    const std::string_view jis = codec_vectors::kAllJisPairs;
    ASSERT_EQ(sjis.size(), jis.size());
    ASSERT_GT(sjis.size(), 2u * 6000);
    for (std::size_t i = 0; i < sjis.size(); i += 2) {
        const std::string pair = Bytes(sjis.substr(i, 2));
        const std::string expect = "\x1B$B" + Bytes(jis.substr(i, 2)) + "\x1B(B";
        ASSERT_EQ(SjisToJis(pair), expect) << "pair at " << i;
        int c1 = static_cast<unsigned char>(pair[0]);
        int c2 = static_cast<unsigned char>(pair[1]);
        SjisPairToJis(c1, c2);
        ASSERT_EQ(c1, static_cast<unsigned char>(jis[i]));
        ASSERT_EQ(c2, static_cast<unsigned char>(jis[i + 1]));
    }
    // The whole set as one run: a single ESC $ B at the start, one ESC ( B at the end.
    EXPECT_EQ(SjisToJis(Bytes(sjis)), "\x1B$B" + Bytes(jis) + "\x1B(B");
}

TEST(Mailconvert, RandomTextsMatchPython)
{
    for (const auto& v : codec_vectors::kTexts) {
        const std::string jis = SjisToJis(Bytes(v.Sjis));
        ASSERT_EQ(jis, v.Jis) << "input " << ::testing::PrintToString(Bytes(v.Sjis));
        ASSERT_EQ(MakeEncodedWord(jis), v.Word);
    }
}

TEST(Mailconvert, SourceLiteralsAreShiftJis)
{
    EXPECT_EQ(std::string("ユーザー登録完了メール"),
              "\x83\x86\x81\x5B\x83\x55\x81\x5B\x93\x6F\x98\x5E\x8A\xAE\x97\xB9\x83\x81\x81\x5B\x83\x8B");
}

TEST(Mailconvert, WorkedExamplesAndEdgeCases)
{
    struct Case {
        std::string Sjis;
        std::string Jis;
    } const cases[] = {
        {"ユーザー登録完了メール", "\x1B$B%f!<%6!<EPO?40N;%a!<%k\x1B(B"},
        {"登録ABC", "\x1B$BEPO?\x1B(B" "ABC"},
        {"A登録", "A\x1B$BEPO?\x1B(B"},
        {"", ""},
        {"plain text\r\n", "plain text\r\n"},
        // Line breaks after double-byte characters come after the return to ASCII.
        {"登\r\n録", "\x1B$BEP\x1B(B\r\n\x1B$BO?\x1B(B"},
        // Half-width katakana, 0x80, 0xA0 and 0xFD to 0xFF are single bytes, copied in ASCII mode.
        {"\xB1登", "\xB1\x1B$BEP\x1B(B"},
        {"\x80\xA0\xDF\xFD\xFE\xFF", "\x80\xA0\xDF\xFD\xFE\xFF"},
        // An invalid trail byte is kept with its lead byte inside the JIS X 0208 run.
        {"\x81\x20\x41", "\x1B$B\x81\x20\x1B(B\x41"},
        {"\x81\x7F", "\x1B$B\x81\x7F\x1B(B"},
        {"\x81\x3F", "\x1B$B\x81\x3F\x1B(B"},
        {"\xE0\xFD", "\x1B$B\xE0\xFD\x1B(B"},
        // A lead byte at the end: nothing beyond the text is read.
        {"\x41\x81", "\x41\x1B$B\x81\x1B(B"},
        // The text ends at its first 0 byte, also where a trail byte is due.
        {"A\0登"s, "A"},
        {"\x81\0X"s, "\x1B$B\x81\x1B(B"},
        // User-defined characters go through the same arithmetic, unsubstituted.
        {"\xF0\x40", "\x1B$B\x7F\x21\x1B(B"},
        {"\xFC\xFC", "\x1B$B\x98\x7E\x1B(B"},
        {"\xF9\x9E", "\x1B$B\x91\x7E\x1B(B"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SjisToJis(c.Sjis), c.Jis) << ::testing::PrintToString(c.Sjis);
    }
}

TEST(Mailconvert, EncodedWords)
{
    struct Case {
        std::string Text;
        std::string Word;
    } const cases[] = {
        {SjisToJis("ユーザー登録完了メール"), "=?iso-2022-jp?B?GyRCJWYhPCU2ITxFUE8/NDBOOyVhITwlaxsoQg==?="},
        {SjisToJis("記入なし"), "=?iso-2022-jp?B?GyRCNS1GfiRKJDcbKEI=?="},
        {"", "=?iso-2022-jp?B?" "?="},
        {"A", "=?iso-2022-jp?B?QQ==?="},
        {"AB", "=?iso-2022-jp?B?QUI=?="},
        {"ABC", "=?iso-2022-jp?B?QUJD?="},
        // Bytes above 0x7F are taken unsigned.
        {SjisToJis("\xB1"), "=?iso-2022-jp?B?sQ==?="},
        {"\xFF\xFF\xFF", "=?iso-2022-jp?B?////?="},
        {"AB\0CD"s, "=?iso-2022-jp?B?QUI=?="},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MakeEncodedWord(c.Text), c.Word) << ::testing::PrintToString(c.Text);
    }
    EXPECT_EQ(MakeEncodedWord(SjisToJis("\xB1登")).substr(16, 2), "sR");
}

TEST(Mailconvert, LongTextStaysOneWord)
{
    std::string name;
    for (int i = 0; i < 40; ++i) name += "登録";
    const std::string word = MakeEncodedWord(SjisToJis(name));
    EXPECT_GT(word.size(), 75u);
    const std::string prefix = "=?iso-2022-jp?B?";
    ASSERT_EQ(word.compare(0, prefix.size(), prefix), 0);
    ASSERT_EQ(word.compare(word.size() - 2, 2, "?="), 0);
    const std::string body = word.substr(prefix.size(), word.size() - prefix.size() - 2);
    EXPECT_EQ(body.size() % 4, 0u);
    EXPECT_EQ(body.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
              std::string::npos);
}

TEST(Mailconvert, Base64DigitCoversTheAlphabetAndNothingElse)
{
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int v = 0; v < 64; ++v) {
        EXPECT_EQ(Base64Digit(v), alphabet[static_cast<std::size_t>(v)]) << v;
    }
    for (int v : {-1, 64, 65, 255, -64}) {
        EXPECT_EQ(Base64Digit(v), '=') << v;
    }
}

} // namespace

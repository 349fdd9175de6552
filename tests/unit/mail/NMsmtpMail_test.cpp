// The SMTP client's portable core: addresses, header lines, the body on the wire (dot-stuffing
// and line breaks inside lines), attachments with their events and failures, the refusal of text
// that would leave its line, and the reply rules. Natively the assembled mails also go through
// Python's email package (mail_check.py).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "mail/NMsmtpMail.h"
#include "net/PsockText.h"

#if !defined(_WIN32)
#include <dirent.h>
#endif

namespace {

using namespace std::string_literals;
namespace fs = std::filesystem;

std::string Content(TMemoryStream& s)
{
    return std::string(reinterpret_cast<const char*>(s.Memory()), static_cast<std::size_t>(s.Size()));
}

std::vector<std::string> Lines(const TStringList& list)
{
    std::vector<std::string> out;
    for (int i = 0; i < list.Count(); ++i) out.push_back(list[i]);
    return out;
}

void Fill(TStringList& list, const std::vector<std::string>& lines)
{
    list.Clear();
    for (const auto& l : lines) list.Add(l);
}

void WriteFile(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Where a CR or LF stands alone, or a line is "." by itself: what the wire must never carry in
// the data. -1 when clean.
long WireFault(const std::string& data)
{
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (data[i] == '\r' && (i + 1 == data.size() || data[i + 1] != '\n')) return static_cast<long>(i);
        if (data[i] == '\n' && (i == 0 || data[i - 1] != '\r')) return static_cast<long>(i);
        if (data[i] == '.' && (i == 0 || data[i - 1] == '\n') && data.compare(i, 3, ".\r\n") == 0) return static_cast<long>(i);
    }
    return -1;
}

struct Assembled {
    TExStringList Header;
    TMemoryStream Stream;
    std::string Boundary = "unset";
    std::vector<std::string> Events;
    TAttachmentEvents Callbacks{
        [this](const std::string& f) { Events.push_back("start " + f); },
        [this](const std::string& f) { Events.push_back("end " + f); },
        [this](const std::string& f) { Events.push_back("not found " + f); },
    };

    void Run(const TPostMessage& msg, TMailFormat format = {})
    {
        AssembleMail(msg, format, Callbacks, Header, Stream, Boundary);
    }
    std::string Wire() { return HeaderText(Header) + Content(Stream); }
};

// A folder of its own under the system's temporary folder, made the working folder for the
// test's life, so that attachments are named without a folder on every system.
class TempFolder {
public:
    TempFolder()
    {
        Path = fs::temp_directory_path() /
               ("smtp_core_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(Path);
        fs::current_path(Path);
    }
    ~TempFolder()
    {
        fs::current_path(Saved);
        std::error_code ec;
        fs::remove_all(Path, ec);
    }
    std::string File(const std::string& name, const std::string& bytes) const
    {
        WriteFile(Path / name, bytes);
        return name;
    }
    fs::path Saved = fs::current_path();
    fs::path Path;
};

TEST(SmtpCore, ExtractAddress)
{
    const struct { const char* entry; const char* address; } cases[] = {
        {"Taro Yamada <taro@example.jp>", "taro@example.jp"},
        {"taro@example.jp", "taro@example.jp"},
        {"<taro@example.jp>", "taro@example.jp"},
        {"name <a@b", "a@b"},          // no ">": up to the end
        {"name <a<b>", "a"},           // a further "<" ends it
        {"x> y <a@b> z", "a@b"},
        {"To: bob", " bob"},           // nothing trimmed
        {"a:b:c", "b"},
        {"group:", ""},                // skipped by the sender
        {"<>", ""},
        {"", ""},
        {"\x8E\x52\x93\x63 <a@b>", "a@b"}, // a Shift_JIS display name
    };
    for (const auto& c : cases) EXPECT_EQ(ExtractAddress(c.entry), c.address) << c.entry;
}

TEST(SmtpCore, HeaderLines)
{
    struct Case {
        const char* name;
        std::function<void(TPostMessage&)> fill;
        TSubType subType;
        std::vector<std::string> header;
    };
    const auto base = [](TPostMessage& m) {
        m.SetFromAddress("a@b");
        m.ToAddress().Add("c@d");
    };
    const std::vector<Case> cases = {
        {"minimal", base, mtPlain,
         {"From: <a@b>", "To: c@d", "Mime-Version: 1.0", "Content-Type: text/plain; charset=us-ascii"}},
        {"everything, in order",
         [&](TPostMessage& m) {
             base(m);
             m.SetFromName("=?iso-2022-jp?B?GyRCNS1GfiRKJDcbKEI=?=");
             m.ToAddress().Add("Name <e@f>");
             m.ToCarbonCopy().Add("g@h");
             m.ToCarbonCopy().Add("i@j");
             m.ToBlindCarbonCopy().Add("hidden@x");
             m.SetSubject("s");
             m.SetLocalProgram("prog 1");
             m.SetReplyTo("r@s");
             m.SetDate("Tue, 8 Dec 2026 10:00:00 +0900");
         },
         mtPlain,
         {"From: =?iso-2022-jp?B?GyRCNS1GfiRKJDcbKEI=?=<a@b>", "To: c@d,Name <e@f>", "CC: g@h,i@j", "Subject: s",
          "X-Mailer: prog 1", "Reply-To: r@s", "Date: Tue, 8 Dec 2026 10:00:00 +0900", "Mime-Version: 1.0",
          "Content-Type: text/plain; charset=us-ascii"}},
        {"nothing at all", [](TPostMessage&) {}, mtPlain,
         {"From: <>", "Mime-Version: 1.0", "Content-Type: text/plain; charset=us-ascii"}},
        {"only CC", [](TPostMessage& m) { m.ToCarbonCopy().Add("x@y"); }, mtPlain,
         {"From: <>", "CC: x@y", "Mime-Version: 1.0", "Content-Type: text/plain; charset=us-ascii"}},
        {"enriched", base, mtEnriched, {"From: <a@b>", "To: c@d", "Mime-Version: 1.0", "Content-Type: text/enriched; charset=us-ascii"}},
        {"sgml", base, mtSgml, {"From: <a@b>", "To: c@d", "Mime-Version: 1.0", "Content-Type: text/sgml; charset=us-ascii"}},
        {"tab-separated", base, mtTabSeperated,
         {"From: <a@b>", "To: c@d", "Mime-Version: 1.0", "Content-Type: text/tab-separated-values; charset=us-ascii"}},
        {"html", base, mtHtml, {"From: <a@b>", "To: c@d", "Mime-Version: 1.0", "Content-Type: text/html; charset=us-ascii"}},
    };
    for (const auto& c : cases) {
        TPostMessage msg;
        c.fill(msg);
        Assembled a;
        a.Header.Add("From: stale line");
        a.Run(msg, {c.subType, "us-ascii", uuMime});
        EXPECT_EQ(Lines(a.Header), c.header) << c.name;
        EXPECT_EQ(a.Boundary, "unset") << c.name;
    }
    TPostMessage msg;
    Assembled a;
    a.Run(msg, {mtPlain, "iso-2022-jp", uuMime});
    EXPECT_EQ(a.Header[a.Header.Count() - 1], "Content-Type: text/plain; charset=iso-2022-jp");
}

TEST(SmtpCore, BodyLinesOnTheWire)
{
    const struct { std::string line, wire; } cases[] = {
        {"plain text", "plain text\r\n"},
        {"", "\r\n"},
        {".", "..\r\n"},
        {".x", "..x\r\n"},
        {"..", "...\r\n"},
        {" .", " .\r\n"},
        {"\x1b$B%f!<%6\x1b(B", "\x1b$B%f!<%6\x1b(B\r\n"},
        {"nul\0inside"s, "nul\0inside\r\n"s},
        // Breaks inside a line: each piece is a line of its own, dot-stuffed on its own.
        {"a\r\nb", "a\r\nb\r\n"},
        {"a\rb", "a\r\nb\r\n"},
        {"a\nb", "a\r\nb\r\n"},
        {"a\n\rb", "a\r\n\r\nb\r\n"},
        {"a\r\r\nb", "a\r\n\r\nb\r\n"},
        {"end\r\n", "end\r\n\r\n"},
        {"\r", "\r\n\r\n"},
        {"x\r\n.\r\nMAIL FROM:<evil@x>\r\nRCPT TO:<victim@y>\r\nDATA",
         "x\r\n..\r\nMAIL FROM:<evil@x>\r\nRCPT TO:<victim@y>\r\nDATA\r\n"},
        {"x\n.\nQUIT", "x\r\n..\r\nQUIT\r\n"},
        {"x\r.\rQUIT", "x\r\n..\r\nQUIT\r\n"},
    };
    for (const auto& c : cases) {
        std::string out = "kept";
        AppendBodyLine(out, c.line);
        EXPECT_EQ(out, "kept" + c.wire) << c.line;
        EXPECT_EQ(WireFault(out.substr(4)), -1) << c.line;
    }
}

TEST(SmtpCore, MailWithoutAttachments)
{
    TPostMessage msg;
    msg.SetFromAddress("a@b");
    msg.ToAddress().Add("c@d");
    Assembled a;
    a.Stream.WriteBuffer("old", 3);
    a.Run(msg);
    EXPECT_EQ(a.Wire(), "From: <a@b>\r\nTo: c@d\r\nMime-Version: 1.0\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n\r\n");
    Fill(msg.Body(), {"line 1", ".", "", "a\nb"});
    a.Run(msg);
    EXPECT_EQ(Content(a.Stream), "line 1\r\n..\r\n\r\na\r\nb\r\n");
    EXPECT_TRUE(a.Events.empty());
}

TEST(SmtpCore, BoundaryShape)
{
    std::set<char> letters;
    std::set<std::string> seen;
    for (int i = 0; i < 2000; ++i) {
        const std::string b = MakeBoundary();
        ASSERT_EQ(b.size(), 35u);
        ASSERT_EQ(b.substr(0, 25), "====================54535");
        ASSERT_EQ(b.substr(31), "====");
        for (char c : b.substr(25, 6)) {
            ASSERT_TRUE(c >= 'a' && c <= 'y') << b;
            letters.insert(c);
        }
        seen.insert(b);
    }
    EXPECT_EQ(letters.size(), 25u);
    EXPECT_GT(seen.size(), 1990u);
}

// Two small files give an exact layout, with the processor's worked examples as the data.
TEST(SmtpCore, MultipartLayout)
{
    TempFolder dir;
    TPostMessage msg;
    msg.SetFromAddress("a@b");
    msg.ToAddress().Add("c@d");
    Fill(msg.Body(), {"text", ".dot"});
    // A uuencoded line of 14 bytes begins with its length character, ".", which is stuffed.
    Fill(msg.Attachments(), {dir.File("cat.txt", "Cat"), dir.File("empty.bin", ""), dir.File("14.bin", "fourteen bytes")});
    for (const UUMethods method : {uuMime, uuCode}) {
        Assembled a;
        a.Run(msg, {mtHtml, "iso-2022-jp", method});
        const std::string& b = a.Boundary;
        ASSERT_EQ(b.size(), 35u);
        EXPECT_EQ(a.Header[a.Header.Count() - 1], "Content-Type: multipart/mixed; boundary=\"" + b + "\"");
        const std::string cte = method == uuMime ? "base64" : "x-uuencode";
        const auto part = [&](const std::string& name, const std::string& data) {
            return "--" + b + "\r\nContent-Type: application/octet-stream; name=\"" + name +
                   "\"\r\nContent-Transfer-Encoding: " + cte + "\r\nContent-Disposition: attachment; filename=\"" + name +
                   "\"\r\n\r\n" + data;
        };
        const std::string expect = "--" + b + "\r\nContent-Type: text/plain; charset=iso-2022-jp\r\n\r\ntext\r\n..dot\r\n" +
                                   part("cat.txt", method == uuMime ? "Q2F0\r\n" : "begin 644 cat.txt\r\n#0V%T\r\n`\r\nend\r\n") +
                                   part("empty.bin", method == uuMime ? "" : "begin 644 empty.bin\r\n`\r\nend\r\n") +
                                   part("14.bin", method == uuMime ? "Zm91cnRlZW4gYnl0ZXM=\r\n"
                                                                   : "begin 644 14.bin\r\n..9F]U<G1E96X@8GET97,\r\n`\r\nend\r\n") +
                                   "--" + b + "--\r\n";
        EXPECT_EQ(Content(a.Stream), expect) << method;
        std::vector<std::string> events;
        for (int i = 0; i < 3; ++i) events.insert(events.end(), {"start " + msg.Attachments()[i], "end " + msg.Attachments()[i]});
        EXPECT_EQ(a.Events, events);
    }
}

int OpenFiles()
{
#if defined(_WIN32)
    return 0;
#else
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d) != nullptr) ++n;
        closedir(d);
    }
    return n;
#endif
}

// Failures while attaching: the error that passes on, the events fired, and every file closed
// (natively counted; under Windows an open file could not be removed).
TEST(SmtpCore, AttachmentFailures)
{
    TempFolder dir;
    const std::string present = dir.File("present.bin", std::string(100, 'x'));
    const std::string missing = "missing.bin";
    const std::string huge = dir.File("huge.bin", "");
    {
        TFileStream f(huge, fmOpenReadWrite);
        f.SetSize((int64_t{1} << 30) + 1);
    }
    struct Case {
        const char* name;
        std::vector<std::string> files;
        const char* throwIn; // an event handler that raises
        const char* error;   // the message's start
        bool openError;      // an EFOpenError, for the owner to tell a missing file
        std::vector<std::string> events;
    };
    const std::vector<Case> cases = {
        {"missing first", {missing, present}, "", "Cannot open file", true, {"not found " + missing}},
        {"missing second", {present, missing}, "", "Cannot open file", true,
         {"start " + present, "end " + present, "not found " + missing}},
        {"over 1 GiB", {huge}, "", "Attachment \"", false, {}},
        {"start handler raises", {present}, "start", "from start", false, {"start " + present}},
        {"end handler raises", {present}, "end", "from end", false, {"start " + present, "end " + present}},
        {"not-found handler raises", {missing}, "not found", "from not found", false, {"not found " + missing}},
    };
    for (const auto& c : cases) {
        const int before = OpenFiles();
        TPostMessage msg;
        Fill(msg.Attachments(), c.files);
        Assembled a;
        const auto raising = [&](const char* kind, TFileItem& event) {
            event = [&a, &c, kind](const std::string& f) {
                a.Events.push_back(kind + " "s + f);
                if (std::string(c.throwIn) == kind) throw Exception("from "s + kind);
            };
        };
        raising("start", a.Callbacks.OnEncodeStart);
        raising("end", a.Callbacks.OnEncodeEnd);
        raising("not found", a.Callbacks.OnAttachmentNotFound);
        try {
            a.Run(msg);
            ADD_FAILURE() << c.name << ": no error";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message().rfind(c.error, 0), 0u) << c.name << ": " << e.Message();
            EXPECT_EQ(dynamic_cast<const EFOpenError*>(&e) != nullptr, c.openError) << c.name;
        }
        EXPECT_EQ(a.Events, c.events) << c.name;
        EXPECT_EQ(OpenFiles(), before) << c.name;
    }
    std::error_code ec;
    fs::remove(present, ec);
    EXPECT_FALSE(ec) << "present.bin is still open";
    fs::remove(huge, ec);
    EXPECT_FALSE(ec) << "huge.bin is still open";
}

TEST(SmtpCore, TextThatWouldLeaveItsLineIsRefused)
{
    struct Case {
        const char* field;
        std::function<void(TPostMessage&, const std::string&)> set;
    };
    const std::vector<Case> cases = {
        {"FromAddress", [](TPostMessage& m, const std::string& v) { m.SetFromAddress(v); }},
        {"FromName", [](TPostMessage& m, const std::string& v) { m.SetFromName(v); }},
        {"Subject", [](TPostMessage& m, const std::string& v) { m.SetSubject(v); }},
        {"ReplyTo", [](TPostMessage& m, const std::string& v) { m.SetReplyTo(v); }},
        {"Date", [](TPostMessage& m, const std::string& v) { m.SetDate(v); }},
        {"LocalProgram", [](TPostMessage& m, const std::string& v) { m.SetLocalProgram(v); }},
        {"ToAddress entry 2", [](TPostMessage& m, const std::string& v) { m.ToAddress().Add(v); }},
        {"ToCarbonCopy entry 1", [](TPostMessage& m, const std::string& v) { m.ToCarbonCopy().Clear(); m.ToCarbonCopy().Add(v); }},
        {"ToBlindCarbonCopy entry 1", [](TPostMessage& m, const std::string& v) { m.ToBlindCarbonCopy().Add(v); }},
        {"Attachments entry 1", [](TPostMessage& m, const std::string& v) { m.Attachments().Add(v); }},
    };
    for (const auto& c : cases) {
        for (const std::string& bad : {"x\r\nRCPT TO:<y@z>"s, "x\ry"s, "x\ny"s, "x\0y"s, "\n"s}) {
            TPostMessage msg;
            msg.SetFromAddress("a@b");
            msg.ToAddress().Add("c@d");
            msg.ToCarbonCopy().Add("e@f");
            CheckMailFields(msg);
            c.set(msg, bad);
            try {
                CheckMailFields(msg);
                ADD_FAILURE() << c.field << " not refused";
            } catch (const Exception& e) {
                EXPECT_EQ(e.Message(), "Refused: "s + c.field + " contains a CR, LF or NUL character");
            }
        }
    }
    const struct { std::string (*make)(std::string_view); const char* field; const char* good; } commands[] = {
        {HeloCommand, "UserID", "HELO host.example"},
        {MailFromCommand, "FromAddress", "MAIL FROM:<host.example>"},
        {RcptToCommand, "Recipient address", "RCPT TO:<host.example>"},
        {VrfyCommand, "VRFY address", "VRFY host.example"},
        {ExpnCommand, "EXPN list name", "EXPN host.example"},
    };
    for (const auto& c : commands) {
        EXPECT_EQ(c.make("host.example"), c.good);
        for (const std::string& bad : {"h\r\nQUIT"s, "h\r"s, "h\n"s, "h\0"s}) {
            try {
                c.make(bad);
                ADD_FAILURE() << c.field << " not refused";
            } catch (const Exception& e) {
                EXPECT_EQ(e.Message(), "Refused: "s + c.field + " contains a CR, LF or NUL character");
            }
        }
    }
    // Lines an OnSendStart handler puts in, and the charset, are refused where they are written.
    TExStringList header;
    header.Add("From: <a@b>");
    header.Add("X-Bad: a\r\nBcc: x@y");
    EXPECT_THROW(
        {
            try {
                HeaderText(header);
            } catch (const Exception& e) {
                EXPECT_EQ(e.Message(), "Refused: FinalHeader line 2 (X-Bad) contains a CR, LF or NUL character");
                throw;
            }
        },
        Exception);
    TPostMessage msg;
    Assembled a;
    EXPECT_THROW(a.Run(msg, {mtPlain, "us-ascii\r\nX: y", uuMime}), Exception);
}

// The header goes in one write of at most 65,535 bytes: the longest that fits is sent, one more
// byte is refused before any command.
TEST(SmtpCore, HeaderTextBound)
{
    TExStringList header;
    EXPECT_EQ(HeaderText(header), "\r\n\r\n");
    header.Add("Subject: " + std::string(65535 - 4 - 2 - 9, 'x'));
    EXPECT_EQ(HeaderText(header).size(), 65535u);
    header.Put(0, header[0] + "x");
    EXPECT_THROW(HeaderText(header), Exception);
}

TEST(SmtpCore, ReplyRules)
{
    const struct { const char* line; int number; bool more; } cases[] = {
        {"220 peer.test ready\r\n", 220, false},
        {"220-peer.test first\r\n", 220, true},
        {" continued\r\n", 0, true},
        {"250\r\n", 250, false},
        {"25-\r\n", 25, false},
        {"250-\r\n", 250, true},
        {"no number\r\n", 0, false},
        {"abc-\r\n", 0, true},
        {"", 0, false},
        {"\r\n", 0, false},
        {"-\r\n", 0, false},
        {"32767 max\r\n", 32767, false},
        {"00000000000451 many zeros\r\n", 0, false}, // at most ten digits are read
        {"0000000451x\r\n", 451, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReplyNumberOf(c.line), c.number) << c.line;
        EXPECT_EQ(IsContinuationLine(c.line), c.more) << c.line;
    }
    EXPECT_THROW(ReplyNumberOf("32768 over\r\n"), ERangeError);
    EXPECT_THROW(ReplyNumberOf("99999999999\r\n"), ERangeError);
}

TEST(SmtpCore, EnvelopeAndParameters)
{
    TPostMessage msg;
    EXPECT_EQ(IncompleteHeaderType(msg), 1);
    msg.ToAddress().Add("c@d");
    EXPECT_EQ(IncompleteHeaderType(msg), 1);
    msg.SetFromAddress("a@b");
    EXPECT_EQ(IncompleteHeaderType(msg), 0);
    msg.ToAddress().Clear();
    EXPECT_EQ(IncompleteHeaderType(msg), 2);
    msg.ToBlindCarbonCopy().Add("group:");
    EXPECT_EQ(IncompleteHeaderType(msg), 0); // an entry counts, even one that gives no address

    TStringList to, cc, bcc, body, files;
    Fill(to, {"Name <t1@x>", "t2@x"});
    Fill(cc, {"group:", "c1@x"});
    Fill(bcc, {"b1@x"});
    Fill(body, {"line"});
    Fill(files, {"f"});
    msg.SetLinesTo(to);
    msg.SetLinesCC(cc);
    msg.SetLinesBCC(bcc);
    msg.SetLinesBody(body);
    msg.SetLinesAttachments(files);
    to.Clear(); // the message holds copies
    std::vector<std::string> got;
    for (const auto& r : EnvelopeRecipients(msg)) got.push_back(r.Entry + "|" + r.Address);
    EXPECT_EQ(got, (std::vector<std::string>{"Name <t1@x>|t1@x", "t2@x|t2@x", "c1@x|c1@x", "b1@x|b1@x"}));

    msg.SetSubject("s");
    ClearMailParameters(msg);
    EXPECT_EQ(msg.ToAddress().Count() + msg.ToCarbonCopy().Count() + msg.ToBlindCarbonCopy().Count() +
                  msg.Attachments().Count(),
              0);
    EXPECT_EQ(Lines(msg.Body()), std::vector<std::string>{"line"});
    EXPECT_EQ(msg.Subject(), "s");
    EXPECT_EQ(msg.FromAddress(), "a@b");
}

#if !defined(_WIN32)
// The assembled mail as Python's email package reads it, unstuffed as a server stores it: every
// attachment comes back byte for byte through get_payload(decode=True) in both encodings, and a
// body trying to end the data early stays text.
TEST(SmtpCore, PythonReadsTheAssembledMail)
{
    TempFolder dir;
    std::string every;
    for (int r = 0; r < 7; ++r)
        for (int c = 0; c < 256; ++c) every += static_cast<char>(c);
    // Its uuencoded line begins with the length character of 14 bytes, ".".
    const std::string dotLine("\0\xFF.\r\n.\r\n\x80\x7F\x01\xFE\r\n", 14);
    const struct { const char* name; std::string bytes; } files[] = {
        {"empty.bin", ""},
        {"1.bin", std::string(1, '\0')},          // a line of back-quotes
        {"45.bin", every.substr(100, 45)},         // one full line
        {"46.bin", every.substr(200, 46)},         // a full line and a line of one byte
        {"14.bin", dotLine},
        {"59.bin", every.substr(0, 45) + dotLine}, // a "." line after a full one
        {"every byte.bin", every + "\r\n.\r\n"},
    };
    TPostMessage msg;
    msg.SetFromAddress("a@b");
    msg.ToAddress().Add("Name <c@d>");
    msg.SetSubject("=?iso-2022-jp?B?GyRCNS1GfiRKJDcbKEI=?=");
    Fill(msg.Body(), {"hello", ".", "x\r\n.\r\nQUIT", "y\rz"});
    std::string attachments;
    for (const auto& f : files) {
        msg.Attachments().Add(dir.File(f.name, f.bytes));
        attachments += " --attachment '" + std::string(f.name) + "=" + f.name + "'";
    }
    const std::string body = dir.File("body.txt", "hello\r\n.\r\nx\r\n.\r\nQUIT\r\ny\r\nz");
    for (const UUMethods method : {uuMime, uuCode}) {
        Assembled a;
        a.Run(msg, {mtPlain, "us-ascii", method});
        const std::string wire = a.Wire();
        ASSERT_EQ(WireFault(wire), -1);
        const std::string mail = dir.File("mail.txt", wire);
        const std::string command = std::string(SETUP_PYTHON) + " " + MAIL_CHECK_SCRIPT + " --stuffed '" + mail +
                                    "' --body-file '" + body + "' --encoding " +
                                    (method == uuMime ? "base64" : "x-uuencode") + attachments;
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
    }
    // The checker itself finds a damaged mail.
    Assembled a;
    a.Run(msg);
    std::string wire = a.Wire();
    wire[wire.find("AAECAwQF")] = 'B';
    const std::string mail = dir.File("bad.txt", wire);
    const std::string command = std::string(SETUP_PYTHON) + " " + MAIL_CHECK_SCRIPT + " --stuffed '" + mail + "'" +
                                attachments + " >/dev/null";
    EXPECT_NE(std::system(command.c_str()), 0);
}
#endif

} // namespace

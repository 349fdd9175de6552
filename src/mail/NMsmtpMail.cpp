#include "mail/NMsmtpMail.h"

#include <chrono>
#include <random>

#include "net/NMS_Stream.h"
#include "net/PsockText.h"
#include "toolkit/SysUtils.h"

namespace {

constexpr std::string_view kBreakingBytes("\r\n\0", 3);
constexpr std::string_view kCrLf = "\r\n";
// The mail is held in memory and moved with 32-bit counts; an attachment's encoded form (4/3 of
// the file and a line end per 45 bytes) must stay well inside that.
constexpr int64_t kMaxAttachmentBytes = int64_t{1} << 30;
// The header is written after DATA has been accepted, in one piece: failing then would leave
// the server reading the next commands as mail text, so a header longer than the socket layer
// writes at once is refused before the first command.
constexpr auto kMaxWrite = static_cast<std::size_t>(PsockBufferSize);

void WriteText(TMemoryStream& Stream, std::string_view Text)
{
    if (!Text.empty()) {
        Stream.WriteBuffer(Text.data(), static_cast<int32_t>(Text.size()));
    }
}

// The one dot-stuffing rule of the mail's content, for its text and its encoded attachments
// alike: what goes in front of Line on the wire. A line that begins with "." gets one more; the
// server takes one away, and no line "." of the mail ends the data early.
std::string_view Stuffing(std::string_view Line) noexcept
{
    return !Line.empty() && Line[0] == '.' ? "." : "";
}

std::string Joined(const TStringList& List, char Separator)
{
    std::string out;
    for (int i = 0; i < List.Count(); ++i) {
        if (i > 0) out += Separator;
        out += List[i];
    }
    return out;
}

void CheckEntries(const char* Field, const TStringList& List)
{
    for (int i = 0; i < List.Count(); ++i) {
        if (List[i].find_first_of(kBreakingBytes) != std::string::npos) {
            CheckLineSafe(std::string(Field) + " entry " + IntToStr(i + 1), List[i]);
        }
    }
}

std::string_view ContentTypeOf(TSubType SubType) noexcept
{
    switch (SubType) {
    case mtEnriched: return "Content-Type: text/enriched; charset=";
    case mtSgml: return "Content-Type: text/sgml; charset=";
    case mtTabSeperated: return "Content-Type: text/tab-separated-values; charset=";
    case mtHtml: return "Content-Type: text/html; charset=";
    case mtPlain: break;
    }
    return "Content-Type: text/plain; charset=";
}

std::mt19937 SeededGenerator()
{
    std::seed_seq::result_type entropy = 0;
    try {
        entropy = std::random_device{}();
    } catch (const std::exception&) {
        // No entropy source: the clock alone still varies between runs.
    }
    const auto ticks = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::seed_seq seed{entropy, static_cast<std::seed_seq::result_type>(ticks),
                       static_cast<std::seed_seq::result_type>(ticks >> 32)};
    return std::mt19937(seed);
}

// Reads the whole file into Target. Opening is where a missing file shows (EFOpenError). The
// encoder asks its source's position and size for every 45-byte line; on a file stream each
// ask is a seek that drops the runtime's read buffer (10 MiB took 1.3 s instead of 0.03 s under
// Wine), so it works from memory instead.
void LoadAttachment(const std::string& Path, TMemoryStream& Target)
{
    TFileStream file(Path, fmOpenRead);
    const int64_t size = file.Size();
    if (size > kMaxAttachmentBytes) {
        throw EStreamError("Attachment \"" + Path + "\" is larger than 1 GiB");
    }
    Target.SetSize(size);
    file.ReadBuffer(Target.Memory(), static_cast<int32_t>(size));
    Target.SetPosition(0);
}

// Appends encoded lines (each through its LF) to Stream as they go on the wire, stuffed. A
// uuencoded line of 14 bytes begins with its length character, ".".
void AppendStuffed(TMemoryStream& Stream, const uint8_t* Data, int64_t Size)
{
    const auto write = [&Stream](const void* From, std::size_t Count) {
        if (Count > 0) Stream.WriteBuffer(From, static_cast<int32_t>(Count));
    };
    const std::string_view all(reinterpret_cast<const char*>(Data), static_cast<std::size_t>(Size));
    std::size_t written = 0;
    for (std::size_t line = 0; line < all.size();) {
        const std::size_t lf = all.find('\n', line);
        const std::size_t next = lf == std::string_view::npos ? all.size() : lf + 1;
        const std::string_view stuffing = Stuffing(all.substr(line, next - line));
        if (!stuffing.empty()) {
            write(all.data() + written, line - written);
            write(stuffing.data(), stuffing.size());
            written = line;
        }
        line = next;
    }
    write(all.data() + written, all.size() - written);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TPostMessage

TPostMessage::TPostMessage()
    : FToAddress(std::make_unique<TStringList>()), FToCarbonCopy(std::make_unique<TStringList>()),
      FToBlindCarbonCopy(std::make_unique<TStringList>()), FBody(std::make_unique<TStringList>()),
      FAttachments(std::make_unique<TStringList>())
{
}

TPostMessage::~TPostMessage() = default;

void ClearMailParameters(TPostMessage& Msg)
{
    Msg.ToAddress().Clear();
    Msg.ToCarbonCopy().Clear();
    Msg.ToBlindCarbonCopy().Clear();
    Msg.Attachments().Clear();
}

// ---------------------------------------------------------------------------------------------
// Checks and commands

void CheckLineSafe(std::string_view Field, std::string_view Value)
{
    if (Value.find_first_of(kBreakingBytes) != std::string_view::npos) {
        throw Exception("Refused: " + std::string(Field) + " contains a CR, LF or NUL character");
    }
}

void CheckMailFields(const TPostMessage& Msg)
{
    CheckLineSafe("FromAddress", Msg.FromAddress());
    CheckLineSafe("FromName", Msg.FromName());
    CheckLineSafe("Subject", Msg.Subject());
    CheckLineSafe("ReplyTo", Msg.ReplyTo());
    CheckLineSafe("Date", Msg.Date());
    CheckLineSafe("LocalProgram", Msg.LocalProgram());
    CheckEntries("ToAddress", Msg.ToAddress());
    CheckEntries("ToCarbonCopy", Msg.ToCarbonCopy());
    CheckEntries("ToBlindCarbonCopy", Msg.ToBlindCarbonCopy());
    CheckEntries("Attachments", Msg.Attachments());
}

std::string HeloCommand(std::string_view UserID)
{
    CheckLineSafe("UserID", UserID);
    return "HELO " + std::string(UserID);
}

std::string MailFromCommand(std::string_view FromAddress)
{
    CheckLineSafe("FromAddress", FromAddress);
    return "MAIL FROM:<" + std::string(FromAddress) + ">";
}

std::string RcptToCommand(std::string_view Address)
{
    CheckLineSafe("Recipient address", Address);
    return "RCPT TO:<" + std::string(Address) + ">";
}

std::string VrfyCommand(std::string_view Address)
{
    CheckLineSafe("VRFY address", Address);
    return "VRFY " + std::string(Address);
}

std::string ExpnCommand(std::string_view ListName)
{
    CheckLineSafe("EXPN list name", ListName);
    return "EXPN " + std::string(ListName);
}

// ---------------------------------------------------------------------------------------------
// Dialogue

std::string ExtractAddress(std::string_view Entry)
{
    if (Entry.find('<') != std::string_view::npos) {
        return NthWord(NthWord(Entry, '<', 2), '>', 1);
    }
    if (Entry.find(':') == std::string_view::npos) {
        return std::string(Entry);
    }
    return NthWord(Entry, ':', 2);
}

std::vector<TRecipient> EnvelopeRecipients(const TPostMessage& Msg)
{
    std::vector<TRecipient> out;
    for (const TStringList* list : {&Msg.ToAddress(), &Msg.ToCarbonCopy(), &Msg.ToBlindCarbonCopy()}) {
        for (int i = 0; i < list->Count(); ++i) {
            std::string address = ExtractAddress((*list)[i]);
            if (!address.empty()) {
                out.push_back({(*list)[i], std::move(address)});
            }
        }
    }
    return out;
}

int IncompleteHeaderType(const TPostMessage& Msg)
{
    if (Msg.FromAddress().empty()) {
        return 1;
    }
    if (Msg.ToAddress().Count() == 0 && Msg.ToCarbonCopy().Count() == 0 && Msg.ToBlindCarbonCopy().Count() == 0) {
        return 2;
    }
    return 0;
}

bool IsContinuationLine(std::string_view Line) noexcept
{
    return !Line.empty() && (Line[0] == ' ' || (Line.size() >= 4 && Line[3] == '-'));
}

std::string HeaderText(const TStringList& FinalHeader)
{
    std::size_t size = 4;
    for (int i = 0; i < FinalHeader.Count(); ++i) {
        size += FinalHeader[i].size() + 2;
    }
    std::string text;
    text.reserve(size);
    for (int i = 0; i < FinalHeader.Count(); ++i) {
        const std::string& line = FinalHeader[i];
        if (line.find_first_of(kBreakingBytes) != std::string::npos) {
            CheckLineSafe("FinalHeader line " + IntToStr(i + 1) + " (" + NthWord(line, ':', 1) + ")", line);
        }
        text += line;
        text += kCrLf;
    }
    text += "\r\n\r\n";
    if (text.size() >= kMaxWrite) {
        throw Exception("Refused: the header text is " + IntToStr(static_cast<int64_t>(text.size())) +
                        " bytes long; at most 65535 can be sent");
    }
    return text;
}

// ---------------------------------------------------------------------------------------------
// Assembly

std::string MakeBoundary()
{
    thread_local std::mt19937 generator = SeededGenerator();
    std::uniform_int_distribution<int> letter(0, 24);
    std::string boundary = "====================54535";
    for (int i = 0; i < 6; ++i) {
        boundary += static_cast<char>('a' + letter(generator));
    }
    boundary += "====";
    return boundary;
}

void AppendBodyLine(std::string& Out, std::string_view Line)
{
    std::size_t start = 0;
    for (;;) {
        const std::size_t stop = Line.find_first_of("\r\n", start);
        const std::string_view piece = Line.substr(start, stop == std::string_view::npos ? std::string_view::npos : stop - start);
        Out += Stuffing(piece);
        Out += piece;
        Out += kCrLf;
        if (stop == std::string_view::npos) {
            return;
        }
        // CR LF is one break; a CR or LF on its own is one too.
        start = stop + ((Line[stop] == '\r' && stop + 1 < Line.size() && Line[stop + 1] == '\n') ? 2 : 1);
    }
}

void AssembleMail(const TPostMessage& Msg, const TMailFormat& Format, const TAttachmentEvents& Events,
                  TExStringList& FinalHeader, TMemoryStream& MailStream, std::string& Boundary)
{
    CheckLineSafe("Charset", Format.Charset);
    FinalHeader.Clear();
    FinalHeader.Add("From: " + Msg.FromName() + "<" + Msg.FromAddress() + ">");
    if (Msg.ToAddress().Count() > 0) {
        FinalHeader.Add("To: " + Joined(Msg.ToAddress(), ','));
    }
    if (Msg.ToCarbonCopy().Count() > 0) {
        FinalHeader.Add("CC: " + Joined(Msg.ToCarbonCopy(), ','));
    }
    FinalHeader.SetValue("Subject", Msg.Subject());
    FinalHeader.SetValue("X-Mailer", Msg.LocalProgram());
    FinalHeader.SetValue("Reply-To", Msg.ReplyTo());
    FinalHeader.SetValue("Date", Msg.Date());
    FinalHeader.Add("Mime-Version: 1.0");

    const TStringList& attachments = Msg.Attachments();
    const bool multipart = attachments.Count() > 0;
    std::string text;
    if (multipart) {
        Boundary = MakeBoundary();
        FinalHeader.Add("Content-Type: multipart/mixed; boundary=\"" + Boundary + "\"");
        text = "--" + Boundary + "\r\nContent-Type: text/plain; charset=" + Format.Charset + "\r\n\r\n";
    } else {
        FinalHeader.Add(std::string(ContentTypeOf(Format.SubType)) + Format.Charset);
    }

    const TStringList& body = Msg.Body();
    std::size_t size = text.size();
    for (int i = 0; i < body.Count(); ++i) {
        size += body[i].size() + 3;
    }
    text.reserve(size);
    for (int i = 0; i < body.Count(); ++i) {
        AppendBodyLine(text, body[i]);
    }
    MailStream.Clear();
    WriteText(MailStream, text);
    text = std::string();
    if (multipart) {
        for (int i = 0; i < attachments.Count(); ++i) {
            AppendAttachment(attachments[i], Boundary, Format.EncodeType, Events, MailStream);
        }
        WriteText(MailStream, "--" + Boundary + "--\r\n");
    }
}

void AppendAttachment(const std::string& Path, const std::string& Boundary, UUMethods EncodeType,
                      const TAttachmentEvents& Events, TMemoryStream& MailStream)
{
    const std::string name = ExtractFileName(Path);
    // Readers decode x-uuencode only between a "begin" line and an "end" line; the processor
    // writes neither (its output is the data lines and the "`" line), so the part frames it.
    const bool uu = EncodeType == uuCode;
    MailStream.Seek(0, soFromEnd);
    WriteText(MailStream, "--" + Boundary + "\r\nContent-Type: application/octet-stream; name=\"" + name +
                              "\"\r\nContent-Transfer-Encoding: " + (uu ? "x-uuencode" : "base64") +
                              "\r\nContent-Disposition: attachment; filename=\"" + name + "\"\r\n\r\n" +
                              (uu ? "begin 644 " + name + "\r\n" : ""));

    // Declared so that they go in reverse: the processor, the file's bytes, then the buffered
    // stream, which hands what it still holds to the memory stream under it.
    TMemoryStream encoded;
    TS_BufferStream target(encoded);
    TMemoryStream source;
    const auto notFound = [&] {
        if (Events.OnAttachmentNotFound) Events.OnAttachmentNotFound(Path);
    };
    try {
        LoadAttachment(Path, source);
    } catch (const EFOpenError&) {
        notFound();
        throw;
    }
    const auto processor = std::make_unique<TNMUUProcessor>(nullptr);
    processor->SetMethod(EncodeType);
    processor->SourceStream = &source;
    processor->TargetStream = &target;
    if (Events.OnEncodeStart) Events.OnEncodeStart(Path);
    try {
        processor->Encode();
    } catch (const EFOpenError&) {
        notFound();
        throw;
    }
    if (Events.OnEncodeEnd) Events.OnEncodeEnd(Path);
    if (!target.FlushBuffer()) {
        throw EWriteError("Attachment \"" + Path + "\" could not be held in memory");
    }
    AppendStuffed(MailStream, encoded.Memory(), encoded.Size());
    if (uu) WriteText(MailStream, "end\r\n");
}

// The portable core of the SMTP client's mail: the message record, the assembly of a mail (header
// lines and body stream), the checks that keep caller text from turning into commands or header
// lines, and the command lines. The dialogue that drives them is SmtpDialogue.h. Portable.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/Classes.h"
#include "mail/NMExtstr.h"
#include "codec/NMUUE.h"

enum TSubType : uint8_t { mtPlain, mtEnriched, mtSgml, mtTabSeperated, mtHtml };

// Events of the client, with the arguments they carry.
using TFileItem = std::function<void(const std::string& Filename)>;
using TRecipientNotFound = std::function<void(const std::string& Recipient)>;
// hiType 1: no sender; 2: no recipient.
using THeaderInComplete = std::function<void(bool& handled, int hiType)>;
using TMailListReturn = std::function<void(const std::string& MailAddress)>;

// One mail to send. It owns its five lists for its whole life; the SetLines* setters copy the
// lines of the list given, so callers keep their own lists.
class TPostMessage : public TObject {
public:
    TPostMessage();
    ~TPostMessage() override;

    const std::string& FromAddress() const noexcept { return FFromAddress; }
    void SetFromAddress(std::string Value) { FFromAddress = std::move(Value); }
    const std::string& FromName() const noexcept { return FFromName; }
    void SetFromName(std::string Value) { FFromName = std::move(Value); }
    const std::string& Subject() const noexcept { return FSubject; }
    void SetSubject(std::string Value) { FSubject = std::move(Value); }
    // The X-Mailer value.
    const std::string& LocalProgram() const noexcept { return FLocalProgram; }
    void SetLocalProgram(std::string Value) { FLocalProgram = std::move(Value); }
    // Taken unchanged; nothing here makes a date.
    const std::string& Date() const noexcept { return FDate; }
    void SetDate(std::string Value) { FDate = std::move(Value); }
    const std::string& ReplyTo() const noexcept { return FReplyTo; }
    void SetReplyTo(std::string Value) { FReplyTo = std::move(Value); }

    // Entries are written to the header unchanged; ExtractAddress finds their mailbox.
    TStringList& ToAddress() noexcept { return *FToAddress; }
    const TStringList& ToAddress() const noexcept { return *FToAddress; }
    TStringList& ToCarbonCopy() noexcept { return *FToCarbonCopy; }
    const TStringList& ToCarbonCopy() const noexcept { return *FToCarbonCopy; }
    // Envelope only; never in the header.
    TStringList& ToBlindCarbonCopy() noexcept { return *FToBlindCarbonCopy; }
    const TStringList& ToBlindCarbonCopy() const noexcept { return *FToBlindCarbonCopy; }
    TStringList& Body() noexcept { return *FBody; }
    const TStringList& Body() const noexcept { return *FBody; }
    // Paths of the files to attach.
    TStringList& Attachments() noexcept { return *FAttachments; }
    const TStringList& Attachments() const noexcept { return *FAttachments; }

    void SetLinesTo(const TStringList& Value) { FToAddress->Assign(Value); }
    void SetLinesCC(const TStringList& Value) { FToCarbonCopy->Assign(Value); }
    void SetLinesBCC(const TStringList& Value) { FToBlindCarbonCopy->Assign(Value); }
    void SetLinesBody(const TStringList& Value) { FBody->Assign(Value); }
    void SetLinesAttachments(const TStringList& Value) { FAttachments->Assign(Value); }

private:
    std::string FFromAddress, FFromName, FSubject, FLocalProgram, FDate, FReplyTo;
    std::unique_ptr<TStringList> FToAddress, FToCarbonCopy, FToBlindCarbonCopy, FBody, FAttachments;
};

// Empties the recipient lists and the attachments; the body and the texts stay.
void ClearMailParameters(TPostMessage& Msg);

// ---------------------------------------------------------------------------------------------
// Refusing caller text that would leave its line. A CR or LF in a command argument or a header
// value would start a command or a header line of the caller's choosing; a NUL would cut the
// line short when it is written, leaving the server waiting for its end. Each check raises
// Exception "Refused: <Field> contains a CR, LF or NUL character".

void CheckLineSafe(std::string_view Field, std::string_view Value);
// Every text of Msg that reaches a command or a header line: FromAddress, FromName, Subject,
// ReplyTo, Date, LocalProgram, every entry of the three recipient lists and of Attachments
// (its file name goes into the part header). Body lines are not checked: AssembleMail splits
// them safely.
void CheckMailFields(const TPostMessage& Msg);

// The command lines, without their CR LF; each checks its argument first.
std::string HeloCommand(std::string_view UserID);
std::string MailFromCommand(std::string_view FromAddress);
std::string RcptToCommand(std::string_view Address);
std::string VrfyCommand(std::string_view Address);
std::string ExpnCommand(std::string_view ListName);

// ---------------------------------------------------------------------------------------------
// The dialogue's pure parts.

// The mailbox inside a recipient entry: between the first "<" and the next ">" (or "<", or the
// end); without "<", the entry itself when it has no ":", else the text between its first and
// second ":". Nothing is trimmed; an empty result means the entry is skipped.
std::string ExtractAddress(std::string_view Entry);

struct TRecipient {
    std::string Entry;   // as in the list: what OnRecipientNotFound reports
    std::string Address; // what RCPT TO carries
};
// The envelope recipients in sending order (To, then CC, then BCC, each in list order), entries
// whose address is empty left out.
std::vector<TRecipient> EnvelopeRecipients(const TPostMessage& Msg);

// 0 when the envelope is complete; 1 when FromAddress is empty; 2 when only the recipients are
// missing (all three lists empty).
int IncompleteHeaderType(const TPostMessage& Msg);

// True while a reply goes on after Line: Line begins with a space, or its fourth character is
// "-" (a code followed by a hyphen). An empty line (a closed connection) ends any reply.
bool IsContinuationLine(std::string_view Line) noexcept;

// What SendMail writes before the body, in one piece: every line followed by CR LF, then
// CR LF CR LF (the end of the header and an empty first body line). Raises, naming the line, for
// a line holding CR, LF or NUL: lines put in by an OnSendStart handler are checked here too.
// Raises as well when the text is 65,536 bytes or longer, which the socket layer cannot write.
std::string HeaderText(const TStringList& FinalHeader);

// ---------------------------------------------------------------------------------------------
// Assembly.

struct TMailFormat {
    TSubType SubType = mtPlain;    // the text subtype of a mail without attachments
    std::string Charset = "us-ascii";
    UUMethods EncodeType = uuMime; // attachments: Base64 or uuencode
};

struct TAttachmentEvents {
    TFileItem OnEncodeStart;
    TFileItem OnEncodeEnd;
    TFileItem OnAttachmentNotFound;
};

// "====================54535", six letters "a" to "y" drawn from a process-wide generator
// seeded once from the system's entropy, and "====": 35 characters.
std::string MakeBoundary();

// Appends one body line to Out as it goes on the wire: followed by CR LF, with one more "." in
// front when it begins with ".". Every CR LF, bare CR and bare LF inside the line breaks it, and
// each piece is sent as a line of its own the same way, so no lone CR or LF, and no line "."
// that would end the data early, comes from a body line.
void AppendBodyLine(std::string& Out, std::string_view Line);

// Builds the header lines (FinalHeader, emptied first) and the body (MailStream, emptied
// first) of Msg. With attachments, Boundary receives the new boundary and every file is encoded
// through AppendAttachment; without, Boundary is left as it was. Raises for a Charset that
// holds CR, LF or NUL. A failing attachment leaves FinalHeader and MailStream half built: the
// caller sends nothing then.
void AssembleMail(const TPostMessage& Msg, const TMailFormat& Format, const TAttachmentEvents& Events,
                  TExStringList& FinalHeader, TMemoryStream& MailStream, std::string& Boundary);

// Appends the part of the file Path to MailStream: the part header (type
// application/octet-stream, the file name without its folder, transfer encoding "base64" or, for
// uuencode, "x-uuencode"), then the file encoded through a TNMUUProcessor into a TS_BufferStream
// over a memory stream, its lines dot-stuffed as the body's are (a uuencoded line can begin with
// "."); uuencoded data stands between "begin 644 NAME" and "end" lines. The file is read whole
// before encoding, so the encoder works from memory. Events: OnAttachmentNotFound(Path) and the
// EFOpenError passed on when the file cannot be opened; otherwise OnEncodeStart(Path), the
// encoding, OnEncodeEnd(Path). Every stream and the processor are released on every path. A file
// over 1 GiB raises EStreamError: the mail is held in memory, and its counts are 32-bit.
void AppendAttachment(const std::string& Path, const std::string& Boundary, UUMethods EncodeType,
                      const TAttachmentEvents& Events, TMemoryStream& MailStream);

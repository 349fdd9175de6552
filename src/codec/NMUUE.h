// TNMUUProcessor: encodes the bytes of one stream as lines of Base64 (MIME) or uuencode text in
// another stream, and decodes such lines back. Portable.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "toolkit/Classes.h"

enum UUMethods : uint8_t { uuMime = 0, uuCode = 1 };

// The 64 characters of one method's alphabet, indexed by the 6-bit value.
using ExchangeTable = std::array<char, 64>;

// RFC 2045 Base64: "A" to "Z", "a" to "z", "0" to "9", "+", "/".
extern const ExchangeTable MimeTable;
// uuencode: value 0 is the back-quote (0x60, not the space), values 1 to 63 are value + 0x20.
extern const ExchangeTable UUTABLE;
// Base64 decoding for the characters "+" (0x2B) to "z" (0x7A), indexed by character - 0x2B: the
// value of each alphabet character, 64 for "=", 127 for every other character.
extern const std::array<uint8_t, 80> base64Table;

class TNMUUProcessor : public TComponent {
public:
    explicit TNMUUProcessor(TComponent* AOwner);

    // Encodes all of SourceStream (from position 0) into TargetStream at its position: lines of
    // 45 input bytes, each followed by CR LF; uuCode lines start with their length character and
    // are followed by the terminating line "`". OnEndEncode fires, and TargetStream is set back
    // to position 0, also when a stream raises; the exception then goes on to the caller.
    void Encode();
    // Decodes SourceStream from its position into TargetStream at its position, by Method.
    // Neither stream is repositioned. OnEndDecode fires only when nothing raised.
    void Decode();

    UUMethods Method() const noexcept { return FMethod; }
    void SetMethod(UUMethods Value) noexcept { FMethod = Value; }

    // The alphabet chosen by the last SetEncodeTable (Encode refreshes it; Decode does not use it).
    const ExchangeTable& EncodeTable() const noexcept { return FEncodeTable; }
    void SetEncodeTable() noexcept;

    // The 6-bit value of one uuencode character; the back-quote and the space both give 0.
    static uint8_t UuDEC(char C) noexcept;

    // Reads one line of encoded text: up to 200 bytes from the stream's position. With an LF
    // among them, Line is the text before it less one character (the CR of CR LF; a bare LF
    // costs the character before it) and the stream is left just after the LF. Without one,
    // Line is the bytes actually read and the stream is left after them.
    static void ReadLnFromStream(TStream& Stream, std::string& Line);

    TNotifyEvent OnBeginEncode;
    TNotifyEvent OnEndEncode;
    TNotifyEvent OnBeginDecode;
    TNotifyEvent OnEndDecode;

    // Not owned; they must stay alive during a call. Encode and Decode raise EStreamError when
    // either is unassigned.
    TStream* SourceStream = nullptr;
    TStream* TargetStream = nullptr;

protected:
    void Base64Decode();
    void StdDecode();

private:
    void EncodeLines(TStream& Source, TStream& Target);
    void CheckStreams() const;

    ExchangeTable FEncodeTable = MimeTable;
    UUMethods FMethod = uuMime;
};

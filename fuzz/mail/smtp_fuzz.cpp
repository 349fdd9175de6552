// Mail text and reply lines of arbitrary bytes. The input, cut at 0xFF bytes, is a body: on the
// wire it must hold no lone CR or LF and no line "." (either would let a line end the data
// early), and undoing the dot-stuffing must give back each line with its inner breaks as line
// ends. The input as a reply line must give a number or a range error, never anything else.
#include <cstdlib>
#include <string>
#include <string_view>

#include "mail/NMsmtpMail.h"
#include "net/PsockText.h"

namespace {

// The line as the wire's reader gets it back: every CR LF, CR and LF one line end.
std::string Normalised(std::string_view line)
{
    std::string out;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\r' || line[i] == '\n') {
            out += "\r\n";
            if (line[i] == '\r' && i + 1 < line.size() && line[i + 1] == '\n') ++i;
        } else {
            out += line[i];
        }
    }
    return out + "\r\n";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 16)) return 0;
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    std::string wire;
    std::string expected;
    std::size_t start = 0;
    for (;;) {
        const std::size_t stop = input.find('\xFF', start);
        const std::string_view line = input.substr(start, stop == std::string_view::npos ? stop : stop - start);
        AppendBodyLine(wire, line);
        expected += Normalised(line);
        if (stop == std::string_view::npos) break;
        start = stop + 1;
    }
    std::string unstuffed;
    for (std::size_t i = 0; i < wire.size(); ++i) {
        const bool lineStart = i == 0 || wire[i - 1] == '\n';
        if (wire[i] == '\r' && (i + 1 == wire.size() || wire[i + 1] != '\n')) std::abort();
        if (wire[i] == '\n' && (i == 0 || wire[i - 1] != '\r')) std::abort();
        if (lineStart && wire.compare(i, 3, ".\r\n") == 0) std::abort();
        if (lineStart && wire[i] == '.') continue;
        unstuffed += wire[i];
    }
    if (unstuffed != expected) std::abort();

    try {
        if (ReplyNumberOf(input) < 0) std::abort();
    } catch (const ERangeError&) {
    }
    const bool more = IsContinuationLine(input);
    if (more != (!input.empty() && (input[0] == ' ' || (input.size() >= 4 && input[3] == '-')))) std::abort();
    return 0;
}

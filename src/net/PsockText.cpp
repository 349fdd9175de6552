#include "PsockText.h"

std::string NthWord(std::string_view S, char Delimiter, int32_t N)
{
    std::string result;
    int32_t count = 0;
    for (const char c : S) {
        if (c == Delimiter) {
            if (++count >= N) break;
        } else if (count == N - 1) {
            result += c;
        }
    }
    return result;
}

int32_t NthPos(std::string_view S, char Delimiter, int32_t N)
{
    int32_t count = 0;
    for (std::size_t i = 0; i < S.size(); ++i) {
        if (S[i] == Delimiter && ++count == N) {
            return static_cast<int32_t>(i + 1);
        }
    }
    return static_cast<int32_t>(S.size() + 1);
}

void StreamLn(TStream& Stream, std::string_view S)
{
    std::string line(S);
    line += "\r\n";
    Stream.WriteBuffer(line.data(), static_cast<int32_t>(line.size()));
}

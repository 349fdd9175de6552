// Text functions of the socket layer, shared by its users (the SMTP client splits addresses with
// NthWord). Portable. Positions and field numbers are 1-based, as the protocols count them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "Classes.h"

// Field N of S split at Delimiter (fields numbered from 1; consecutive delimiters enclose empty
// fields; a field beyond the last is empty).
std::string NthWord(std::string_view S, char Delimiter, int32_t N);
// The 1-based position of the N-th Delimiter in S, or the length of S plus 1 when S holds fewer.
int32_t NthPos(std::string_view S, char Delimiter, int32_t N);
// Writes S followed by CR LF to Stream.
void StreamLn(TStream& Stream, std::string_view S);

// The question the installer asks when running programs hold files it must replace.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// How many files, and how many programs, the question names; the rest are counted. A box
// taller than the screen would hide its buttons.
constexpr std::size_t FilesInUseNamed = 3;

// The text of the Retry/Cancel box (code page 932): the held files, then the programs the system
// named as holding them (none when it named none), then what the user can do.
std::string FilesInUseMessage(const std::vector<std::string>& Files, const std::vector<std::string>& Programs);

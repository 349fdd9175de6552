// The system's Restart Manager, asked which programs hold files.
#pragma once

#include <string>
#include <vector>

// The names of the programs that hold any of Paths (code page 932), each once, as the system
// names them. Empty when none does, or when the system cannot tell: rstrtmgr.dll is missing
// (older systems) or knows nothing (Wine), so callers look at the files themselves too.
std::vector<std::string> ProgramsHolding(const std::vector<std::string>& Paths);

// Setup.exe from its command line to its exit code: the setup window, or with /S the same install
// without any window; one Setup at a time; the install log.
#pragma once

#include <string_view>

// Arguments: the command line after the program's name. Returns the exit code: 0 whenever the
// setup window was shown (callers of the window have always had 0), else the outcome's code.
int RunSetup(std::string_view Arguments);

// The name of the mutex that keeps one Setup at a time in a session.
extern const char* const SSetupMutexName;

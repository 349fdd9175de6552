// Folder helpers. Paths are code page 932 bytes passed to the ANSI file functions unchanged.
// On Windows the separators are "\" and ":"; in a native (host) build they are "/", so the
// host tools and tests can use the same rules on real host paths.
#pragma once

#include <string>
#include <string_view>

#include "toolkit/Classes.h"

// The separators of this platform's paths, for LastDelimiter.
extern const char* const PathDelimiters;

// "ディレクトリを作成することができません": the text of ForceDirectories' error.
extern const char* const SCannotCreateDirectory;

// True when the path names an existing folder.
bool DirectoryExists(const std::string& Dir);
bool FileExists(const std::string& FileName);

// True for a path that names one place whatever the current folder and drive are: a drive
// letter, ":" and "\" ("c:\...") or two leading "\" ("\\server\share...") on Windows; a leading
// "/" on the host. "Doduza", "\Doduza", "c:Doduza" and ".\Doduza" are not.
bool IsFullPath(std::string_view Path) noexcept;

// True when Path itself, not what it leads to, is a symbolic link, a junction or another
// reparse point: writing through it could reach a place outside the folder that holds it.
bool IsLink(const std::string& Path);

// True when another open handle keeps the existing file Path from being opened for writing
// without sharing (a running program, a viewer that has it open): it could not be replaced now.
// A file that is read-only, missing or refused for lack of rights is not held. Always false on
// the host, whose files are never locked this way.
bool IsFileHeld(const std::string& Path);

// Puts Source in Target's place in one step (a rename on one volume; the name is replaced,
// never half-written), waiting until the move is on the disk. False when it could not be done;
// then Source and Target are as they were.
bool ReplaceFileWith(const std::string& Source, const std::string& Target);

// Creates Dir with every missing parent. An empty text, or one that is not a full path (it
// would be made under the current folder), raises EInOutError with SCannotCreateDirectory.
// One trailing separator is dropped; a text shorter than three bytes, an existing folder, or a
// root (whose parent part is itself) counts as created. Otherwise the parent part is created
// first by the same rules, then the folder. Returns false when any level could not be created;
// levels created so far stay.
bool ForceDirectories(std::string Dir);

class EInOutError : public Exception { using Exception::Exception; };

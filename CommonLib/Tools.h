// File-system queries and file operations. Paths may hold the wildcards '*' and '?' in their
// last component. An "ordinary file" is what a plain directory search finds: not a directory,
// not hidden (on POSIX: a regular file whose name does not start with '.'), not a system file.
#pragma once

// True for a character that separates the parts of a path on this platform.
bool IsPathSeparator(char c);

// Size in bytes of the first ordinary file matching `path`, or 0 when none matches; a file whose
// name is exactly `path` comes first. Sizes of 4 GiB and more keep their low 32 bits.
int SizeOfFile(const char* path);

// True when at least one ordinary file matches `path`.
bool FileExists(const char* path);

// True when `path` names an existing directory, written with or without a trailing separator.
// An empty path, the root and (on Windows) a bare drive such as "C:" count as existing.
bool DirExists(const char* path);

// Deletes `path`, or every ordinary file matching it when it holds wildcards (no match is no
// error). Throws TException "Cannot delete file: <path>" when a deletion fails.
void DelFile(const char* path);

// Renames or moves `from` to `to`, never replacing an existing `to`. Returns true; throws
// TException "Cannot rename file: <from>" on failure.
bool RenameFile(const char* from, const char* to);

// Files created only under a name that is free, and renamed onto a name only when it is free (or
// when replacing is asked for): the system calls of POSIX and Win32 behind one interface.
#pragma once

#include <cstdio>
#include <string>
#include <system_error>

// Creates path for writing. Anything standing there, a link included (which is never followed),
// makes it fail with std::errc::file_exists. On success file is open; otherwise nullptr and
// nothing was created.
std::error_code CreateExclusive(const std::string& path, std::FILE*& file);

// Renames from to to. Without replace, a to that exists fails with std::errc::file_exists and
// both are left as they are; with it, a file or link at to is replaced (the link itself).
std::error_code MoveOnto(const std::string& from, const std::string& to, bool replace);

// stat() over a UTF-8 path; on Windows stat() would take the name through
// the ANSI code page.
#pragma once

#include <sys/stat.h>

#include <string>

namespace kurvane::cli {

#ifdef _WIN32
using FileInfo = struct _stat64;
#else
using FileInfo = struct stat;
#endif

int stat_utf8(const std::string& path, FileInfo* info);

}  // namespace kurvane::cli

#include "app/file_status.h"

#include "os/file_names.h"

namespace kurvane::cli {

#ifdef _WIN32
int stat_utf8(const std::string& path, FileInfo* info) {
    return _wstat64(os::path_from_utf8(path).c_str(), info);
}
#else
int stat_utf8(const std::string& path, FileInfo* info) { return stat(path.c_str(), info); }
#endif

}  // namespace kurvane::cli

// What the dialog's file list asks of the file system: the names in a
// folder that match a wildcard pattern. The Win32 program answers with
// FindFirstFile, the command line and the tests with opendir/readdir.
#pragma once

#include <functional>
#include <string_view>

namespace kurvane::files {

// The wildcard search of the working directory: * stands for any run of
// characters, ? for one. Calls `found` once per matching bare name, in the
// order the platform yields them; returns false when nothing matched or the
// search failed.
class FileSearch {
public:
    virtual ~FileSearch() = default;
    virtual bool search(std::string_view pattern,
                        const std::function<void(std::string_view name)>& found) = 0;
};

}  // namespace kurvane::files

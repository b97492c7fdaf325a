// Which file a path or an open stream is, as the system tells files apart:
// two names (a hard link, a symbolic link, /dev/stdout, "./a.dat") of one
// file have one identity. Paths are UTF-8.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace kurvane::os {

struct FileIdentity {
    std::uint64_t volume = 0;      // st_dev; on Windows the volume serial number
    std::uint64_t index = 0;       // st_ino; on Windows the file id (its low half)
    std::uint64_t index_high = 0;  // on Windows the high half of a 128-bit file id
    // False where the system could not say which volume the file is on
    // (Wine gives a handle that it inherited from its Unix parent, such as
    // a redirected standard output, the volume 0); the index then decides.
    bool volume_known = true;
    bool regular = false;  // a regular file, not a directory, device or pipe

    // One file: the kind is not part of the identity.
    bool same_file(const FileIdentity& other) const {
        const bool volume_matches = volume == other.volume || !volume_known || !other.volume_known;
        return volume_matches && index == other.index && index_high == other.index_high;
    }
};

// The identity of the file `path` names, symbolic links followed; none when
// it does not exist or cannot be examined. On Windows only files and
// directories on a disk have one (a device or a pipe has none).
std::optional<FileIdentity> identity_of(const std::string& path);

// The identity of the file an open stream reads or writes (standard output
// redirected to a file, for instance); none for what has no identity.
std::optional<FileIdentity> identity_of(std::FILE* stream);

// The descriptor that `path` reopens, when it names one the process already
// has open: /dev/stdout, /dev/stderr, /dev/stdin, /dev/fd/N, /proc/self/fd/N,
// or a symbolic link to one of them. Writing through the descriptor keeps
// its offset and its append mode, which opening the path anew would lose
// (it truncates a regular file, and fails for a pipe or a socket). None on
// Windows, which has no such names.
std::optional<int> descriptor_named(const std::string& path);

}  // namespace kurvane::os

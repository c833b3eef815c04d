#pragma once
// Reads and writes of files of a few bytes: the agreement marker.
#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>

namespace fw {

// Whose a created file or folder becomes when it is made for another user (a process raised
// by pkexec or sudo working for the user who asked); none: the process's own.
struct FileOwner {
  uid_t uid;
  gid_t gid;
};

// The content of a regular file of at most `limit` bytes; empty when it cannot be opened, is
// not a regular file (a FIFO or a device planted in its place must not block or be read) or is
// larger. The size is judged before reading, and no more than limit + 1 bytes are ever read, so
// a huge file planted in its place costs nothing.
std::string ReadSmallFile(const std::string& path, size_t limit);

// Creates or replaces the file with exactly `text`, mode 0644. The bytes go to a new file beside
// it that then takes its name, so a symbolic link planted at `path` is replaced, never followed,
// and a crash leaves either the old or the new content. false when the folder is not writable;
// nothing is left behind then.
bool WriteSmallFile(const std::string& path, const std::string& text,
                    std::optional<FileOwner> owner = {});

// Creates the folder and any missing parents, private to the user (0700), as the XDG
// base-directory rules ask of a data folder; the folders it makes become `owner`'s. true when
// it exists afterwards.
bool MakeUserFolder(const std::string& path, std::optional<FileOwner> owner = {});

}  // namespace fw

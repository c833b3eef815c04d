#pragma once
// Whole-file reads and writes of a few bytes: the agreement marker, the simulated disks'
// metadata and sector files.
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

// A file read whole, or why it was not.
struct SmallFileRead {
  bool ok = false;
  std::string content;
  std::string problem;  // when !ok: a short reason, such as "it is a FIFO, not a regular file"
};

// Reads the file whole when it is a regular file of at most `limit` bytes. The open never waits
// (a FIFO planted in the file's place must not block), and the type is checked on the open
// descriptor before a byte is read, so a FIFO, a device or a folder is refused, never read.
// With `followLink` false a symbolic link in the name's last place is refused as well.
SmallFileRead ReadBoundedFile(const std::string& path, size_t limit, bool followLink = true);

// The file's whole content as bytes; empty when it cannot be opened or is not a regular file
// (a FIFO or a device planted in its place must not block or be read).
std::string ReadSmallFile(const std::string& path);

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

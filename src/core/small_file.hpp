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

// The same for `relative` inside `folder`, when the name stays there: no symbolic link on the
// way or in the last place, no "..", not absolute. A simulated disk's files are read so.
SmallFileRead ReadFileInFolder(const std::string& folder, const std::string& relative, size_t limit);

// How the folders on the way to a file are opened. In the user's own folders a link is refused,
// so that a process raised for the user never writes or reads where a link planted there leads;
// a link that only the process's own rights could have made (owned by its effective user, in a
// folder of that user's nobody else may change: /home leading to /var/home when raised, the
// user's own links when not) is followed.
enum class FolderLinks { Follow, OnlyOwnLinks };

// ReadBoundedFile with the folders on the way opened as `links` asks, the last name never a link.
SmallFileRead ReadUserFile(const std::string& path, size_t limit,
                           FolderLinks links = FolderLinks::OnlyOwnLinks);

// The file's whole content as bytes; empty when it cannot be opened or is not a regular file
// (a FIFO or a device planted in its place must not block or be read).
std::string ReadSmallFile(const std::string& path);

// Creates or replaces the file with exactly `text`, mode 0644. The bytes go to a new file beside
// it that then takes its name, so a symbolic link planted at `path` is replaced, never followed,
// and a crash leaves either the old or the new content; the folder is flushed after the rename.
// Only a regular file or a link is ever replaced: a device, a FIFO, a socket or a folder found
// in the name's place, even one put there a moment before the rename, stays. Empty on success,
// else why not; nothing is left behind then.
std::string WriteFileAtomically(const std::string& path, const std::string& text,
                                std::optional<FileOwner> owner = {},
                                FolderLinks links = FolderLinks::OnlyOwnLinks);

// Why WriteFileAtomically could not write `path`, found before a byte is written: no name, a
// name too long for the file written beside it (NAME_MAX, PATH_MAX), something other than a
// regular file in its place (a link included), a folder that is missing or not writable.
// Empty when nothing stands in the way.
std::string FileTargetProblem(const std::string& path, FolderLinks links = FolderLinks::OnlyOwnLinks);

// WriteFileAtomically, true on success.
bool WriteSmallFile(const std::string& path, const std::string& text,
                    std::optional<FileOwner> owner = {});

// Creates the folder and any missing parents, private to the user (0700), as the XDG
// base-directory rules ask of a data folder; the folders it makes become `owner`'s. true when
// it exists afterwards. A link on the way is met as FolderLinks::OnlyOwnLinks says.
bool MakeUserFolder(const std::string& path, std::optional<FileOwner> owner = {});

// Why `name` of a file type is no regular file: "it is a FIFO, not a regular file"; empty for
// a regular file.
std::string NotRegularFileProblem(mode_t mode);

}  // namespace fw

#pragma once
// Whole-file reads and writes of a few bytes: the agreement marker.
#include <string>

namespace fw {

// The file's whole content as bytes; empty when it cannot be opened or is not a regular file
// (a FIFO or a device planted in its place must not block or be read).
std::string ReadSmallFile(const std::string& path);

// Creates or replaces the file with exactly `text`. The bytes go to a new file beside it that
// then takes its name, so a symbolic link planted at `path` is replaced, never followed, and a
// crash leaves either the old or the new content. false when the folder is not writable;
// nothing is left behind then.
bool WriteSmallFile(const std::string& path, const std::string& text);

// Creates the folder and any missing parents, private to the user (0700), as the XDG
// base-directory rules ask of a data folder. true when it exists afterwards.
bool MakeUserFolder(const std::string& path);

}  // namespace fw

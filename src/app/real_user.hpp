#pragma once
// Who the window program works for. Raised through pkexec or sudo it runs as root, yet what it
// keeps for the user (the agreement marker) and what it opens on the desktop (the browser, the
// disk tool) belong to the person who asked for the rights: pkexec names them in PKEXEC_UID,
// sudo in SUDO_UID.
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "core/small_file.hpp"

namespace fw {

struct UserAccount {
  uid_t uid = 0;
  gid_t gid = 0;
  std::string name;
  std::string home;
};

// The user behind the process: with a real uid of root (pkexec and sudo set it), PKEXEC_UID,
// else SUDO_UID, else root; otherwise the real uid. Nothing when the variable holds no number.
std::optional<uid_t> RealUserId();

// That user's entry in the password database; nothing when there is none.
std::optional<UserAccount> RealUserAccount();

// true when the process runs with another user's rights than its real user's (pkexec, sudo, a
// set-uid bit), or cannot tell who its real user is.
bool RunsForAnotherUser();

// Who files written for the user must belong to: the real user when the process runs for
// another user and that user is known; nothing (keep the process's own) otherwise.
std::optional<FileOwner> RealUserFileOwner();

// Starts `program` (a path, or a name looked up in the usual bin folders) with `arguments`,
// detached, as the real user. When the process runs for another user, the child takes that
// user's uid, gid and groups before exec, sees an environment of the display (DISPLAY,
// WAYLAND_DISPLAY, XAUTHORITY), the session and the language with the user's HOME, and inherits
// no open file but the standard three; when that user cannot be found nothing is started.
// false when nothing was started.
bool StartAsRealUser(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace fw

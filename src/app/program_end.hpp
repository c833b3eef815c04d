#pragma once
// How the program ends outside the normal close of the main window: a fatal start-up error, a
// declined agreement, no disk chosen. All of these happen while the start-up still runs (before
// or inside the main window's show event), where asking the event loop to quit would be too
// late or ignored, so the program ends at once. Window tests replace the ending to observe it.
#include <functional>

namespace fw {

inline constexpr int kExitQuit = 0;   // the user left before a disk was opened
inline constexpr int kExitFatal = 1;  // a start-up failure with its message

// Ends the program with `code`. With a handler installed (tests), calls it and returns: every
// caller returns straight after, as if the program had ended.
void EndProgram(int code);

// Replaces the ending; an empty handler restores the real one. Returns the previous handler.
std::function<void(int)> SetProgramEndHandler(std::function<void(int)> handler);

}  // namespace fw

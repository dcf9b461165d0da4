// The desktop's commands the effect runs: `open`, to show web pages, its log
// file and its log folder, and `sw_vers`, for the system's version. This
// machine has neither; the host supplies its own (bin/open hands the argument
// to xdg-open, bin/sw_vers reads os-release).
#pragma once

namespace host {

// Puts the host's bin folder first on PATH unless it is already there. Tests that put
// a recording `open` in front of it afterwards take precedence.
void ProvideOpenCommand();

}  // namespace host

// The desktop's `open` command, which the effect runs to show web pages, its
// log file and its log folder. This machine has none; the host supplies its
// own (bin/open), which hands the argument to xdg-open.
#pragma once

namespace host {

// Puts the host's bin folder first on PATH unless it is already there. Tests that put
// a recording `open` in front of it afterwards take precedence.
void ProvideOpenCommand();

}  // namespace host

// A display that no X server can answer, for the tests of a program given a
// display that does not open. A display number is no such thing: a desktop
// or another program's virtual server (xvfb-run -a) may run on any of them,
// and then the program opens its window there. This name is the path of a
// socket inside /dev/null, which is no folder, so no server can ever listen
// there; the X library reads a name that starts with a slash as a socket's
// path, or, when it is older, as no display name at all. Either way it
// fails at once, with no network look-up.
#pragma once

namespace nodisplay {

inline constexpr const char* kDisplay = "/dev/null/X0";

}  // namespace nodisplay

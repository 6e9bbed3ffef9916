// Shows a window of the toolkit on the X display for the ui-* commands.
#pragma once

#include <functional>
#include <memory>
#include <string>

class CQNF_Window;

namespace tool {

// What a window reports, one line at a time.
using Say = std::function<void(const std::string&)>;

// Opens the display, reads the resource file, builds the window made by make
// (its reports go to say, which prints them) from the resource windowName,
// shows it and runs the application loop until it closes. 0, or the failure
// reported for command; what names the window in messages ("the gallery").
int ShowWindow(const char* command, const std::string& resource, const char* windowName, const std::string& what,
               const std::function<std::unique_ptr<CQNF_Window>(const Say& say)>& make);

// The end of a --snap run: "wrote OUT.png" on standard output, as every
// writer says what it wrote, and 0; or the failure reported for command.
int SnapDone(const char* command, const std::string& snap, bool written, const std::string& error);

}  // namespace tool

// Reading a command line: options and their values, numbers within their
// ranges. Every fault is thrown as BadArgument, whose text names it; the
// programs answer it with one line and exit 2.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace tool {

using Args = std::vector<std::string>;

// A wrong command line found while reading it.
struct BadArgument : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// An option: "--name" or "-x". "-" alone (standard input or output) and
// negative numbers ("-5", "-.5") are values.
bool IsOption(const std::string& arg);

// The value of the option args[i], moving i on to it. An option at the end
// of the line has none.
const std::string& OptionValue(const Args& args, size_t& i);

// For commands that take no options: the first argument that is one, as
// "unknown option".
void RefuseOptions(const Args& args);

// Two options that contradict each other (the last would silently win):
// both given is a wrong command line naming them.
void RefuseTogether(const Args& args, const std::string& one, const std::string& other);

// For a command whose usage line names its arguments in capitals
// ("convert IN OUT.png", "shapes show FILE [--png OUT]"): throws "NAME is an
// empty name" when one of args is empty, NAME being the usage's word for it
// (the word after its option, or the positional word at its place; the one
// form of several, separated by '|', with as many positional words as
// given). An empty TEXT or VALUE is text, no name, and stays.
void RefuseEmptyNames(const std::string& usage, const Args& args);

// A number from text in lo..hi: no NaN, no infinity, nothing after it.
// what names it in the message ("SIGMA", "--resolution").
double RealNumber(const std::string& text, const std::string& what, double lo, double hi);

}  // namespace tool

#include "tools/Arguments.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace tool {

bool IsOption(const std::string& arg)
{
    if (arg.size() < 2 || arg[0] != '-')
        return false;
    const char next = arg[1];
    return !(next >= '0' && next <= '9') && next != '.';
}

const std::string& OptionValue(const Args& args, size_t& i)
{
    if (i + 1 >= args.size())
        throw BadArgument(args[i] + " needs a value");
    return args[++i];
}

void RefuseOptions(const Args& args)
{
    for (const std::string& a : args)
        if (IsOption(a))
            throw BadArgument("unknown option " + a);
}

void RefuseTogether(const Args& args, const std::string& one, const std::string& other)
{
    const bool both = std::find(args.begin(), args.end(), one) != args.end() &&
                      std::find(args.begin(), args.end(), other) != args.end();
    if (both)
        throw BadArgument(one + " and " + other + " cannot be given together");
}

void RefuseEmptyName(const std::string& name, const std::string& what)
{
    if (name.empty())
        throw BadArgument(what + " is an empty name");
}

namespace {

std::string Shown(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

}  // namespace

double RealNumber(const std::string& text, const std::string& what, double lo, double hi)
{
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    // strtod reads "nan", "inf" and "1e999" (as infinity) too; the range
    // check below turns every one of them away.
    if (text.empty() || *end != '\0' || !std::isfinite(v) || v < lo || v > hi) {
        const bool any = lo == -std::numeric_limits<double>::max() && hi == std::numeric_limits<double>::max();
        throw BadArgument(what + " takes " + (any ? "a finite number" : "a number from " + Shown(lo) + " to " + Shown(hi)) +
                          ", not '" + text + "'");
    }
    return v;
}

}  // namespace tool

#include "tools/Arguments.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
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

namespace {

// A usage word without its brackets, a trailing "..." or a place ("@X,Y").
std::string Bare(std::string word)
{
    word.erase(std::remove_if(word.begin(), word.end(), [](char c) { return c == '[' || c == ']' || c == '(' || c == ')'; }),
               word.end());
    if (const size_t at = word.find("..."); at != std::string::npos)
        word.erase(at);
    if (const size_t at = word.find('@'); at != std::string::npos)
        word.erase(at);
    return word;
}

// A capital word that names a file or folder: not a number (a letter
// alone, "WxH"), a name inside a file, a filter's name or text.
bool IsFileWord(const std::string& word)
{
    static const char* const kNoFile[] = {"NAME", "PPI", "TEXT", "VALUE", "PATH", "TYPE", "PERCENT", "ARGS"};
    if (word.size() < 2 || word[0] < 'A' || word[0] > 'Z')
        return false;
    for (const char c : word.substr(0, word.find('.')))
        if (c >= 'a' && c <= 'z')
            return false;
    return std::none_of(std::begin(kNoFile), std::end(kNoFile), [&word](const char* w) { return word == w; });
}

struct Form {
    std::vector<std::string> words;        // every word of this form
    std::vector<std::string> positionals;  // its words that are no option's value
    size_t variadic = SIZE_MAX;            // the place of a positional that takes many
};

std::vector<Form> Forms(const std::string& usage)
{
    // The usage proper: lines after it that begin with two spaces explain
    // it; one that goes on with a word, an option or another form does not.
    std::string line = usage;
    for (size_t at = line.find("\n  "); at != std::string::npos; at = line.find("\n  ", at + 1))
        if (at + 3 < line.size() && line[at + 3] != ' ' && line[at + 3] != '|') {
            line.erase(at);
            break;
        }
    std::vector<std::string> words;
    for (size_t i = 0; i < line.size();) {
        const size_t end = line.find_first_of(" \n", i);
        const std::string word = line.substr(i, end == std::string::npos ? std::string::npos : end - i);
        i = end == std::string::npos ? line.size() : end + 1;
        if (!word.empty())
            words.push_back(word);
    }
    std::vector<Form> forms(1);
    const std::string command = words.empty() ? std::string() : words[0];
    long depth = 0;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& w = words[i];
        // "|" alone parts forms; inside brackets it parts choices.
        if (w == "|") {
            if (depth == 0)
                forms.emplace_back();
            continue;
        }
        for (const char c : w)
            depth += c == '[' || c == '(' ? 1 : c == ']' || c == ')' ? -1 : 0;
        Form& f = forms.back();
        const bool first = f.words.empty();
        f.words.push_back(w);
        if (first && w == command)
            continue;
        const std::string before = i > 0 ? words[i - 1] : std::string();
        const bool optionValue = Bare(before).rfind("--", 0) == 0 && before.back() != ']' && before.back() != ')';
        if (optionValue || Bare(w).rfind("-", 0) == 0)
            continue;
        if ((w.front() == '[' || w.front() == '(') && w != "[ARGS]")
            continue;  // an option's choices, or another command's options
        if (w == "[ARGS]" || w.find("...") != std::string::npos)
            f.variadic = f.positionals.size();
        f.positionals.push_back(Bare(w));
    }
    return forms;
}

// The usage word for the value of option, or option itself when it takes none.
std::string OptionWord(const std::vector<Form>& forms, const std::string& option)
{
    for (const Form& f : forms)
        for (size_t k = 0; k + 1 < f.words.size(); ++k)
            if (Bare(f.words[k]) == option && f.words[k].back() != ']' && f.words[k].back() != ')')
                return Bare(f.words[k + 1]);
    return option;
}

// The usage word for positional p of count, by form: words before a
// variadic one by their place, words after it from the end; empty when
// the form does not fit (another count, another sub-command).
std::string PositionalWord(const Form& f, const Args& args, const std::vector<size_t>& positional, size_t p)
{
    const size_t n = f.positionals.size(), count = positional.size();
    const bool many = f.variadic != SIZE_MAX;
    if (many ? count + 1 < n : count != n)
        return {};
    const auto wordAt = [&](size_t q) -> const std::string& {
        if (!many || q < f.variadic)
            return f.positionals[q];
        const size_t fromEnd = count - q;
        return fromEnd < n - f.variadic ? f.positionals[n - fromEnd] : f.positionals[f.variadic];
    };
    // A sub-command's word must be the one given.
    for (size_t q = 0; q < count; ++q) {
        const std::string& w = wordAt(q);
        if (!w.empty() && w[0] >= 'a' && w[0] <= 'z' && ("|" + w + "|").find("|" + args[positional[q]] + "|") == std::string::npos)
            return {};
    }
    return wordAt(p);
}

}  // namespace

void RefuseEmptyNames(const std::string& usage, const Args& args)
{
    if (std::none_of(args.begin(), args.end(), [](const std::string& a) { return a.empty(); }))
        return;
    const std::vector<Form> forms = Forms(usage);
    std::vector<size_t> positional;  // places in args
    for (size_t i = 0; i < args.size(); ++i) {
        if (!IsOption(args[i])) {
            positional.push_back(i);
            continue;
        }
        const std::string word = OptionWord(forms, args[i]);
        if (word == args[i] || i + 1 >= args.size())
            continue;
        if (args[++i].empty() && IsFileWord(word))
            throw BadArgument(word + " is an empty name");
    }
    for (size_t p = 0; p < positional.size(); ++p) {
        if (!args[positional[p]].empty())
            continue;
        for (const Form& f : forms)
            if (const std::string word = PositionalWord(f, args, positional, p); !word.empty()) {
                if (IsFileWord(word))
                    throw BadArgument(word + " is an empty name");
                break;
            }
    }
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

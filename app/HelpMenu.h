// The help menu's entries: the titles and web links of the resource record
// "InfoM", and what each menu command id does.
//
// "InfoM" is a compressed block of 8-bit text made of tokens written
// "{|" text "|}". Tokens come in pairs, title then link; a single "---"
// token is a separator. At most ten entries are kept (separators count), so
// every entry has one of the ids 5..14 and none reaches the ids windows use
// for their own commands.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CQNF_Storage;

struct qntHELPENTRY {
    std::string title;  // "---" for a separator
    std::string link;   // "---" for a separator
    bool IsSeparator() const { return title == "---"; }
};

namespace qnhelp {
inline constexpr unsigned short kAbout = 1;
inline constexpr unsigned short kHelp = 2;
inline constexpr unsigned short kFirstLink = 5;
inline constexpr unsigned short kMaxEntries = 10;
inline constexpr int kMaxMarkers = 20;
}  // namespace qnhelp

// The entries of an inflated "InfoM" text. Unbalanced markers give none; a
// closing marker before its opening one ends the list there; a last title
// without a link is dropped.
std::vector<qntHELPENTRY> qnParseHelpText(const char* text);
// Reads and inflates "InfoM" of the storage; no entries when it is missing
// or damaged.
std::vector<qntHELPENTRY> qnReadHelpEntries(CQNF_Storage* storage);

// What a help-menu command does.
struct qntHELPCOMMAND {
    enum Kind : uint8_t { None, About, Help, Link } kind = None;
    std::string link;
};
qntHELPCOMMAND qnHelpCommand(unsigned short id, const std::vector<qntHELPENTRY>& entries);

// Parsing the help menu's record and dispatching its commands.
#include "app/HelpMenu.h"

#include "core/Mem.h"
#include "core/Storage.h"
#include "core/String.h"
#include "core/ZipBlock.h"

#include <cstring>

namespace {

// Positions of up to kMaxMarkers hits of a marker, each search starting two
// characters after the last hit.
std::vector<size_t> FindMarkers(const std::string& s, const char* marker)
{
    std::vector<size_t> hits;
    size_t from = 0;
    while (hits.size() < size_t(qnhelp::kMaxMarkers)) {
        const size_t at = s.find(marker, from);
        if (at == std::string::npos)
            break;
        hits.push_back(at);
        from = at + 2;
    }
    return hits;
}

}  // namespace

std::vector<qntHELPENTRY> qnParseHelpText(const char* text)
{
    std::vector<qntHELPENTRY> out;
    if (!text)
        return out;
    const std::string s(text);
    const std::vector<size_t> open = FindMarkers(s, "{|");
    const std::vector<size_t> close = FindMarkers(s, "|}");
    if (open.size() != close.size())
        return out;
    std::vector<std::string> tokens;
    for (size_t i = 0; i < open.size(); ++i) {
        // Crossed markers end the list: what follows cannot be trusted.
        if (close[i] < open[i] + 2)
            break;
        tokens.push_back(s.substr(open[i] + 2, close[i] - open[i] - 2));
    }
    for (size_t i = 0; i < tokens.size() && out.size() < qnhelp::kMaxEntries; ++i) {
        if (tokens[i] == "---") {
            out.push_back({"---", "---"});
            continue;
        }
        if (i + 1 >= tokens.size())
            break;
        out.push_back({tokens[i], tokens[i + 1]});
        ++i;
    }
    return out;
}

std::vector<qntHELPENTRY> qnReadHelpEntries(CQNF_Storage* storage)
{
    if (!storage)
        return {};
    CQNF_Mem packed;
    if (!storage->GetRec(CQNF_String("InfoM"), packed) || !packed.GetSize())
        return {};
    CQNF_Mem text;
    CQNF_ZipBlock zip;
    zip.SetSourceBlock(packed);
    zip.SetDestBlock(&text);
    zip.SetMode(0);
    if (!zip.Process())
        return {};
    // NUL-terminated copy: the text may hold no terminator of its own.
    std::string s(reinterpret_cast<const char*>(text.GetPtr()), text.GetSize());
    s = s.c_str();
    return qnParseHelpText(s.c_str());
}

qntHELPCOMMAND qnHelpCommand(unsigned short id, const std::vector<qntHELPENTRY>& entries)
{
    qntHELPCOMMAND c;
    if (id == qnhelp::kAbout) {
        c.kind = qntHELPCOMMAND::About;
    } else if (id == qnhelp::kHelp) {
        c.kind = qntHELPCOMMAND::Help;
    } else if (id >= qnhelp::kFirstLink && id < qnhelp::kFirstLink + qnhelp::kMaxEntries) {
        const size_t k = id - qnhelp::kFirstLink;
        // A separator or an id beyond the list is no command.
        if (k < entries.size() && !entries[k].IsSeparator()) {
            c.kind = qntHELPCOMMAND::Link;
            c.link = entries[k].link;
        }
    }
    return c;
}

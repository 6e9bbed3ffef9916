// "core-demo OUTDIR": the framework core at work: it names the pieces of a
// small grid, sorts them, writes a piece list into OUTDIR through a temporary
// file, reads it back and reports progress on the way.
#include "tools/Command.h"

#include "core/ErrorWords.h"
#include "core/ProgramOutput.h"
#include "core/Array.h"
#include "core/ErrorManager.h"
#include "core/Progress.h"
#include "core/SafeFile.h"
#include "core/StdFile.h"
#include "core/String.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace {

// Prints each percentage once, as a host's progress bar would show it.
class PrintProgress : public CQNF_Progress {
public:
    void Progress(uint8_t percent, void*) override
    {
        if (percent == m_lastPercent)
            return;
        m_lastPercent = percent;
        std::printf("  progress %3u%%\n", percent);
    }
};

int CoreDemo(const std::string& outDir)
{
    const int rows = 3, columns = 4;
    PrintProgress progress;
    CQNF_SubProgress naming, writing;
    naming.SetMasterProgress(&progress, 0, 50);
    writing.SetMasterProgress(&progress, 50, 100);

    // Piece names, tagged with their piece index, listed column by column.
    CQNF_StringArray names;
    for (int c = 0; c < columns; ++c) {
        for (int r = 0; r < rows; ++r) {
            CQNF_String name;
            name.Format("Piece %c%d", 'A' + r, c + 1);
            if (names.Add(name, uint32_t(r * columns + c)) < 0)
                return tool::Fail("core-demo", "out of memory");
        }
        naming.Progress(uint8_t(100 * (c + 1) / columns), nullptr);
    }
    names.SortElements(1);

    CQNF_String text("# piece list\n");
    CQNF_DWordArray order;
    for (uint32_t i = 0; i < names.GetSize(); ++i) {
        const CQNF_String name = names[i];
        CQNF_String line;
        line.Format("%-10s index %2u\n", name.GetStr(), name.GetTag());
        text += line;
        order.Add(name.GetTag());
    }

    // Written through a temporary file, so a failed run never leaves a
    // half-written list behind.
    const std::filesystem::path final = std::filesystem::path(outDir) / "pieces.txt";
    CQNF_SafeFile safe;
    if (!safe.Open(final.string()))
        return tool::Fail("core-demo", qnFileFailure(final.string(), true, safe.GetError()));
    CQNF_StdFile& file = safe.File();
    const uint32_t half = text.GetLength() / 2;
    bool written = file.Write(text.GetStr(), half) == half;
    writing.Progress(50, nullptr);
    written = written && file.Write(text.GetStr() + half, text.GetLength() - half) == text.GetLength() - half;
    writing.Progress(100, nullptr);
    const int64_t length = file.GetLength();
    // A failed write leaves the old list whole, and says why it failed.
    if (!written || !safe.Commit())
        return tool::Fail("core-demo", qnFileFailure(final.string(), true,
                                                     safe.GetError() ? safe.GetError() : qnerr::FileWrite));

    // Read back and check the first bytes through a hex dump.
    CQNF_StdFile check(final.c_str(), 1);
    CQNF_Mem head(12);
    CQNF_String hex;
    if (check.Read(head) != 12 || !hex.BufferHEX(head))
        return tool::Fail("core-demo", "cannot read back " + final.string());
    const int32_t at = text.Find("Piece C4", 0, 1);

    std::printf("%s", text.GetStr());
    std::printf("tessolo demo: %u pieces, first index %u, last index %u\n", names.GetSize(), order[0],
                order[order.GetSize() - 1]);
    std::printf("tessolo demo: wrote %lld bytes to %s (starts %s), \"Piece C4\" at offset %d\n",
                static_cast<long long>(length), qnShownName(final.string()).c_str(), hex.GetStr(), at);
    return 0;
}

int Run(const tool::Args& args)
{
    tool::RefuseOptions(args);
    if (args.size() != 1)
        return tool::BadArguments("core-demo", "expected one argument OUTDIR");
    if (const std::string why = qnStandardOutputFolderRefusal(args[0]); !why.empty())
        return tool::Fail("core-demo", why);
    if (const std::string why = qnMakeLastFolder(args[0]); !why.empty())
        return tool::Fail("core-demo", why);
    return CoreDemo(args[0]);
}

tool::Registrar reg({"core-demo", "core-demo OUTDIR", "exercise the framework core: strings, arrays, safe files, progress", Run});

}  // namespace

// A long export shows a bar on a terminal, as the host does, and nothing
// extra in a pipe or a log.
#include "../need_program.h"
#include "tool_run.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ToolProgress, ExportPiecesShowsABarOnlyOnATerminal)
{
    NEED_PROGRAM("script", "bsdutils");
    const Folder d("tool_export_progress");
    const std::string layout = d / "p.qntd", sample = std::string(TESSOLO_SOURCE_DIR) + "/samples/sample.png";
    ASSERT_EQ(RunTool("layout new --grid 6x4 '" + layout + "'").code, 0);
    for (const char* to : {"png", "psd"}) {
        SCOPED_TRACE(to);
        const std::string out = std::string(to) == "png" ? d / "pieces" : d / "pieces.psd";
        std::filesystem::create_directories(d / "pieces");
        const std::string args = "export pieces --to " + std::string(to) + " '" + layout + "' '" + sample + "' '" + out + "'";
        const Result piped = RunTool(args);
        ASSERT_EQ(piped.code, 0) << piped.err;
        EXPECT_EQ(piped.err, "");
        EXPECT_NE(piped.out.find("wrote "), std::string::npos) << piped.out;
        const Result terminal = RunProgram("script", "-qec \"'" + std::string(TESSOLO_TOOL) + "' " + args + "\" /dev/null");
        ASSERT_EQ(terminal.code, 0) << terminal.out;
        EXPECT_NE(terminal.out.find("tessolo-tool export pieces ["), std::string::npos) << terminal.out;
        EXPECT_NE(terminal.out.find("] 100%"), std::string::npos) << terminal.out;
        // The bar's line is cleared before the closing line.
        EXPECT_NE(terminal.out.find("\rwrote "), std::string::npos) << terminal.out;
    }
}

}  // namespace

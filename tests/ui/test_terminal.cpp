// The terminal front end: the window's commands as text lines, and every
// change of the window printed.
#include <sstream>

#include "ui/terminal_host.h"
#include "window_fixture.h"

using namespace vntx;
using namespace vntx::ui;
using vntx::test::WindowTest;

namespace {

class Terminal : public WindowTest {
protected:
    std::string run(const std::string& line) {
        out.str("");
        host.execute(line);
        host.paintChanges();
        return out.str();
    }
    std::ostringstream out;
    TerminalHost host{out};
};

TEST_F(Terminal, CommandsAndWhatChangedArePrinted) {
    setFrontEnd(&host);
    host.paintChanges();  // the first picture
    std::string shown = run("enter block_callsign dlh4ab");
    EXPECT_NE(shown.find("[window] BLOCK_CALLSIGN = DLH4AB"), std::string::npos) << shown;

    shown = run("enter BLOCK_CALLSIGN ab");
    EXPECT_NE(shown.find("[window] status: callsign 'ab' is not valid"), std::string::npos) << shown;

    shown = run("select AIRP_RANGE 7");
    EXPECT_NE(shown.find("'7' is not an entry of AIRP_RANGE (5, 10, 15, 20, 25, 30)"), std::string::npos) << shown;
    EXPECT_EQ(stored("AIRP_RANGE"), "20");
    shown = run("select RANGE 25");
    EXPECT_NE(shown.find("'RANGE' is disabled"), std::string::npos) << "automatic range: " << shown;

    shown = run("button Block");
    EXPECT_NE(shown.find("'Block' is disabled"), std::string::npos) << shown;

    shown = run("check RANGE");
    EXPECT_NE(shown.find("no check control 'RANGE'"), std::string::npos) << shown;

    shown = run("button tblo");
    EXPECT_NE(shown.find("'tblo' is disabled"), std::string::npos) << shown;

    showError("reading airports failed!");
    shown = run("check AIRBORNE_ONLY");
    EXPECT_NE(shown.find("[window] error: Error reading airports failed!"), std::string::npos) << shown;
    EXPECT_NE(shown.find("[window] AIRBORNE_ONLY = on"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("Be aware"), std::string::npos) << shown;
    setFrontEnd(&window);
}

TEST_F(Terminal, ShowPrintsTheWholeWindow) {
    const std::string shown = run("show");
    for (const char* line : {"label at 21,147: Scan for liveries", "version: Version 11.9.2", "live: live:   0",
                             "RANGE = 40 (disabled)", "DESTINATION =  (disabled)", "Flush static (disabled)",
                             "window is a normal window"})
        EXPECT_NE(shown.find(line), std::string::npos) << line << "\n" << shown;
}

}  // namespace

// Entry of the Linux build: the terminal stands in for the main window.
#include <iostream>

#include "core/app.h"
#include "core/wiring.h"
#include "platform/platform.h"
#include "ui/terminal_host.h"

int main(int argc, char** argv) {
    vntx::installAllHooks();
    vntx::ui::TerminalHost host(std::cout);
    return vntx::programMain(vntx::platform::commandLineArguments(argc, argv), host);
}

// simhost: stands in for Prepar3D on its SimConnect interface.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "server.h"

namespace {
// The trace is flushed line by line, so an interrupt may end the process at once.
extern "C" void onSignal(int) { std::_Exit(0); }
}  // namespace

int main(int argc, char** argv) {
    auto args = vntx::platform::commandLineArguments(argc, argv);
    for (const auto& a : args) {
        if (a == "--help" || a == "-h") {
            std::cout << vntx::simhost::usage();
            return 0;
        }
    }
    vntx::simhost::Options options;
    std::string error;
    if (!vntx::simhost::parseOptions(args, options, error)) {
        std::cerr << "simhost: " << error << "\n" << vntx::simhost::usage();
        return 2;
    }
    vntx::simhost::Server server(options);
    if (!server.start(error)) {
        std::cerr << "simhost: " << error << "\n";
        return 1;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::cout << "simhost: Prepar3D v" << options.p3dVersion << " stand-in, port " << server.port();
    if (server.port6() > 0) std::cout << ", IPv6 port " << server.port6();
    if (!server.pipePath().empty()) std::cout << ", pipe " << server.pipePath();
    std::cout << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
        if (line == "exit") {
            server.stop();
            return 0;
        }
        if (line.empty()) continue;
        auto reply = server.command(line);
        if (!reply.empty()) std::cerr << "simhost: " << reply << std::endl;
    }
    // No more commands: serve until interrupted.
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

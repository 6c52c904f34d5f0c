#include "core/app.h"

#include <filesystem>
#include <memory>
#include <thread>

#include <fmt/format.h>
#include <pugixml.hpp>

#include "core/cycle.h"
#include "core/files.h"
#include "core/hooks.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/state.h"
#include "core/version.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace vntx {
namespace {
WindowHost* host = nullptr;
std::jthread cycleThread;

// Start step 7: MAIN_WINDOW_X/Y from parameters.xml; a file that does not
// parse is kept as one backup generation and removed.
void restoreWindowPosition() {
    auto& p = params();
    fs::path file = p.file();
    std::error_code ec;
    if (fs::exists(file, ec)) {
        pugi::xml_document doc;
        if (!doc.load_file(file.c_str())) {
            logf("{} failed to load, syntax error?\n --> saved as 0.xml,  file removed\n", file.string());
            gf_save1GenerationOf(file);
            fs::remove(file, ec);
        } else {
            for (IntParam* ip : {&p.MAIN_WINDOW_X, &p.MAIN_WINDOW_Y}) {
                auto node = doc.select_node(fmt::format("/parameters/parameter[@name='{}']", ip->key).c_str()).node();
                if (node) ip->set(node.attribute("value").as_llong(ip->def));
            }
        }
    }
    for (IntParam* ip : {&p.MAIN_WINDOW_X, &p.MAIN_WINDOW_Y}) {
        if (ip->get() == ip->min || ip->get() == ip->max) {
            ip->set(ip->def);
            if (fs::exists(file, ec)) p.writeParameter(*ip);
        }
    }
}
}  // namespace

bool productionRequested(const std::vector<std::string>& args) {
    bool production = false;
    for (const auto& a : args) {
        if (iequals(a, "--production") || iequals(a, "/production"))
            production = true;
        else if (iequals(a, "--no-production") || iequals(a, "/no-production"))
            production = false;
    }
    return production;
}

int programMain(const std::vector<std::string>& args, WindowHost& windowHost) {
    // 1
    auto instance = platform::InstanceLock::acquire(kInstanceName);
    if (!instance) return -1;
    // 2
    try {
        openLog();
    } catch (const std::exception&) {
        // Nothing can be logged; the program goes on without a log.
    }
    // 3
    bool production = productionRequested(args);
    // 4
    auto title = windowHost.loadTitle();
    if (!title) {
        logError("Failed to load application title");
        return 0;
    }
    // 5
    if (!windowHost.registerWindowClass(*title)) {
        logError("Failed to register window class");
        return 0;
    }
    // 6
    fs::path dataFolder = programDataFolder();
    std::error_code ec;
    if (!fs::exists(dataFolder, ec) && !fs::create_directories(dataFolder, ec))
        logf("Failed to create directory: {}", dataFolder.string());
    // Which simulator versions are installed is decided once per process.
    auto& cs = cycleState();
    cs.p3dV5Installed = platform::registryKeyExists(platform::RegistryHive::LocalMachine,
                                                     "SOFTWARE\\Lockheed Martin\\Prepar3D v5");
    cs.p3dV6Installed = platform::registryKeyExists(platform::RegistryHive::LocalMachine,
                                                     "SOFTWARE\\Lockheed Martin\\Prepar3D v6");
    // 7
    host = &windowHost;
    setFrontEnd(&windowHost);
    restoreWindowPosition();
    auto& p = params();
    if (!windowHost.createMainWindow(*title, p.MAIN_WINDOW_X, p.MAIN_WINDOW_Y)) {
        logError("initInstance failed");
        setFrontEnd(nullptr);
        return 0;
    }
    // 8
    if (production) cs.productionMode = true;
    // 9
    windowHost.postStartCycle();
    int code = windowHost.runMessageLoop();
    if (cycleThread.joinable()) cycleThread.join();
    if (hooks().joinThreads) hooks().joinThreads();
    setFrontEnd(nullptr);
    host = nullptr;
    flushLog();
    return code;
}

void onStartCycle() {
    // Assigning a new thread stops and joins the previous one first.
    cycleThread = std::jthread(runCycle);
}

void onEndProgram() {
    auto& p = params();
    if (host) {
        WindowRect r = host->windowRect();
        for (auto [ip, v] : {std::pair{&p.MAIN_WINDOW_X, r.left}, std::pair{&p.MAIN_WINDOW_Y, r.top}}) {
            int before = ip->get();
            ip->set(v);
            p.writeParameter(*ip);
            if (ip->get() == ip->min || ip->get() == ip->max) {
                ip->set(before);
                p.writeParameter(*ip);
            }
        }
    }
    logLine(utcDateTimeNow());
    flushLog();
    if (host) host->quit(cycleState().exitCode);
}

void onCloseButton() {
    showStatus(fmt::format("Close window button clicked, closing {} ...", kProgramName), true);
    requestStop(ExitReason::UserClosedSim, 0);
}

}  // namespace vntx

#include "core/cycle.h"

#include <filesystem>
#include <thread>

#include <fmt/format.h>

#include "core/errors.h"
#include "core/files.h"
#include "core/hooks.h"
#include "core/log.h"
#include "core/loop_stats.h"
#include "core/parameters.h"
#include "core/state.h"
#include "core/status.h"
#include "core/version.h"
#include "platform/platform.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace vntx {

CycleState& cycleState() {
    static CycleState state;
    return state;
}

CycleHooks& hooks() {
    static CycleHooks h;
    return h;
}

namespace {
class SteadyCycleClock final : public CycleClock {
public:
    TimePoint now() override { return std::chrono::steady_clock::now(); }
    void sleepUntil(TimePoint t) override { platform::sleepUntil(t); }
    void sleepUntilPrecisely(TimePoint t) override { platform::sleepUntilPrecisely(t); }
};
SteadyCycleClock steadyClock;
CycleClock* currentClock = &steadyClock;
}  // namespace

CycleClock& cycleClock() { return *currentClock; }
void setCycleClock(CycleClock* clock) { currentClock = clock ? clock : &steadyClock; }

namespace {
std::mutex trafficMutex;
bool cycleRunningFlag = false;

// Tick-local state of the control loop (cycle thread only).
struct TickState {
    bool flightNotRunning = false;
    int pauseCountdown = 0;
    bool collectArmed = false;
    std::uint32_t armedAt = 0;
    int lastLive = -1;
    int lastStatic = -1;
};
TickState tickState;

template <typename F, typename... A>
void call(const F& f, A&&... args) {
    if (f) f(std::forward<A>(args)...);
}

template <typename R, typename... A>
R callOr(const std::function<R(A...)>& f, R fallback) {
    return f ? f() : fallback;
}

bool stopOrClosed() { return stopRequested() || userClosed(); }

// Sleeps in small steps while no stop is requested; false when a stop came.
bool waitWhileRunning(std::chrono::milliseconds total) {
    auto& clock = cycleClock();
    const auto end = clock.now() + total;
    while (clock.now() < end) {
        if (stopOrClosed()) return false;
        clock.sleepUntil(std::min(clock.now() + 10ms, end));
    }
    return !stopOrClosed();
}

void enable(int controlId, bool on) {
    if (auto* fe = frontEnd()) fe->enableControl(controlId, on);
}

void createWorkingFolders() {
    for (const char* folder : {"output/info", "output/errors", "airports/learned/stock", "airports/learned/simaddon",
                               "airports/learned/thirdparty", "airports/my_ORBX", "airports/my_thirdparty",
                               "input/my_regcodes"}) {
        std::error_code ec;
        fs::create_directories(folder, ec);
    }
    std::error_code ec;
    fs::remove("AIG-regcodes0.xml", ec);
    fs::remove("AIG-regcodes00.xml", ec);
}

bool anyFolderParameter() {
    auto& p = params();
    for (auto& t : p.lfolder)
        if (!t.empty()) return true;
    for (auto& t : p.afolder)
        if (!t.empty()) return true;
    return false;
}

void detectSimulator() {
    auto& p = params();
    auto& cs = cycleState();
    const char* noPath = "No P3D install path detected, type full Install Path above, and press Enter";
    bool v5 = cs.p3dV5Installed, v6 = cs.p3dV6Installed;
    if (v5 && v6)
        throw UserErrorException(
            99, "More than one P3D version detected, type full Install Path to wanted version above and press Enter");
    if (!v5 && !v6) {
        showStatus("P3D not detected?", true);
        if (anyFolderParameter()) return;
        p.ALL_INSTALL_PATH.set("");
        requestRepaint();
        throw UserErrorException(99, noPath);
    }
    const char* name = v5 ? "P3Dv5" : "P3Dv6";
    logf("{} detected", name);
    std::string key = v5 ? "SOFTWARE\\Lockheed Martin\\Prepar3D v5" : "SOFTWARE\\Lockheed Martin\\Prepar3D v6";
    auto setup = platform::registryReadString(platform::RegistryHive::LocalMachine, key, "SetupPath");
    if (!setup || setup->empty()) {
        p.ALL_INSTALL_PATH.set("");
        requestRepaint();
        throw UserErrorException(99, noPath);
    }
    p.ALL_INSTALL_PATH.set(*setup);
    p.SIM_INSTALL_PATH.set(*setup);
    p.writeParameter(p.SIM_INSTALL_PATH);
    if (auto* fe = frontEnd()) fe->refreshControls();
}

// Preparation; false when the cycle goes straight to closing (the update
// check asked for it). Production mode stops the cycle but lets the scans run.
bool prepare() {
    auto& p = params();
    auto& cs = cycleState();
    auto& h = hooks();
    p.readAllParameters();
    requestRepaint();
    flushLog();
    enable(p.RANGE.controlId, !p.AUTO_RANGE);
    enable(p.AR_ABOVE_HEIGHT.controlId, p.AUTO_RANGE);
    createWorkingFolders();
    if (!cs.restartPending && h.updateCheck && !h.updateCheck()) return false;
    recomputeScheduleSlot();
    if (!cs.processedDataFiles) {
        if (h.readDataFiles && !h.readDataFiles()) throw std::runtime_error("reading data files failed!");
        cs.processedDataFiles = true;
    }
    if (h.readAirports && !h.readAirports()) throw std::runtime_error("reading airports failed!");
    p.ALL_INSTALL_PATH.set(p.SIM_INSTALL_PATH.get());
    enable(p.ALL_INSTALL_PATH.controlId, true);
    if (auto* fe = frontEnd()) fe->refreshControls();
    if (p.ALL_INSTALL_PATH.empty()) detectSimulator();
    requestRepaint();
    if (cs.productionMode) {
        requestStop(ExitReason::UserClosedSim, 0);
        return true;
    }
    // The RealTraffic link looks for RealTraffic.jar and reports what it found.
    cs.realTrafficInstalled = callOr(h.realTrafficInstalled, false);
    return true;
}

}  // namespace

void connectAndRun() {
    auto& p = params();
    auto& cs = cycleState();
    auto& h = hooks();
    // 1
    indicators().realTraffic = false;
    indicators().simRunning = false;
    indicators().waiting = true;
    requestRepaint();
    call(h.clearContainers);
    // 2-3: the simulator thread, then wait for the simulation to run.
    call(h.startSimulator);
    while (!callOr(h.simulationRunning, false)) {
        if (stopOrClosed()) return;
        cycleClock().sleepFor(100ms);
    }
    if (h.waitForUserAircraft && !h.waitForUserAircraft()) return;
    if (stopOrClosed()) return;
    // 4
    if (p.AUTO_RANGE) {
        call(h.autoRange);
        enable(p.RANGE.controlId, false);
    }
    // 5
    bool useRealTraffic = cs.realTrafficInstalled && !p.AEROWINX;
    if (!useRealTraffic) {
        indicators().realTraffic = true;
    } else {
        call(h.openRealTrafficServer);
    }
    // 6
    if (stopRequested()) return;
    indicators().waiting = false;
    requestRepaint();
    // 7
    if (useRealTraffic) {
        call(h.realTrafficHandshake);
        if (callOr(h.timeSyncEnabled, false)) call(h.sendSimulatorTime);
    }
    // 8-9
    if (stopRequested()) return;
    setCycleRunning(false);
    // 10-11
    call(h.startWeatherReader);
    if (!waitWhileRunning(2000ms)) return;
    call(h.startTrafficReader);
    call(h.sendUserPosition);
    call(h.copyRangePosition);
    if (h.trafficTimeArrived && !h.trafficTimeArrived()) {
        for (int i = 0; i < 150 && !h.trafficTimeArrived(); ++i) {
            if (stopOrClosed()) return;
            cycleClock().sleepFor(100ms);
        }
        if (!h.trafficTimeArrived()) logLine("No traffic in this region?");
    }
    // 12
    recomputeScheduleSlot();
    call(h.updateStaticParkingFirst);
    readersLivenessCheck();
    cs.reportCount = 0;
    recomputeScheduleSlot();
    auto firstDeadline = cycleClock().now() + 10ms;
    // 13
    setCycleRunning(true);
    call(h.fillCallsignList);
    enable(32857, true);
    flushLog();
    // 14-15
    tickState = TickState{};
    platform::beginTimerPeriod1ms();
    logLine("Control loop priority: " + platform::raiseTimingThreadPriority());
    LoopPeriodStats loopStats, minuteStats;
    // 0 .. 10 ms in microseconds
    DurationStats tickCpu(1us, 10000), tickWall(1us, 10000), wokeLate(1us, 10000);
    auto nextLoadLine = std::chrono::steady_clock::now() + 60s;
    runControlLoop(
        [&] {
            const auto started = std::chrono::steady_clock::now();
            loopStats.tickStarted(started);
            minuteStats.tickStarted(started);
            const auto cpu = platform::threadCpuTime();
            const bool go = tick();
            tickCpu.add(platform::threadCpuTime() - cpu);
            tickWall.add(std::chrono::steady_clock::now() - started);
            if (started >= nextLoadLine) {
                // Once a minute: how the loop and the parts it drives keep up under load.
                std::string more = tickTimingText(tickWall, wokeLate);
                if (auto link = callOr(h.simLinkLoad, std::string()); !link.empty()) more += "; " + link;
                if (auto traffic = callOr(h.trafficLoad, std::string()); !traffic.empty()) more += "; " + traffic;
                logLine(loadLine(minuteStats, tickCpu, more));
                minuteStats.restart();
                tickCpu.restart();
                tickWall.restart();
                wokeLate.restart();
                nextLoadLine = started + 60s;
            }
            return go;
        },
        cs.reportPending, firstDeadline, 10ms, &wokeLate);
    platform::restoreThreadPriority();
    platform::endTimerPeriod1ms();
    logLine(loopStats.summary());
}

namespace {

// The duties every 15th report.
void duties15(std::uint32_t count) {
    auto& h = hooks();
    auto& cs = cycleState();
    auto& p = params();
    auto& ts = tickState;
    // 1: static-parking update in two steps.
    if (cs.staticUpdateRequested) {
        if (!ts.collectArmed) {
            ts.collectArmed = true;
            ts.armedAt = count;
            call(h.staticUpdatePrepare);
            call(h.collectCallsigns, true);
        } else if (count - ts.armedAt >= 15) {
            ts.collectArmed = false;
            call(h.collectCallsigns, false);
            clearError();
            clearStatus();
            call(h.staticUpdateFinish);
            flushLog();
            cs.staticUpdateRequested = false;
        }
    }
    // 2
    if (indicators().weatherLiveness == 2 || indicators().trafficLiveness == 2) readersLivenessCheck();
    // 3
    if (count % 30 == 0) {
        call(h.flightPlanCleanup30);
        if (p.AUTO_RANGE) call(h.autoRange);
    }
    // 4
    if (count % 60 == 0) {
        int left = indicators().staticCountdown - 1;
        if (left <= 0) {
            left = 20;
            if (p.MAX_PARK_SEL.get() > 0 && !cs.flushStaticRequested && !p.INITIAL_LOAD_ONLY) {
                showStatus(fmt::format("{} will update static parking in {} second{} ...", kProgramName, 15, "s"),
                           true);
                cs.staticUpdateRequested = true;
            }
        }
        indicators().staticCountdown = left;
        requestRepaint();
    }
    // 5
    if (count % 1200 == 0) call(h.noMatchReport);
    // 6
    flushLog();
}

}  // namespace

std::mutex& liveTrafficMutex() { return trafficMutex; }

void setCycleRunning(bool running) {
    std::lock_guard lock(trafficMutex);
    cycleRunningFlag = running;
}

bool cycleRunningLocked() { return cycleRunningFlag; }

std::uint64_t scheduleSlotFor(std::int64_t t) {
    std::int64_t days = t >= 0 ? t / 86400 : -((-t + 86399) / 86400);
    std::int64_t secs = t - days * 86400;
    std::uint64_t weekday = static_cast<std::uint64_t>(((days % 7) + 7 + 3) % 7 + 1);  // 1970-01-01: Thursday
    int hour = static_cast<int>(secs / 3600), minute = static_cast<int>((secs / 60) % 60),
        second = static_cast<int>(secs % 60);
    int half = (hour * 2 + ((minute > 29 || (minute == 29 && second >= 30)) ? 1 : 0)) % 48;
    return weekday | (static_cast<std::uint64_t>(half) << 32);
}

void recomputeScheduleSlot() {
    auto& h = hooks();
    std::int64_t t = 0;
    if (h.timeSyncEnabled && h.timeSyncEnabled() && h.lastTrafficTime) t = h.lastTrafficTime();
    if (t <= 0) t = nowEpochSeconds();
    cycleState().scheduleSlot = scheduleSlotFor(t);
}

std::string restartCountdownText(int n) { return fmt::format("Restarting after {} second{}", n, n == 1 ? "" : "s"); }

void runControlLoop(const std::function<bool()>& tickFn, const std::atomic<bool>& reportPending,
                    std::chrono::steady_clock::time_point deadline, std::chrono::milliseconds period,
                    DurationStats* wokeLate) {
    auto& clock = cycleClock();
    if (!tickFn()) return;
    while (true) {
        clock.sleepUntilPrecisely(deadline);
        if (wokeLate) wokeLate->add(clock.now() - deadline);
        if (reportPending.load()) deadline = clock.now();
        deadline += period;
        if (!tickFn()) return;
    }
}

void readersLivenessCheck() {
    auto& ind = indicators();
    if (!ind.realTraffic) return;
    auto& h = hooks();
    auto check = [&](const std::function<bool()>& changed, std::atomic<int>& state) {
        if (!(changed && changed())) {
            state = 2;
            requestRepaint();
        } else if (state == 2) {
            state = 1;
            requestRepaint();
        }
    };
    check(h.weatherCountChanged, ind.weatherLiveness);
    check(h.trafficCountChanged, ind.trafficLiveness);
}

void handleFlushStatic() {
    if (!cycleState().flushStaticRequested.exchange(false)) return;
    call(hooks().flushStatic);
    params().INITIAL_LOAD_ONLY.set(true);
    if (auto* fe = frontEnd()) fe->refreshControls();
}

bool tick() {
    auto& h = hooks();
    auto& cs = cycleState();
    auto& ts = tickState;
    auto& p = params();
    if (callOr(h.simulationRunning, true)) {
        call(h.trafficTick);
        if (!cs.reportPending.exchange(false)) return true;
        if (ts.flightNotRunning) {
            ts.flightNotRunning = false;
            logf("{} Flight resumed", utcTimeOfDay());
            setCycleRunning(true);
        }
        advanceStatusAge();
        call(h.refreshCounts);
        recomputeScheduleSlot();
        std::uint32_t count = ++cs.reportCount;
        handleFlushStatic();
        call(h.perReportDuties);
        if (stopOrClosed()) return false;
        if (count % 15 != 0) {
            if (count % 16 == 0 && !cs.staticUpdateRequested && !ts.collectArmed) call(h.staticRefresh);
            if (count % 59 == 0) readersLivenessCheck();
            if (count % 61 == 0) call(h.removeDuplicateStatic);
        } else {
            call(h.copyRangePosition);
            if (callOr(h.timeSyncEnabled, false)) call(h.sendSimulatorTime);
            call(h.staticDuties15);
            duties15(count);
        }
        if (count >= 86400) {
            cs.reportCount = 0;
            call(h.matchingSummary);
            call(h.cleanFlightPlanFolder);
        }
        (void)p;
        return true;
    }
    if (!ts.flightNotRunning) {
        ts.flightNotRunning = true;
        logf("{} Flight not running", utcTimeOfDay());
        setCycleRunning(false);
        call(h.pauseEnter);
        ts.pauseCountdown = 100;
    }
    call(h.pauseDuties);
    if (--ts.pauseCountdown <= 0) {
        handleFlushStatic();
        call(h.pauseCountdownDone);
        call(h.sendUserPosition);
        ts.pauseCountdown = 100;
        recomputeScheduleSlot();
    }
    return !stopOrClosed();
}

void resetCycle() {
    auto& h = hooks();
    call(h.resetCycleState);
    indicators().reset();
    clearError();
    clearStatus();
    resetStopState();
    cycleState().staticUpdateRequested = false;
    cycleState().flushStaticRequested = false;
    cycleState().reportPending = false;
    params().recomputeRange();
    requestRepaint();
}

namespace {
// Sleeps up to the given time, less when the user closes the window.
void waitForUserClose(std::chrono::milliseconds most) {
    const auto end = std::chrono::steady_clock::now() + most;
    while (!userClosed() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(20ms);
}
}  // namespace

void lf_closingDown() {
    auto& h = hooks();
    auto& cs = cycleState();
    auto& p = params();
    try {
        ExitReason reason = exitReason();
        logf("Exiting: {}", exitReasonText(reason));
        setCycleRunning(false);
        call(h.stopSimulator);
        call(h.stopReaders);
        std::this_thread::sleep_for(500ms);
        call(h.closeRealTraffic);
        if (reason == ExitReason::SystemError) {
            // An install path typed while the error shows restarts with it, as the window says.
            while (!userClosed() && exitReason() != ExitReason::NewSettings) std::this_thread::sleep_for(500ms);
            if (!userClosed()) {
                reason = ExitReason::NewSettings;
            } else {
                auto text = fmt::format("User closed {}", kProgramName);
                logLine(text);
                showStatus(text, false);
            }
        }
        if (callOr(h.parkAirportSet, false)) call(h.releaseGroundTraffic);
        call(h.removeFlightPlans);
        p.BLOCK_CALLSIGN.set("");
        p.writeParameter(p.BLOCK_CALLSIGN);
        p.DESTINATION.set("");
        p.writeParameter(p.DESTINATION);
        call(h.clearGhosts);
        call(h.matchingSummary);
        call(h.noMatchReport);
        // A close of the window during the closing steps or the countdown
        // ends the program: the restart would forget it with the stop state.
        bool restart = restartsCycle(reason) && !userClosed();
        if (!restart) {
            cs.restartPending = false;
            if (reason == ExitReason::NewFlight) {
                auto text = fmt::format("New flight detected, {} will close, please restart manually ...", kProgramName);
                logLine(text);
                showStatus(text, false);
                std::this_thread::sleep_for(10s);
            }
        } else {
            cs.restartPending = true;
            clearError();
            clearStatus();
            logLine("Prepare for a restart ...");
            showStatus("Prepare for a restart ...", false);
            if (reason != ExitReason::NewSettings) {
                p.SCAN_LIVERIES.set(false);
                p.writeParameter(p.SCAN_LIVERIES);
                p.SCAN_AIRPORTS.set(false);
                p.writeParameter(p.SCAN_AIRPORTS);
            }
            int delay = restartDelaySeconds();
            if (delay >= 1) {
                logf("Restarting after {} seconds\n\n\n\n\n", delay);
                for (int n = delay; n >= 1 && !userClosed(); --n) {
                    showStatus(restartCountdownText(n), false);
                    waitForUserClose(1s);
                }
            }
            if (userClosed()) {
                restart = false;
                cs.restartPending = false;
                auto text = fmt::format("User closed {}", kProgramName);
                logLine(text);
                showStatus(text, false);
            } else {
                resetCycle();
            }
        }
        if (auto* fe = frontEnd()) {
            if (restart)
                fe->postStartCycle();
            else
                fe->postEndProgram();
        }
        flushLog();
    } catch (const std::exception& e) {
        logf("{} exception {}", "lf_closingDown", e.what());
        if (auto* fe = frontEnd()) fe->postEndProgram();
    }
}

void runCycle(std::stop_token) {
    platform::setThreadName("Cycle");
    try {
        if (!fs::is_directory("docs"))
            throw UserErrorException(99, fmt::format("{} must be run from the {} folder!", kProgramName, kProgramName));
        if (prepare()) {
            flushLog();
            call(hooks().checkStockAirports);
            cycleState().hardwareThreads = std::max(1u, std::thread::hardware_concurrency());
            auto& p = params();
            auto& h = hooks();
            if (p.SCAN_LIVERIES) call(h.scanLiveries);
            call(h.processLiveries);
            if (!stopRequested()) {
                if (p.SCAN_AIRPORTS) call(h.scanAirports);
                call(h.countParkFiles);
                requestRepaint();
            }
            if (!stopRequested()) {
                call(h.prepareFlightPlanFolder);
                call(h.readParkAirports);
                enable(p.DESTINATION.controlId, true);
                if (!p.DESTINATION.empty()) call(h.applyDestination);
                if (auto* fe = frontEnd()) fe->setTopMost(p.ALWAYS_ON_TOP);
                connectAndRun();
            } else {
                requestStop(ExitReason::UserClosedSim, 0);
            }
        }
    } catch (const std::exception& e) {
        showError(e.what());
        forceExitReason(ExitReason::SystemError);
    } catch (...) {
        showError("Unknown exception");
        forceExitReason(ExitReason::SystemError);
    }
    flushLog();
    lf_closingDown();
}

}  // namespace vntx

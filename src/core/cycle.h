// The cycle: prepare, connect, run the 10 ms control loop, close down, then
// restart or end. One cycle thread at a time.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>

namespace vntx {

class DurationStats;

struct CycleState {
    std::atomic<bool> restartPending{false};
    std::atomic<std::uint32_t> reportCount{0};
    std::atomic<bool> reportPending{false};      // set by the simulator link once a second
    std::atomic<std::uint64_t> scheduleSlot{0};  // weekday (1..7) low, half hour (0..47) high
    std::atomic<bool> productionMode{false};
    std::atomic<bool> realTrafficInstalled{false};
    std::atomic<bool> staticUpdateRequested{false};
    std::atomic<bool> flushStaticRequested{false};
    std::atomic<bool> callsignListRefreshRequested{false};
    std::atomic<bool> blockedCallsignChanged{false};       // BLOCK_CALLSIGN edited in the window
    std::atomic<bool> parkAirportsRereadRequested{false};  // "Re-read" pressed
    std::atomic<bool> p3dV5Installed{false};
    std::atomic<bool> p3dV6Installed{false};
    bool processedDataFiles = false;
    unsigned hardwareThreads = 1;
    int exitCode = 0;
};
CycleState& cycleState();

// The live-traffic lock guards cycleRunning together with the incoming traffic queue.
std::mutex& liveTrafficMutex();
void setCycleRunning(bool running);      // takes the live-traffic lock
bool cycleRunningLocked();               // caller holds the live-traffic lock

// Weekday 1 (Monday) to 7 in the low 32 bits, half hour 0..47 in the high 32 bits.
std::uint64_t scheduleSlotFor(std::int64_t epochSeconds);
void recomputeScheduleSlot();

// "Restarting after {} second{}".
std::string restartCountdownText(int seconds);

// How the cycle waits: the steady clock and real sleeps, unless a test puts
// a clock of its own in their place.
class CycleClock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual ~CycleClock() = default;
    virtual TimePoint now() = 0;
    virtual void sleepUntil(TimePoint t) = 0;
    // A sleep that must end as close to t as the machine allows (the control
    // loop's); the plain sleep where that makes no difference.
    virtual void sleepUntilPrecisely(TimePoint t) { sleepUntil(t); }
    void sleepFor(std::chrono::milliseconds d) { sleepUntil(now() + d); }
};
CycleClock& cycleClock();
void setCycleClock(CycleClock* clock);  // nullptr: the steady clock again

// The cycle thread's body (exceptions are caught inside).
void runCycle(std::stop_token stop);
// The run of a prepared cycle (run steps 1 to 15): the simulator thread and
// the wait for the user aircraft, the RealTraffic server and handshake, the
// readers and the wait for traffic, the first static parking and liveness
// check, then the control loop until a stop.
void connectAndRun();

// One control-loop tick; false ends the loop.
bool tick();
// The readers' liveness check.
void readersLivenessCheck();
// Closing down; posts the start or end message at its end.
void lf_closingDown();
// The reset at the end of a cycle that is restarted.
void resetCycle();

// The 10 ms control loop with absolute deadlines: calls tickFn until it returns
// false; realigns to the current time when reportPending is set. When given,
// wokeLate counts how long after each deadline the sleep returned.
void runControlLoop(const std::function<bool()>& tickFn, const std::atomic<bool>& reportPending,
                    std::chrono::steady_clock::time_point firstDeadline,
                    std::chrono::milliseconds period = std::chrono::milliseconds(10),
                    DurationStats* wokeLate = nullptr);

// A pending "Flush static" of the window: static parking removes its
// aircraft and INITIAL_LOAD_ONLY is switched on (value and box, not written).
void handleFlushStatic();

}  // namespace vntx

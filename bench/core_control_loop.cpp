// Measures the control loop's tick rate with an empty tick: mean period, its
// spread, and drift against the ideal 10 ms grid.
//
// Usage: bench_control_loop [seconds=10]
//        bench_control_loop --every SECONDS [seconds]
// The second form is the machine's reference for a long run of the program:
// the same loop at the same priority, with nothing to do, printing the
// program's "Load:" figures every SECONDS; what it misses, the machine misses.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/cycle.h"
#include "core/loop_stats.h"
#include "platform/platform.h"

namespace {

int reference(double every, double seconds) {
    using namespace std::chrono;
    using namespace std::chrono_literals;
    std::atomic<bool> reportPending{false};
    vntx::platform::beginTimerPeriod1ms();
    std::printf("Control loop priority: %s\n", vntx::platform::raiseTimingThreadPriority().c_str());
    std::fflush(stdout);
    vntx::LoopPeriodStats period;
    vntx::DurationStats cpu(1us, 10000), wall(1us, 10000), late(1us, 10000);
    const auto start = steady_clock::now();
    const auto end = start + duration_cast<steady_clock::duration>(duration<double>(seconds));
    const auto interval = duration_cast<steady_clock::duration>(duration<double>(every));
    auto next = start + interval;
    vntx::runControlLoop(
        [&] {
            const auto t = steady_clock::now();
            period.tickStarted(t);
            if (t >= next) {
                std::printf("%s\n", vntx::loadLine(period, cpu, vntx::tickTimingText(wall, late)).c_str());
                std::fflush(stdout);
                period.restart();
                late.restart();
                next += interval;
            }
            return t < end;
        },
        reportPending, start + 10ms, 10ms, &late);
    vntx::platform::restoreThreadPriority();
    vntx::platform::endTimerPeriod1ms();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    using clock = std::chrono::steady_clock;
    if (argc > 2 && std::string(argv[1]) == "--every")
        return reference(std::atof(argv[2]), argc > 3 ? std::atof(argv[3]) : 1e9);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    const std::size_t ticks = static_cast<std::size_t>(seconds * 100);
    std::vector<clock::time_point> at;
    at.reserve(ticks + 1);
    std::atomic<bool> reportPending{false};
    vntx::platform::beginTimerPeriod1ms();
    auto start = clock::now();
    vntx::runControlLoop(
        [&] {
            at.push_back(clock::now());
            return at.size() <= ticks;
        },
        reportPending, start + std::chrono::milliseconds(10));
    vntx::platform::endTimerPeriod1ms();

    std::vector<double> periods;
    for (std::size_t i = 1; i < at.size(); ++i)
        periods.push_back(std::chrono::duration<double, std::milli>(at[i] - at[i - 1]).count());
    double sum = 0;
    for (double p : periods) sum += p;
    double mean = sum / periods.size();
    double var = 0;
    for (double p : periods) var += (p - mean) * (p - mean);
    double sd = std::sqrt(var / periods.size());
    auto sorted = periods;
    std::sort(sorted.begin(), sorted.end());
    // Drift: where the last tick is against where the 10 ms grid puts it.
    double drift = std::chrono::duration<double, std::milli>(at.back() - at.front()).count() - 10.0 * periods.size();
    std::printf("control loop: %zu ticks in %.3f s\n", periods.size(),
                std::chrono::duration<double>(at.back() - at.front()).count());
    std::printf("  mean period %.4f ms (%.2f %% off 10 ms), sd %.4f ms\n", mean, (mean - 10.0) * 10.0, sd);
    std::printf("  p50 %.3f ms, p99 %.3f ms, max %.3f ms\n", sorted[sorted.size() / 2],
                sorted[sorted.size() * 99 / 100], sorted.back());
    std::printf("  drift over the run %.3f ms\n", drift);
    bool ok = std::fabs(mean - 10.0) <= 0.2 && std::fabs(drift) < 10.0;
    std::printf("  %s (target: mean within 2 %%, no drift)\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}

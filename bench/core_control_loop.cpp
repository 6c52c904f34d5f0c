// Measures the control loop's tick rate with an empty tick: mean period, its
// spread, and drift against the ideal 10 ms grid.
//
// Usage: bench_control_loop [seconds=10]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/cycle.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    using clock = std::chrono::steady_clock;
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

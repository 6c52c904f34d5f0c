// How regularly the control loop ticks: the time from the start of one tick
// to the start of the next. The figures (mean, 99th percentile, largest) are
// logged when a cycle's loop ends, and a long run can print and restart them
// as often as it likes. Memory stays the same however long the loop runs:
// periods are counted in bins of 0.1 ms up to 100 ms, longer ones in one bin
// of their own (the largest is always kept exactly).
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace vntx {

class LoopPeriodStats {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::microseconds kBinWidth{100};
    static constexpr std::size_t kBins = 1000;  // 0 .. 100 ms

    // A tick started at t: counts the period since the previous tick's start.
    // The first call only remembers t.
    void tickStarted(Clock::time_point t);
    // Counts one period directly (negative periods count as 0).
    void add(Clock::duration period);

    std::uint64_t count() const { return count_; }
    double meanMs() const;
    // The smallest period that at least fraction p (0 < p <= 1) of the periods
    // do not exceed, to the bin's upper edge; never above the largest period.
    double percentileMs(double p) const;
    double largestMs() const;

    // "Control loop period: mean {:.2f} ms, 99th percentile {:.1f} ms,
    // largest {:.1f} ms ({} ticks)", or a line saying no period was measured.
    std::string summary() const;

    // Starts counting afresh; the last tick's start is kept, so the next tick
    // still measures its period.
    void restart();

private:
    std::array<std::uint32_t, kBins + 1> bins_{};  // the last one: 100 ms and more
    std::uint64_t count_ = 0;
    Clock::duration total_{};
    Clock::duration largest_{};
    std::optional<Clock::time_point> lastTick_;
};

}  // namespace vntx

// How regularly the control loop ticks: the time from the start of one tick
// to the start of the next. The figures (mean, 99th percentile, largest) are
// logged when a cycle's loop ends, and a long run can print and restart them
// as often as it likes. Memory stays the same however long the loop runs:
// periods are counted in bins of 0.1 ms up to 100 ms, longer ones in one bin
// of their own (the largest is always kept exactly).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vntx {

// Durations counted in bins of a fixed width; those beyond the last bin in one
// bin of their own. Mean and largest are exact, percentiles to a bin.
class DurationStats {
public:
    using Clock = std::chrono::steady_clock;
    DurationStats(std::chrono::microseconds binWidth, std::size_t bins);

    // Negative durations count as 0.
    void add(Clock::duration d);
    std::uint64_t count() const { return count_; }
    double meanMs() const;
    // The smallest duration that at least fraction p (0 < p <= 1) of them do
    // not exceed, to the bin's upper edge; never above the largest.
    double percentileMs(double p) const;
    double largestMs() const;
    // "mean {} us, 99th percentile {} us, largest {} us"
    std::string microsecondsText() const;
    void restart();

private:
    std::chrono::microseconds binWidth_;
    std::vector<std::uint32_t> bins_;  // the last one: beyond the range
    std::uint64_t count_ = 0;
    Clock::duration total_{};
    Clock::duration largest_{};
};

class LoopPeriodStats : public DurationStats {
public:
    static constexpr std::chrono::microseconds kBinWidth{100};
    static constexpr std::size_t kBins = 1000;  // 0 .. 100 ms

    LoopPeriodStats() : DurationStats(kBinWidth, kBins) {}

    // A tick started at t: counts the period since the previous tick's start.
    // The first call only remembers t.
    void tickStarted(Clock::time_point t);

    // "Control loop period: mean {:.2f} ms, 99th percentile {:.1f} ms,
    // largest {:.1f} ms ({} ticks)", or a line saying no period was measured.
    std::string summary() const;

    // Starts counting afresh; the last tick's start is kept, so the next tick
    // still measures its period.
    void restart() { DurationStats::restart(); }

private:
    std::optional<Clock::time_point> lastTick_;
};

// The once-a-minute load line: "Load: loop period ...; tick CPU ...", then
// the other parts' figures (each "; "-separated).
std::string loadLine(const LoopPeriodStats& period, const DurationStats& tickCpu, const std::string& more);

// The loop's own timing for a load line's other parts: "tick wall {}; woke late {}".
std::string tickTimingText(const DurationStats& tickWall, const DurationStats& wokeLate);

}  // namespace vntx

#include "core/loop_stats.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

namespace vntx {

namespace {
double toMs(LoopPeriodStats::Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }
}  // namespace

void LoopPeriodStats::tickStarted(Clock::time_point t) {
    if (lastTick_) add(t - *lastTick_);
    lastTick_ = t;
}

void LoopPeriodStats::add(Clock::duration period) {
    if (period < Clock::duration::zero()) period = Clock::duration::zero();
    auto bin = static_cast<std::size_t>(period / kBinWidth);
    ++bins_[std::min(bin, kBins)];
    ++count_;
    total_ += period;
    largest_ = std::max(largest_, period);
}

double LoopPeriodStats::meanMs() const { return count_ == 0 ? 0.0 : toMs(total_) / static_cast<double>(count_); }

double LoopPeriodStats::percentileMs(double p) const {
    if (count_ == 0) return 0.0;
    p = std::clamp(p, 0.0, 1.0);
    // The rank of the period asked for, counted from 1.
    auto rank = static_cast<std::uint64_t>(std::ceil(p * static_cast<double>(count_)));
    rank = std::clamp<std::uint64_t>(rank, 1, count_);
    std::uint64_t seen = 0;
    for (std::size_t i = 0; i < kBins; ++i) {
        seen += bins_[i];
        if (seen >= rank) return std::min(toMs(kBinWidth * static_cast<long>(i + 1)), largestMs());
    }
    return largestMs();
}

double LoopPeriodStats::largestMs() const { return toMs(largest_); }

std::string LoopPeriodStats::summary() const {
    if (count_ == 0) return "Control loop period: not measured (no tick followed the first)";
    return fmt::format("Control loop period: mean {:.2f} ms, 99th percentile {:.1f} ms, largest {:.1f} ms ({} ticks)",
                       meanMs(), percentileMs(0.99), largestMs(), count_);
}

void LoopPeriodStats::restart() {
    bins_.fill(0);
    count_ = 0;
    total_ = {};
    largest_ = {};
}

}  // namespace vntx

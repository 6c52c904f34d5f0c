#include "core/loop_stats.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

namespace vntx {

namespace {
double toMs(DurationStats::Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }
}  // namespace

DurationStats::DurationStats(std::chrono::microseconds binWidth, std::size_t bins)
    : binWidth_(binWidth), bins_(bins + 1, 0) {}

void DurationStats::add(Clock::duration d) {
    if (d < Clock::duration::zero()) d = Clock::duration::zero();
    auto bin = static_cast<std::size_t>(d / binWidth_);
    ++bins_[std::min(bin, bins_.size() - 1)];
    ++count_;
    total_ += d;
    largest_ = std::max(largest_, d);
}

double DurationStats::meanMs() const { return count_ == 0 ? 0.0 : toMs(total_) / static_cast<double>(count_); }

double DurationStats::percentileMs(double p) const {
    if (count_ == 0) return 0.0;
    p = std::clamp(p, 0.0, 1.0);
    // The rank of the duration asked for, counted from 1.
    auto rank = static_cast<std::uint64_t>(std::ceil(p * static_cast<double>(count_)));
    rank = std::clamp<std::uint64_t>(rank, 1, count_);
    std::uint64_t seen = 0;
    for (std::size_t i = 0; i + 1 < bins_.size(); ++i) {
        seen += bins_[i];
        if (seen >= rank) return std::min(toMs(binWidth_ * static_cast<long>(i + 1)), largestMs());
    }
    return largestMs();
}

double DurationStats::largestMs() const { return toMs(largest_); }

std::string DurationStats::microsecondsText() const {
    return fmt::format("mean {:.0f} us, 99th percentile {:.0f} us, largest {:.0f} us", meanMs() * 1000,
                       percentileMs(0.99) * 1000, largestMs() * 1000);
}

void DurationStats::restart() {
    std::fill(bins_.begin(), bins_.end(), 0);
    count_ = 0;
    total_ = {};
    largest_ = {};
}

void LoopPeriodStats::tickStarted(Clock::time_point t) {
    if (lastTick_) add(t - *lastTick_);
    lastTick_ = t;
}

std::string LoopPeriodStats::summary() const {
    if (count() == 0) return "Control loop period: not measured (no tick followed the first)";
    return fmt::format("Control loop period: mean {:.2f} ms, 99th percentile {:.1f} ms, largest {:.1f} ms ({} ticks)",
                       meanMs(), percentileMs(0.99), largestMs(), count());
}

std::string loadLine(const LoopPeriodStats& period, const DurationStats& tickCpu, const std::string& more) {
    auto line = fmt::format(
        "Load: loop period mean {:.2f} ms, 99th percentile {:.1f} ms, largest {:.1f} ms ({} ticks); tick CPU {}",
        period.meanMs(), period.percentileMs(0.99), period.largestMs(), period.count(), tickCpu.microsecondsText());
    if (!more.empty()) line += "; " + more;
    return line;
}

std::string tickTimingText(const DurationStats& tickWall, const DurationStats& wokeLate) {
    return "tick wall " + tickWall.microsecondsText() + "; woke late " + wokeLate.microsecondsText();
}

}  // namespace vntx

#include "traffic/traffic_feed.h"

namespace vntx {

LiveTrafficFeed& liveTraffic() {
    static LiveTrafficFeed feed;
    return feed;
}

void setCycleRunning(bool running) {
    auto& f = liveTraffic();
    std::lock_guard guard(f.lock);
    f.cycleRunning = running;
}

bool cycleRunning() {
    auto& f = liveTraffic();
    std::lock_guard guard(f.lock);
    return f.cycleRunning;
}

bool enqueueIncoming(TrafficRecord&& record) {
    auto& f = liveTraffic();
    std::lock_guard guard(f.lock);
    if (!f.cycleRunning) return false;
    record.scheduledTick = f.tickCount.load(std::memory_order_relaxed) + kReportDelayTicks;
    f.incoming.push_back(std::move(record));
    return true;
}

std::size_t takeIncoming(std::deque<TrafficRecord>& out, std::size_t maxCount) {
    auto& f = liveTraffic();
    std::lock_guard guard(f.lock);
    std::size_t n = 0;
    while (n < maxCount && !f.incoming.empty()) {
        out.push_back(std::move(f.incoming.front()));
        f.incoming.pop_front();
        ++n;
    }
    return n;
}

void resetTrafficFeed() {
    auto& f = liveTraffic();
    std::lock_guard guard(f.lock);
    f.incoming.clear();
    f.tickCount = 0;
}

}  // namespace vntx

// The hand-over point between the traffic reader and the live-traffic tick:
// the incoming traffic queue and the cycle-running flag, both guarded by the
// live-traffic lock, and the tick counter of the control loop.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>

#include "traffic/traffic_record.h"

namespace vntx {

// Reports are due this many ticks (10 ms each) after they arrive.
inline constexpr std::int32_t kReportDelayTicks = 3000;

struct LiveTrafficFeed {
    std::mutex lock;                        // the live-traffic lock
    bool cycleRunning = false;              // under lock
    std::deque<TrafficRecord> incoming;     // under lock
    std::atomic<std::int32_t> tickCount{0}; // advanced by the control loop only
};

LiveTrafficFeed& liveTraffic();

// Under the live-traffic lock.
void setCycleRunning(bool running);
bool cycleRunning();

// Appends the record with its due tick when the control loop runs; false
// (and the record is dropped) otherwise. Takes the live-traffic lock.
bool enqueueIncoming(TrafficRecord&& record);

// Moves out at most maxCount records from the front of the queue.
std::size_t takeIncoming(std::deque<TrafficRecord>& out, std::size_t maxCount);

// Empties the queue and zeroes the tick counter (end of a cycle).
void resetTrafficFeed();

}  // namespace vntx

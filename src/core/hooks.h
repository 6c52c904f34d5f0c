// The places where the subsystems plug into the cycle. The cycle calls each
// hook that is set, in the order of its steps; an unset hook does nothing.
// The program's wiring (src/core/wiring.cpp) fills them at start-up.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace vntx {

struct CycleHooks {
    // --- preparation
    std::function<bool()> updateCheck;            // false: go straight to closing
    std::function<bool()> readDataFiles;          // once per process; false fails the cycle
    std::function<bool()> readAirports;           // false fails the cycle
    std::function<void()> checkStockAirports;
    std::function<void()> scanLiveries;           // only when SCAN_LIVERIES is set
    std::function<void()> processLiveries;        // always
    std::function<void()> scanAirports;           // only when SCAN_AIRPORTS is set
    std::function<void()> countParkFiles;
    std::function<void()> prepareFlightPlanFolder;
    std::function<void()> readParkAirports;
    std::function<void()> applyDestination;
    // A flight was loaded or a new file opened (simulator thread): the park
    // airport is chosen again.
    std::function<void()> reevaluateNearestAirport;

    // --- run
    std::function<void()> clearContainers;        // run step 1
    std::function<void()> startSimulator;         // run step 2: (re)start the "SimClient" thread
    std::function<bool()> simulationRunning;      // running flag set and request failure flag clear
    // run step 3 after the simulator runs: request the once-a-second report and
    // wait for the first user position; returns false when a stop came.
    std::function<bool()> waitForUserAircraft;
    std::function<void()> autoRange;              // run step 4 and every 30 reports
    std::function<bool()> realTrafficInstalled;   // preparation step 11 result
    std::function<void()> openRealTrafficServer;  // run step 5 (throws on failure)
    std::function<void()> realTrafficHandshake;   // run step 7
    std::function<void()> sendSimulatorTime;      // when time synchronisation is on
    std::function<bool()> timeSyncEnabled;
    std::function<void()> startWeatherReader;     // run step 10
    std::function<void()> startTrafficReader;     // run step 11
    std::function<void()> sendUserPosition;
    std::function<void()> copyRangePosition;      // user position -> traffic reader range
    std::function<bool()> trafficTimeArrived;
    std::function<void()> updateStaticParkingFirst;  // run step 12
    std::function<void()> fillCallsignList;

    // --- tick
    std::function<void()> trafficTick;            // the live-traffic tick
    std::function<void()> perReportDuties;        // coupling, flush static, call signs, collisions, block, static count
    std::function<void()> refreshCounts;          // active live and static counts for the window
    std::function<void()> staticRefresh;          // every 16 reports
    std::function<void()> removeDuplicateStatic;  // every 61 reports
    std::function<void()> staticDuties15;         // the static-parking duties every 15 reports
    std::function<void()> staticUpdatePrepare;    // 15-second duty 1, arming
    std::function<void()> staticUpdateFinish;     // 15-second duty 1, 15 reports later
    // 15-second duty 1: true empties seenCallsigns and sets collectCallsigns,
    // false clears it (the traffic reader's).
    std::function<void(bool)> collectCallsigns;
    std::function<void()> flightPlanCleanup30;    // every 30 reports when pending
    std::function<void()> noMatchReport;          // every 1200 reports
    std::function<void()> matchingSummary;        // at 86400 reports
    std::function<void()> cleanFlightPlanFolder;  // at 86400 reports
    std::function<void()> pauseEnter;             // first not-running tick: clear pending objects
    std::function<void()> pauseDuties;            // every not-running tick
    std::function<void()> pauseCountdownDone;     // once a second while not running, after a pending flush
    std::function<void()> flushStatic;            // a pending "Flush static": remove every static aircraft
    // The readers' liveness check: the datagram counter changed since the
    // previous check (the reader remembers the value it compared with).
    std::function<bool()> weatherCountChanged;
    std::function<bool()> trafficCountChanged;

    // --- closing
    std::function<void()> stopSimulator;          // closing step 4
    std::function<void()> stopReaders;            // closing step 5 (set both stop flags)
    std::function<void()> closeRealTraffic;       // closing step 6
    std::function<bool()> parkAirportSet;         // closing step 8
    std::function<void()> releaseGroundTraffic;   // closing step 8
    std::function<void()> removeFlightPlans;      // closing step 9
    std::function<void()> clearGhosts;            // closing step 11 (then summary + report)
    std::function<void()> resetCycleState;        // closing step 14 reset (QNH, stamps, lists, queues)
    std::function<void()> joinThreads;            // process end
    std::function<std::int64_t()> lastTrafficTime;  // last traffic time stamp (0: none yet)
    std::function<bool(const std::string&)> airportKnown;  // the destination box: code in the catalogue
    // The once-a-minute load line's figures: the simulator link's frame
    // flush and queues, the live traffic's aircraft and buffered reports.
    std::function<std::string()> simLinkLoad;
    std::function<std::string()> trafficLoad;
    // RealTraffic was lost: withdraw every live aircraft (live-traffic code).
    std::function<void()> withdrawLiveTraffic;
};

CycleHooks& hooks();

}  // namespace vntx

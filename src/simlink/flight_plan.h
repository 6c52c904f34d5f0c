// Flight plans for AI aircraft: the "{}.pln" files in the "orig_dest"
// folder and the call that hands one to the simulator. Also the report of
// liveries the simulator refused to create.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "refdata/dbase.h"

namespace vntx::simlink {

class SimLink;

// The eight lines of a flight plan (each ending with a line feed).
std::string flightPlanText(const std::string& origin, const std::string& destination, AircraftCategory category);

// The folder "orig_dest" in dataFolder; dataFolder and then the folder are
// created when missing. The result: whether the folder exists.
bool prepareFlightPlanFolder(const std::filesystem::path& dataFolder);
std::filesystem::path flightPlanFolder(const std::filesystem::path& dataFolder);
// Every file in the folder is removed.
void cleanFlightPlanFolder(const std::filesystem::path& dataFolder);
// The files and the folder itself (cycle closing).
void removeFlightPlanFolder(const std::filesystem::path& dataFolder);
std::filesystem::path flightPlanPath(const std::filesystem::path& dataFolder, std::uint32_t objectId);

// Writes the aircraft's flight plan and hands it to the simulator (request
// 110). The result is the aircraft's flight-plan-set flag; an aircraft
// without origin or destination gets no file, no call and false.
bool createFlightPlan(SimLink& link, const std::filesystem::path& dataFolder, std::uint32_t objectId,
                      const std::string& origin, const std::string& destination, AircraftCategory category,
                      const std::string& aircraftName);

// The liveries the simulator refused to create.
class RefusedLiveries {
public:
    static constexpr std::size_t kLimit = 20;
    // Reports one refusal (unless a stop was requested or the user closed);
    // throws the user error 81 when the list reaches kLimit titles.
    void report(const std::string& aircraftName, const std::string& title);
    std::vector<std::string> titles() const;
    std::set<std::string> names() const;  // each refused title once, for the summary
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<std::string> titles_;
    std::set<std::string> names_;
};

RefusedLiveries& refusedLiveries();

}  // namespace vntx::simlink

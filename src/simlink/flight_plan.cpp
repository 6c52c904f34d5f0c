#include "simlink/flight_plan.h"

#include <system_error>

#include "core/errors.h"
#include "core/files.h"
#include "core/log.h"
#include "core/state.h"
#include "core/status.h"
#include "platform/platform.h"
#include "simlink/sim_link.h"

namespace vntx::simlink {

namespace fs = std::filesystem;

std::string flightPlanText(const std::string& origin, const std::string& destination, AircraftCategory category) {
    bool ifr = category == AircraftCategory::Buzjets || category == AircraftCategory::Large ||
               category == AircraftCategory::Heavy;
    std::string t;
    t += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    t += "<SimBase.Document Type=\"AceXML\" version=\"4,3\">\"\n";
    t += "<FlightPlan.FlightPlan>\n";
    t += std::string("<FPType>") + (ifr ? "IFR" : "VFR") + "</FPType>\n";
    t += "<DepartureID>" + origin + "</DepartureID>\n";
    t += "<DestinationID>" + destination + "</DestinationID>\n";
    t += "</FlightPlan.FlightPlan>\n";
    t += "</SimBase.Document>\n";
    return t;
}

fs::path flightPlanFolder(const fs::path& dataFolder) { return dataFolder / "orig_dest"; }

fs::path flightPlanPath(const fs::path& dataFolder, std::uint32_t objectId) {
    return flightPlanFolder(dataFolder) / fmt::format("{}.pln", objectId);
}

bool prepareFlightPlanFolder(const fs::path& dataFolder) {
    std::error_code ec;
    if (!fs::exists(dataFolder, ec)) fs::create_directory(dataFolder, ec);
    fs::path folder = flightPlanFolder(dataFolder);
    if (!fs::exists(folder, ec)) fs::create_directory(folder, ec);
    return fs::is_directory(folder, ec);
}

void cleanFlightPlanFolder(const fs::path& dataFolder) {
    fs::path folder = flightPlanFolder(dataFolder);
    std::error_code ec;
    if (fs::is_directory(folder, ec)) gf_removeFilesFromDirectory(folder);
}

void removeFlightPlanFolder(const fs::path& dataFolder) {
    cleanFlightPlanFolder(dataFolder);
    std::error_code ec;
    fs::remove(flightPlanFolder(dataFolder), ec);
}

bool createFlightPlan(SimLink& link, const fs::path& dataFolder, std::uint32_t objectId, const std::string& origin,
                      const std::string& destination, AircraftCategory category, const std::string& aircraftName) {
    if (origin.empty() || destination.empty()) return false;
    fs::path path = flightPlanPath(dataFolder, objectId);
    bool ok = writeFileAtomically(path, flightPlanText(origin, destination, category));
    // The simulator reads the path in its own narrow code page, not as UTF-8.
    if (ok) {
        auto narrow = platform::pathToNarrowCodePage(path);
        ok = narrow && link.setFlightPlan(objectId, *narrow);
    }
    if (!ok) logErrorf("{} creating a flight plan failed", aircraftName);
    return ok;
}

void RefusedLiveries::report(const std::string& aircraftName, const std::string& title) {
    if (stopRequested() || userClosed()) return;
    showStatus(fmt::format("{} '{}' could not be created by your Sim!", aircraftName, title), true);
    std::size_t count;
    {
        std::lock_guard lock(mutex_);
        titles_.push_back(title);
        names_.insert(title);
        count = titles_.size();
    }
    if (count >= kLimit) {
        std::string text = fmt::format("There are too many liveries that could not be created by {}!", "P3D");
        logLine(fmt::format("\n{}Error 81, {}\n", "===> ", text));
        throw UserErrorException(81, fmt::format("{}, see Log.txt", text));
    }
}

std::vector<std::string> RefusedLiveries::titles() const {
    std::lock_guard lock(mutex_);
    return titles_;
}

std::set<std::string> RefusedLiveries::names() const {
    std::lock_guard lock(mutex_);
    return names_;
}

void RefusedLiveries::clear() {
    std::lock_guard lock(mutex_);
    titles_.clear();
    names_.clear();
}

RefusedLiveries& refusedLiveries() {
    static RefusedLiveries instance;
    return instance;
}

}  // namespace vntx::simlink

// The dispatch handler: every message the simulator sends us.
#include <algorithm>
#include <cctype>
#include <cmath>

#include "airports/catalogue.h"
#include "core/cycle.h"
#include "core/errors.h"
#include "core/log.h"
#include "core/state.h"
#include "core/status.h"
#include "simlink/sim_link.h"

namespace vntx::simlink {

using namespace simconnect;

namespace {
constexpr const char* kProgramName = "Ventrix_P3D";

void indented(std::string_view text) { logLine(fmt::format("   {}", text)); }

bool validUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        std::size_t n = c < 0x80 ? 0 : (c >> 5) == 0x6 ? 1 : (c >> 4) == 0xE ? 2 : (c >> 3) == 0x1E ? 3 : 9;
        if (n == 9 || i + n >= s.size()) return false;
        for (std::size_t k = 1; k <= n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n + 1;
    }
    return true;
}

// The simulator names itself in its own code page ("Prepar3D\xAE"); the log
// and the window want UTF-8.
std::string simulatorNameText(const std::string& name) {
    if (validUtf8(name)) return name;
    std::string out;
    for (unsigned char c : name) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}
}  // namespace

void SimLink::dispatchProc(SIMCONNECT_RECV* data, DWORD size, void* context) {
    auto* self = static_cast<SimLink*>(context);
    if (self->dispatchError_) return;  // the connection ends after this batch
    try {
        self->handleMessage(reinterpret_cast<const std::uint8_t*>(data), size);
    } catch (...) {
        // Carried out of the transport's call and rethrown by the thread.
        self->dispatchError_ = std::current_exception();
    }
}

void SimLink::handleMessage(const std::uint8_t* data, std::size_t size) {
    auto r = wire::decodeReceived(wire::ByteView(data, size));
    if (!r) {
        DWORD id = size >= 12 ? wire::readU32(data + 8) : 0;
        logf("! Short SimConnect message dwID {}", id);
        return;
    }
    switch (r->id) {
    case SIMCONNECT_RECV_ID_EXCEPTION: onException(r->exception, r->sendId, r->index); break;
    case SIMCONNECT_RECV_ID_OPEN: checkSimulator(r->applicationName, r->applicationVersion); break;
    case SIMCONNECT_RECV_ID_QUIT:
        running_ = false;
        quit_ = true;
        break;
    case SIMCONNECT_RECV_ID_EVENT: onEvent(r->eventId, r->data); break;
    case SIMCONNECT_RECV_ID_EVENT_OBJECT_ADDREMOVE:
        // Aircraft of every kind: the simulator announces a helicopter it
        // created for us with an object type of its own.
        if (r->objectType != SIMCONNECT_SIMOBJECT_TYPE_AIRCRAFT && r->objectType != SIMCONNECT_SIMOBJECT_TYPE_HELICOPTER)
            break;
        // The user object and lower ids are never ours.
        if (r->objectId <= userObjectId_) break;
        if (r->eventId == EVT_OBJECT_ADDED) {
            auto it = std::lower_bound(recentlyAdded_.begin(), recentlyAdded_.end(), r->objectId);
            if (it == recentlyAdded_.end() || *it != r->objectId) recentlyAdded_.insert(it, r->objectId);
        } else if (r->eventId == EVT_OBJECT_REMOVED) {
            postNotice({r->objectId, 0, 0, NoticeKind::Removed, 0, 0});
        }
        break;
    case SIMCONNECT_RECV_ID_EVENT_FILENAME:
        logError("SimConnect: New file event");
        if (services_.reevaluateNearestAirport) services_.reevaluateNearestAirport();
        newFlight();
        break;
    case SIMCONNECT_RECV_ID_EVENT_FRAME:
        flushFrame();
        if (++frameCount_ % 30 == 0) frameRate_ = r->frameRate;
        break;
    case SIMCONNECT_RECV_ID_SIMOBJECT_DATA:
        onObjectData(r->requestId, r->objectId, r->objectData.data(), r->objectData.size(), false);
        break;
    case SIMCONNECT_RECV_ID_SIMOBJECT_DATA_BYTYPE:
        onObjectData(r->requestId, r->objectId, r->objectData.data(), r->objectData.size(), true);
        break;
    case SIMCONNECT_RECV_ID_ASSIGNED_OBJECT_ID:
    case SIMCONNECT_RECV_ID_CLIENT_DATA: break;
    default: logf("! Unknown Dispatch dwID {}", r->id); break;
    }
}

void SimLink::newFlight() {
    if (!stopRequested()) requestStop(ExitReason::NewFlight, 30);
}

void SimLink::onEvent(DWORD eventId, DWORD data) {
    switch (eventId) {
    case EVT_SIM:
        running_ = data == 1;
        indicators().simRunning = data == 1;
        requestRepaint();
        break;
    case EVT_POSITION_CHANGED:
        logError("User ac position changed");
        newFlight();
        break;
    case EVT_FLIGHT_LOADED:
        logLine("SimConnect: flight loaded event");
        if (services_.reevaluateNearestAirport) services_.reevaluateNearestAirport();
        newFlight();
        break;
    default: break;
    }
}

void SimLink::checkSimulator(const std::string& reportedName, const DWORD version[4]) {
    const std::string applicationName = simulatorNameText(reportedName);
    if (applicationName.empty()) {
        logLine("! Simulator name empty?");
        return;
    }
    connected_ = true;
    requestRepaint();
    std::string filtered;
    for (unsigned char c : applicationName)
        if (std::isalnum(c) || std::isspace(c)) filtered += static_cast<char>(c);
    if (filtered == "KittyHawk" || filtered == "SunRise")
        throw UserErrorException(99, filtered + ", (MSFS) not being P3D connects ... ?");
    std::string text =
        fmt::format("{} ({}.{}.{}.{})", applicationName, version[0], version[1], version[2], version[3]);
    logf("{} connected", text);
    {
        std::lock_guard lock(textMutex_);
        simulatorText_ = text;
    }
    requestRepaint();
    std::string path = services_.simInstallPath ? services_.simInstallPath() : "";
    int configured = services_.configuredVersion ? services_.configuredVersion() : 5;
    auto has = [](const std::string& s, const char* what) { return s.find(what) != std::string::npos; };
    bool v5 = has(applicationName, "v5") && (has(path, "v5") || has(path, "V5") || configured == 5);
    bool v6 = has(applicationName, "v6") && (has(path, "v6") || has(path, "V6") || configured == 6);
    if (!v5 && !v6) {
        int control = services_.installPathControlId ? services_.installPathControlId() : 0;
        if (control != 0)
            if (auto* fe = frontEnd()) fe->enableControl(control, false);
        throw UserErrorException(99, fmt::format("wrong P3D version '{}' connects ... ?)", text));
    }
    clearStatus();
}

void SimLink::onException(DWORD exception, DWORD sendId, DWORD index) {
    switch (exception) {
    case SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID: {
        UserPosition u = userPosition();
        if (!isZeroPosition(u.latitude, u.longitude) && !stopRequested() && !userClosed())
            logError("SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID");
        break;
    }
    case SIMCONNECT_EXCEPTION_VERSION_MISMATCH:
        throw UserErrorException(99, fmt::format("SimConnect Version Mismatch, dwIndex: {}", index));
    case SIMCONNECT_EXCEPTION_TOO_MANY_OBJECTS: showStatus("SimConnect: too many objects (max 1000)", true); break;
    case SIMCONNECT_EXCEPTION_INVALID_DATA_SIZE: logLine("SIMCONNECT_EXCEPTION_INVALID_DATA_SIZE"); break;
    case SIMCONNECT_EXCEPTION_CREATE_OBJECT_FAILED: {
        std::uint32_t hexid = 0;
        bool found = false;
        {
            std::lock_guard lock(simMutex_);
            auto it = std::find_if(pending_.begin(), pending_.end(),
                                   [&](const PendingCreation& p) { return p.sendId == sendId; });
            if (it != pending_.end()) {
                hexid = it->hexid;
                found = true;
                pending_.erase(it);
            }
        }
        if (found && hexid != 0) postNotice({0, hexid, 0, NoticeKind::CreationRefused, 0, 0});
        break;
    }
    case SIMCONNECT_EXCEPTION_LOAD_FLIGHTPLAN_FAILED: logError("SimConnect exception: load flight plan failed"); break;
    case SIMCONNECT_EXCEPTION_OPERATION_INVALID_FOR_OBJECT_TYPE:
        logLine("SIMCONNECT_EXCEPTION_OPERATION_INVALID_FOR_OBJECT_TYPE");
        break;
    default: logf("SIMCONNECT_EXCEPTION #{}", exception); break;
    }
}

void SimLink::onObjectData(DWORD requestId, DWORD objectId, const std::uint8_t* data, std::size_t size, bool byType) {
    wire::DatumReader in(wire::ByteView(data, size));
    auto shortReply = [&] { logf("! Short SimConnect data reply, request {}", requestId); };
    if (byType) {
        if (requestId != REQ_AI_WITHIN_RANGE) return;
        double above = 0, ground = 0;
        std::int64_t onGround = 0;
        std::string atcId;
        if (!in.float64(above) || !in.float64(ground) || !in.int64(onGround) || !in.fixedString(32, atcId))
            return shortReply();
        identify(objectId, above, ground, onGround, atcId);
        return;
    }
    switch (requestId) {
    case REQ_STATIC_CG: {
        double cg = 0, pitch = 0;
        if (!in.float64(cg) || !in.float64(pitch)) return shortReply();
        postNotice({objectId, 0, 0, NoticeKind::StaticCg, cg, pitch});
        break;
    }
    case REQ_USER_TITLE: {
        std::string title;
        if (!in.stringV(title)) return shortReply();
        onUserTitle(title);
        break;
    }
    case REQ_USER_MODEL: {
        std::string model;
        if (!in.fixedString(32, model)) return shortReply();
        onUserModel(model);
        break;
    }
    case REQ_USER_ON_GROUND: {
        std::int64_t onGround = 0;
        if (!in.int64(onGround)) return shortReply();
        UserPosition u = userPosition();
        if (!isZeroPosition(u.latitude, u.longitude)) {
            onGround_ = onGround != 0;
            onGroundKnown_ = true;
            if (services_.publishUser) services_.publishUser(u, onGround != 0);
        }
        cycleState().reportPending = true;
        break;
    }
    case REQ_USER_POSITION: {
        UserPosition u;
        double* f[] = {&u.latitude, &u.longitude, &u.pitch, &u.bank, &u.heading, &u.altitude, &u.altAboveGround,
                       &u.groundVelocity};
        std::int64_t* n[] = {&u.zuluTime, &u.zuluDayOfYear, &u.zuluYear, &u.lightStates};
        for (double* v : f)
            if (!in.float64(*v)) return shortReply();
        for (std::int64_t* v : n)
            if (!in.int64(*v)) return shortReply();
        onUserPosition(objectId, u);
        break;
    }
    default: break;
    }
}

void SimLink::onUserPosition(std::uint32_t objectId, const UserPosition& reported) {
    UserPosition u = reported;
    if (u.altitude < 0) u.altitude = 0;
    {
        std::lock_guard lock(simMutex_);
        user_ = u;
    }
    bool previousSet = !isZeroPosition(previousLat_, previousLon_);
    bool nowSet = !isZeroPosition(u.latitude, u.longitude);
    if (previousSet && nowSet && distanceNm(previousLat_, previousLon_, u.latitude, u.longitude) > 10.0) {
        logLine("Teleport");
        newFlight();
    }
    previousLat_ = u.latitude;
    previousLon_ = u.longitude;
    updateNearestAirport(u.latitude, u.longitude);
    if (services_.timeSyncEnabled && services_.timeSyncEnabled()) {
        std::int64_t t = simulatorUtcSeconds(u.zuluYear, u.zuluDayOfYear, u.zuluTime);
        simulatorTime_ = t;
        if (services_.publishSimulatorTime) services_.publishSimulatorTime(t);
    }
    userObjectId_ = objectId;
    if (services_.publishUser) services_.publishUser(u, onGround_.load());
}

void SimLink::updateNearestAirport(double latitude, double longitude) {
    if (!services_.nearestAirport) return;
    std::string text = services_.nearestAirport(latitude, longitude);
    bool changed = false;
    {
        std::lock_guard lock(textMutex_);
        if (text != nearestAirport_) {
            nearestAirport_ = text;
            changed = true;
        }
    }
    if (changed) requestRepaint();
}

void SimLink::onUserTitle(const std::string& reported) {
    if (reported.empty()) {
        logLine("! Title of your aircraft is empty?");
        return;
    }
    std::string title = reported.substr(0, 48);
    {
        std::lock_guard lock(textMutex_);
        if (title == title_) return;
        title_ = title;
    }
    requestRepaint();
    logLine("SimConnect: User aircraft title: " + title);
}

void SimLink::onUserModel(std::string model) {
    if (model.empty())
        throw UserErrorException(99, "atc_model= in [General] section of your aircraft.cfg is empty or missing");
    try {
        indented(fmt::format("model raw: {}", model));
        auto lookup = [&](const std::string& m) -> double {
            if (!services_.hasWingspan || !services_.halfWingspan) return 0;
            return services_.hasWingspan(m) ? services_.halfWingspan(m) : 0;
        };
        double largest = services_.largestHalfWingspan ? services_.largestHalfWingspan() : 0;
        double span = 0;
        bool known = false;
        AircraftCategory category = AircraftCategory::Light;
        if (model.find("camerapod") != std::string::npos || model.find("Crew Vessel") != std::string::npos) {
            model = "E190";
            span = services_.halfWingspan ? services_.halfWingspan(model) : 0;
            known = true;
        } else {
            if (model.size() < 5) span = lookup(model);
            known = span > 0;
            if (!known) {
                span = largest;
                std::string title = userTitle();
                static const std::pair<const char*, const char*> kFromTitle[] = {
                    {"Aerosoft A319", "A319"}, {"Aerosoft A320", "A320"}, {"Aerosoft A321", "A321"}};
                if (title.size() >= 13) {
                    for (auto& [prefix, deduced] : kFromTitle) {
                        if (title.compare(0, 13, prefix) != 0) continue;
                        model = deduced;
                        logLine(std::string("SimConnect: User aircraft model deduced from title: ") + model);
                        span = lookup(model);
                        known = span > 0;
                        if (!known) span = largest;
                        break;
                    }
                }
            }
            category = services_.categoryOf ? services_.categoryOf(model) : AircraftCategory::Light;
        }
        std::string line = "SimConnect: User aircraft model: " + model;
        wingspanKnown_ = known;
        if (known)
            line += fmt::format(", half wing span: {:.1F} meter", span * 1852.0);
        else
            showStatus("User aircraft wing span unknown, max is taken instead, please report in my Forum!", true);
        line += fmt::format(", category: {}", categoryName(category));
        {
            std::lock_guard lock(textMutex_);
            model_ = model;
            halfWingspan_ = span;
            category_ = category;
        }
        requestRepaint();
        indented(line);
    } catch (const UserErrorException&) {
        throw;
    } catch (const std::exception&) {
        throw UserErrorException(99, "It looks like you have not selected an aircraft as user vehicle");
    }
}

void SimLink::identify(std::uint32_t objectId, double altAboveGround, double groundAltitude, std::int64_t onGround,
                       const std::string& atcId) {
    if (objectId <= userObjectId_) return;
    auto it = std::lower_bound(recentlyAdded_.begin(), recentlyAdded_.end(), objectId);
    if (it != recentlyAdded_.end() && *it == objectId) {
        recentlyAdded_.erase(it);
        if (atcId.empty()) return;
        std::optional<std::uint32_t> hexid;
        {
            std::lock_guard lock(simMutex_);
            auto p = std::find_if(pending_.begin(), pending_.end(),
                                  [&](const PendingCreation& c) { return c.callsign == atcId; });
            if (p != pending_.end()) {
                hexid = p->hexid;
                pending_.erase(p);
                if (handle_) client_.SimConnect_AIReleaseControl(handle_, objectId, REQ_AI_RELEASE_CONTROL);
                for (DWORD e : {EVT_FREEZE_LATITUDE_LONGITUDE_SET, EVT_FREEZE_ALTITUDE_SET, EVT_FREEZE_ATTITUDE_SET})
                    events_.push_back({objectId, e, 1});
            }
        }
        if (!hexid) {
            logf("just spawned, but not by {}, oid: {}, callsign '{}', altaboveGnd:{:.0f} ft, onground:{}, "
                 "gnd_alt:{:.0f} ft",
                 kProgramName, objectId, atcId, altAboveGround, onGround, groundAltitude);
            return;
        }
        if (*hexid > 10000)
            postNotice({objectId, *hexid, 0, NoticeKind::CreatedLive, altAboveGround, 0});
        else
            postNotice({objectId, *hexid, 0, NoticeKind::CreatedStatic, 0, 0});
        return;
    }
    if (altAboveGround <= 2500 && !atcId.empty() && atcId.back() != '*')
        postNotice({objectId, static_cast<std::uint32_t>(onGround != 0), 0, NoticeKind::GroundReport, groundAltitude,
                    altAboveGround});
}

}  // namespace vntx::simlink

#include "server.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <nlohmann/json.hpp>

#include "core/files.h"
#include "platform/platform.h"
#include "platform/socket.h"
#include "variables.h"

namespace vntx::simhost {

using namespace vntx::simconnect;
namespace net = platform::net;
using json = nlohmann::json;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRadToDeg = 180.0 / kPi;

struct DataRequest {
    DWORD requestId = 0, defineId = 0, objectId = 0, period = 0, flags = 0, origin = 0, interval = 0, limit = 0;
    DWORD periodsSeen = 0, sent = 0;
    double nextSecond = 0;
};

std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// How the simulator announces an object.
SIMCONNECT_SIMOBJECT_TYPE objectType(const SimObject& o) {
    return o.helicopter ? SIMCONNECT_SIMOBJECT_TYPE_HELICOPTER : SIMCONNECT_SIMOBJECT_TYPE_AIRCRAFT;
}

class PipeLink final : public ByteStream {
public:
    explicit PipeLink(std::unique_ptr<platform::pipe::Pipe> p) : p_(std::move(p)) {}
    long read(void* data, std::size_t size, int& error) override { return p_->read(data, size, error); }
    bool write(const void* data, std::size_t size, int& error) override { return p_->write(data, size, error); }
    void cancel() override { p_->cancel(); }

private:
    std::unique_ptr<platform::pipe::Pipe> p_;
};

}  // namespace

// One operation's trace line, only built while a trace is written.
struct TraceRecord {
    json j;
    bool on;
    template <typename T>
    void set(const char* key, T&& value) {
        if (on) j[key] = std::forward<T>(value);
    }
};

struct Server::Session {
    std::uint64_t id = 0;
    std::unique_ptr<ByteStream> stream;
    std::thread reader;
    bool opened = false;
    bool finished = false;
    DWORD version = 35;
    std::map<DWORD, std::string> subscriptions;   // event id -> lower-case system event name
    std::map<DWORD, std::string> clientEvents;    // event id -> upper-case simulator event name
    std::map<DWORD, Definition> definitions;
    std::map<DWORD, DataRequest> requests;
    wire::Bytes pending;                          // guarded by the server's mutex
    std::mutex writeMutex;                        // keeps flushed output in order

    bool subscribed(const char* name, DWORD& eventId) const {
        for (const auto& [id, n] : subscriptions)
            if (n == name) {
                eventId = id;
                return true;
            }
        return false;
    }
};

Server::Server(Options options) : options_(std::move(options)) {}

Server::~Server() { stop(); }

std::string Server::pipePath() const {
    return options_.pipeName.empty() ? std::string() : "\\\\.\\pipe\\" + options_.pipeName;
}

bool Server::start(std::string& error) {
    start_ = std::chrono::steady_clock::now();
    if (options_.p3dVersion != 5 && options_.p3dVersion != 6) {
        error = "the P3D version must be 5 or 6";
        return false;
    }
    auto script = UserScript::parse(options_.userScript, error);
    if (!script) return false;
    world_.setUserScript(*script);
    for (const auto& g : options_.ground) world_.addGroundArea(g);
    world_.setMaxObjects(options_.maxObjects);
    if (!options_.titles.empty()) {
        if (!std::filesystem::exists(options_.titles)) {
            error = "titles not found: " + options_.titles;
            return false;
        }
        world_.setTitles(readTitles(options_.titles));
    }
    world_.advance(0);
    if (!options_.tracePath.empty()) {
        trace_.open(options_.tracePath, std::ios::binary | std::ios::trunc);
        if (!trace_) {
            error = "cannot write the trace " + options_.tracePath;
            return false;
        }
    }
    net::startup();
    auto listenOn = [&](const char* host, int port, net::Family family, std::intptr_t& handle, int& bound) {
        net::Address a;
        if (net::resolve(host, std::to_string(port), family, net::Kind::Stream, true, a) != 0) return false;
        handle = net::open(a, net::Kind::Stream);
        if (handle == net::kInvalidSocket) return false;
        net::setReuseAddress(handle, true);
        if (!net::bind(handle, a) || !net::listen(handle)) {
            net::close(handle);
            handle = -1;
            return false;
        }
        bound = net::localPort(handle);
        return true;
    };
    if (options_.port >= 0 && !listenOn("127.0.0.1", options_.port, net::Family::IPv4, listen4_, port_)) {
        error = "cannot listen on 127.0.0.1 port " + std::to_string(options_.port) + ": " +
                socketErrorText(net::lastError());
        return false;
    }
    if (options_.port6 >= 0 && !listenOn("::1", options_.port6, net::Family::IPv6, listen6_, port6_)) {
        error = "cannot listen on ::1 port " + std::to_string(options_.port6);
        stop();
        return false;
    }
    if (!options_.pipeName.empty()) {
        int e = 0;
        pipe_ = platform::pipe::listen(pipePath(), e);
        if (!pipe_) {
            error = "cannot open the pipe " + pipePath() + " (error " + std::to_string(e) + ")";
            stop();
            return false;
        }
    }
    if (options_.writeRegistry) {
        using platform::RegistryHive;
        if (listen4_ >= 0)
            platform::registryWriteString(RegistryHive::CurrentUser, kRegistryKey, kRegistryPortIPv4,
                                          std::to_string(port_));
        if (listen6_ >= 0)
            platform::registryWriteString(RegistryHive::CurrentUser, kRegistryKey, kRegistryPortIPv6,
                                          std::to_string(port6_));
    }
    if (listen4_ >= 0) threads_.emplace_back([this, h = listen4_] { acceptTcp(h); });
    if (listen6_ >= 0) threads_.emplace_back([this, h = listen6_] { acceptTcp(h); });
    if (pipe_) threads_.emplace_back([this] { acceptPipe(); });
    threads_.emplace_back([this] { frameLoop(); });
    // "wall": the system clock at "t", so that a trace can be laid beside other records.
    trace(json{{"t", now()}, {"event", "start"}, {"port", port_}, {"port6", port6_}, {"pipe", pipePath()},
               {"p3d", options_.p3dVersion},
               {"wall", std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count()}}
              .dump());
    return true;
}

void Server::stop() {
    if (stopping_.exchange(true)) return;
    for (auto* h : {&listen4_, &listen6_}) {
        if (*h >= 0) {
            net::shutdownBoth(*h);
            net::close(*h);
        }
    }
    if (pipe_) pipe_->close();
    for (auto& t : threads_)
        if (t.joinable()) t.join();
    threads_.clear();
    std::vector<std::shared_ptr<Session>> sessions;
    {
        std::lock_guard lock(mutex_);
        sessions = sessions_;
    }
    for (auto& s : sessions) s->stream->cancel();
    for (auto& s : sessions)
        if (s->reader.joinable()) s->reader.join();
    {
        std::lock_guard lock(mutex_);
        sessions_.clear();
    }
    listen4_ = listen6_ = -1;
    pipe_.reset();
    std::lock_guard lock(traceMutex_);
    if (trace_.is_open()) trace_.close();
}

void Server::waitWhileStalled() {
    while (!stopping_ && stalled()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

double Server::now() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void Server::trace(const std::string& line) {
    std::lock_guard lock(traceMutex_);
    if (!trace_.is_open()) return;
    trace_ << line << '\n';
    trace_.flush();
}

void Server::tracePosition(const SimObject& o, bool force) {
    if (!trace_.is_open()) return;
    double t = now();
    auto& last = lastTraced_[o.id];
    if (!force && options_.traceInterval > 0 && last > 0 && t - last < options_.traceInterval) return;
    last = t;
    json j{{"t", t},
           {"pos", o.id},
           {"tail", o.atcId},
           {"lat", o.lat},
           {"lon", o.lon},
           {"alt", o.alt},
           {"hdg", o.heading * kRadToDeg},
           {"pitch", o.pitch * kRadToDeg},
           {"bank", o.bank * kRadToDeg},
           {"on_ground", o.onGround},
           {"lights", o.lights}};
    // The configuration the client last set: enough to follow a whole
    // arrival or departure from the trace.
    for (const auto& [event, key] : {std::pair{"GEAR_SET", "gear"}, std::pair{"THROTTLE_SET", "throttle"},
                                     std::pair{"FLAPS_SET", "flaps"}, std::pair{"SPOILERS_SET", "spoilers"}})
        if (auto e = o.lastEvents.find(event); e != o.lastEvents.end()) j[key] = e->second;
    if (o.spoilers != 0 || o.throttle1 != 0 || o.throttle2 != 0)
        j["control"] = json{{"spoilers", o.spoilers}, {"throttle1", o.throttle1}, {"throttle2", o.throttle2}};
    trace(j.dump());
}

void Server::acceptTcp(std::intptr_t listener) {
    while (!stopping_) {
        net::Handle c = net::accept(listener);
        if (c == net::kInvalidSocket) {
            if (stopping_) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        net::setNoDelay(c, true);
        startSession(tcpByteStream(c));
    }
}

void Server::acceptPipe() {
    while (!stopping_) {
        auto p = pipe_->accept();
        if (!p) {
            if (stopping_) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        startSession(std::make_unique<PipeLink>(std::move(p)));
    }
}

void Server::startSession(std::unique_ptr<ByteStream> stream) {
    auto s = std::make_shared<Session>();
    s->stream = std::move(stream);
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    s->id = nextSessionId_++;
    sessions_.push_back(s);
    trace(json{{"t", now()}, {"conn", s->id}, {"event", "connected"}}.dump());
    s->reader = std::thread([this, s] { readSession(s); });
}

void Server::readSession(const std::shared_ptr<Session>& s) {
    wire::Framer framer(wire::kHeaderSize, 1u << 24);
    std::vector<std::uint8_t> chunk(64 * 1024);
    for (;;) {
        int error = 0;
        long n = s->stream->read(chunk.data(), chunk.size(), error);
        if (n <= 0) break;
        waitWhileStalled();
        framer.append(chunk.data(), static_cast<std::size_t>(n));
        {
            std::lock_guard lock(mutex_);
            wire::ByteView m;
            while (framer.next(m)) {
                handle(*s, m);
                handled_.fetch_add(1, std::memory_order_relaxed);
            }
        }
        flushAll();
        if (framer.corrupt()) break;
    }
    {
        std::lock_guard lock(mutex_);
        endSession(*s);
    }
    flushAll();
    s->stream->cancel();
}

void Server::endSession(Session& s) {
    if (s.finished) return;
    s.finished = true;
    trace(json{{"t", now()}, {"conn", s.id}, {"event", "disconnected"}}.dump());
    // AI objects go with the client that made them.
    std::vector<std::pair<std::uint32_t, SIMCONNECT_SIMOBJECT_TYPE>> owned;
    for (auto& [id, o] : world_.objects())
        if (id != World::kUserId && o.owner == s.id) owned.emplace_back(id, objectType(o));
    for (auto [id, type] : owned) {
        world_.remove(id);
        trace(json{{"t", now()}, {"removed", id}}.dump());
        for (auto& other : sessions_) {
            DWORD ev;
            if (!other->finished && other->subscribed("objectremoved", ev))
                wire::appendObjectAddRemove(other->pending, other->version, ev, id, type);
        }
    }
}

void Server::flush(Session& s) {
    std::lock_guard w(s.writeMutex);
    wire::Bytes out;
    {
        std::lock_guard lock(mutex_);
        out.swap(s.pending);
    }
    if (out.empty()) return;
    int error = 0;
    if (!s.stream->write(out.data(), out.size(), error)) s.stream->cancel();
}

void Server::flushAll() {
    std::vector<std::shared_ptr<Session>> sessions;
    {
        std::lock_guard lock(mutex_);
        sessions = sessions_;
    }
    for (auto& s : sessions) flush(*s);
}

void Server::frameLoop() {
    using clock = std::chrono::steady_clock;
    auto period = std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(1.0 / options_.frameRate));
    auto next = clock::now();
    std::vector<std::shared_ptr<Session>> done;
    while (!stopping_) {
        next += period;
        platform::sleepUntil(next);
        if (clock::now() - next > period * 5) next = clock::now();  // do not race to catch up after a stall
        if (stalled()) continue;
        {
            std::lock_guard lock(mutex_);
            double t = now();
            world_.advance(t);
            auto& user = world_.user();
            for (auto& s : sessions_) {
                if (s->finished) continue;
                if (!s->opened) continue;
                DWORD ev;
                if (options_.simRunning && s->subscribed("frame", ev))
                    wire::appendFrameEvent(s->pending, s->version, ev, static_cast<float>(options_.frameRate), 1.0f);
                for (auto it = s->requests.begin(); it != s->requests.end();) {
                    auto& r = it->second;
                    SimObject* o = world_.find(r.objectId);
                    auto def = s->definitions.find(r.defineId);
                    if (!o || def == s->definitions.end()) {
                        it = s->requests.erase(it);
                        continue;
                    }
                    bool due = false;
                    if (r.period == SIMCONNECT_PERIOD_ONCE) {
                        due = true;
                    } else if (r.period == SIMCONNECT_PERIOD_SECOND) {
                        if (t >= r.nextSecond) {
                            r.nextSecond += 1.0;
                            if (r.nextSecond < t) r.nextSecond = t + 1.0;
                            due = true;
                        }
                    } else {
                        due = true;
                    }
                    if (due) {
                        ++r.periodsSeen;
                        due = r.periodsSeen > r.origin && (r.periodsSeen - r.origin - 1) % (r.interval + 1) == 0;
                    }
                    if (due) {
                        wire::Bytes data;
                        pack(def->second, *o, world_.groundElevation(o->lat, o->lon), data);
                        wire::appendObjectData(s->pending, s->version, SIMCONNECT_RECV_ID_SIMOBJECT_DATA, r.requestId,
                                               o->id, r.defineId, r.flags, 1, 1,
                                               static_cast<DWORD>(def->second.datums.size()), data);
                        ++r.sent;
                    }
                    if (r.period == SIMCONNECT_PERIOD_ONCE || (r.limit > 0 && r.sent >= r.limit))
                        it = s->requests.erase(it);
                    else
                        ++it;
                }
            }
            (void)user;
            // Reap sessions whose reader has ended.
            for (auto it = sessions_.begin(); it != sessions_.end();) {
                if ((*it)->finished) {
                    done.push_back(*it);
                    it = sessions_.erase(it);
                } else {
                    ++it;
                }
            }
        }
        for (auto& s : done)
            if (s->reader.joinable()) s->reader.join();
        done.clear();
        flushAll();
    }
}

void Server::handle(Session& s, wire::ByteView message) {
    wire::Request r;
    auto status = wire::decodeRequest(message, r);
    const DWORD version = s.version;
    auto& out = s.pending;
    TraceRecord rec{json::object(), trace_.is_open()};
    if (rec.on) rec.j = json{{"t", now()}, {"conn", s.id}, {"size", message.size()}};
    auto raise = [&](DWORD exception, DWORD index) {
        wire::appendException(out, version, exception, r.packetId, index);
        rec.set("exception", exception);
    };
    auto finish = [&] {
        if (!rec.on) return;
        if (!options_.quietOps.empty() && !rec.j.contains("exception") && !rec.j.contains("refused") &&
            options_.quietOps.count(rec.j.value("op", std::string())))
            return;
        trace(rec.j.dump());
    };
    if (status != wire::RequestStatus::Ok) {
        r.packetId = message.size() >= 16 ? wire::readU32(message.data() + 12) : 0;
        DWORD id = message.size() >= 12 ? wire::readU32(message.data() + 8) : 0;
        rec.set("op", "?");
        rec.set("id", id);
        rec.set("packet", r.packetId);
        raise(status == wire::RequestStatus::UnknownOperation ? SIMCONNECT_EXCEPTION_ERROR
                                                              : SIMCONNECT_EXCEPTION_SIZE_MISMATCH,
              SIMCONNECT_RECV_UNKNOWN_INDEX);
        return finish();
    }
    rec.set("op", wire::operationName(r.op));
    rec.set("packet", r.packetId);
    if (r.op == wire::OP_OPEN) {
        char tag[4] = {r.clientVersion.tag[3], r.clientVersion.tag[2], r.clientVersion.tag[1], 0};
        rec.set("name", r.name);
        rec.set("version", r.version);
        rec.set("tag", std::string(tag));
        rec.set("client_version", std::to_string(r.clientVersion.major) + "." + std::to_string(r.clientVersion.minor) +
                                "." + std::to_string(r.clientVersion.buildMajor) + "." +
                                std::to_string(r.clientVersion.buildMinor));
        s.version = r.version;
        if (r.version != options_.protocolVersion) {
            raise(SIMCONNECT_EXCEPTION_VERSION_MISMATCH, 1);
            return finish();
        }
        s.opened = true;
        const bool v6 = options_.p3dVersion == 6;
        std::string name = std::string("Lockheed Martin\xAE Prepar3D\xAE v") + (v6 ? "6" : "5");
        const DWORD appVersion[4] = {v6 ? 6u : 5u, v6 ? 0u : 4u, v6 ? 34u : 9u, v6 ? 31011u : 28482u};
        wire::appendOpenReply(out, s.version, name, appVersion, appVersion);
        return finish();
    }
    if (!s.opened) {
        raise(SIMCONNECT_EXCEPTION_UNOPENED, SIMCONNECT_RECV_UNKNOWN_INDEX);
        return finish();
    }
    switch (r.op) {
    case wire::OP_MAP_CLIENT_EVENT_TO_SIM_EVENT: {
        rec.set("event_id", r.eventId);
        rec.set("event", r.name);
        std::string name = toUpper(trim(r.name));
        if (s.clientEvents.count(r.eventId)) raise(SIMCONNECT_EXCEPTION_EVENT_ID_DUPLICATE, 1);
        else if (!knownClientEvent(name)) raise(SIMCONNECT_EXCEPTION_NAME_UNRECOGNIZED, 2);
        else s.clientEvents[r.eventId] = name;
        break;
    }
    case wire::OP_TRANSMIT_CLIENT_EVENT: {
        rec.set("object", r.objectId);
        rec.set("event_id", r.eventId);
        rec.set("data", r.data);
        rec.set("group", r.groupId);
        rec.set("flags", r.flags);
        auto ev = s.clientEvents.find(r.eventId);
        SimObject* o = world_.find(r.objectId == SIMCONNECT_OBJECT_ID_USER ? World::kUserId : r.objectId);
        if (ev == s.clientEvents.end()) raise(SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, 2);
        else if (!o) raise(SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, 1);
        else {
            rec.set("event", ev->second);
            o->lastEvents[ev->second] = r.data;
            if (ev->second.rfind("FREEZE_", 0) == 0) {
                o->frozen = false;
                for (const char* freeze : {"FREEZE_LATITUDE_LONGITUDE_SET", "FREEZE_ALTITUDE_SET", "FREEZE_ATTITUDE_SET"})
                    if (auto f = o->lastEvents.find(freeze); f != o->lastEvents.end() && f->second != 0) o->frozen = true;
            }
        }
        break;
    }
    case wire::OP_ADD_CLIENT_EVENT_TO_NOTIFICATION_GROUP:
        rec.set("group", r.groupId);
        rec.set("event_id", r.eventId);
        rec.set("maskable", r.maskable);
        break;
    case wire::OP_SET_NOTIFICATION_GROUP_PRIORITY:
        rec.set("group", r.groupId);
        rec.set("priority", r.priority);
        break;
    case wire::OP_ADD_TO_DATA_DEFINITION: {
        rec.set("define", r.defineId);
        rec.set("datum", r.name);
        rec.set("units", r.units);
        rec.set("type", r.datumType);
        rec.set("epsilon", r.epsilon);
        rec.set("datum_id", r.datumId);
        Datum d = parseDatumName(r.name, r.units, r.datumType);
        if (!knownVariable(d)) raise(SIMCONNECT_EXCEPTION_NAME_UNRECOGNIZED, 2);
        else if (!supportedType(r.datumType)) raise(SIMCONNECT_EXCEPTION_INVALID_DATA_TYPE, 4);
        else s.definitions[r.defineId].datums.push_back(d);
        break;
    }
    case wire::OP_REQUEST_DATA_ON_SIM_OBJECT: {
        rec.set("request", r.requestId);
        rec.set("define", r.defineId);
        rec.set("object", r.objectId);
        rec.set("period", r.period);
        rec.set("flags", r.flags);
        rec.set("origin", r.origin);
        rec.set("interval", r.interval);
        rec.set("limit", r.limit);
        DWORD objectId = r.objectId == SIMCONNECT_OBJECT_ID_USER ? World::kUserId : r.objectId;
        if (!s.definitions.count(r.defineId)) raise(SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, 2);
        else if (!world_.find(objectId)) raise(SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, 3);
        else if (r.period > SIMCONNECT_PERIOD_SECOND) raise(SIMCONNECT_EXCEPTION_INVALID_ENUM, 4);
        else if (r.period == SIMCONNECT_PERIOD_NEVER) s.requests.erase(r.requestId);
        else {
            DataRequest q{r.requestId, r.defineId, objectId, r.period, r.flags, r.origin, r.interval, r.limit};
            q.nextSecond = now();  // SECOND: the first reply at the next frame
            s.requests[r.requestId] = q;
        }
        break;
    }
    case wire::OP_REQUEST_DATA_ON_SIM_OBJECT_TYPE: {
        rec.set("request", r.requestId);
        rec.set("define", r.defineId);
        rec.set("radius", r.radius);
        rec.set("type", r.objectType);
        auto def = s.definitions.find(r.defineId);
        if (def == s.definitions.end()) {
            raise(SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, 2);
            break;
        }
        if (r.radius > SIMCONNECT_MAX_RADIUS_METERS) {
            raise(SIMCONNECT_EXCEPTION_OUT_OF_BOUNDS, 3);
            break;
        }
        auto& user = world_.user();
        std::vector<SimObject*> found;
        for (auto& [id, o] : world_.objects()) {
            // Aircraft are all aircraft, helicopters included.
            bool typeMatches = r.objectType == SIMCONNECT_SIMOBJECT_TYPE_ALL ||
                               r.objectType == SIMCONNECT_SIMOBJECT_TYPE_AIRCRAFT ||
                               (r.objectType == SIMCONNECT_SIMOBJECT_TYPE_HELICOPTER && o.helicopter) ||
                               (r.objectType == SIMCONNECT_SIMOBJECT_TYPE_USER && id == World::kUserId);
            if (!typeMatches) continue;
            if (id != World::kUserId &&
                (r.radius == 0 || distanceMetres(user.lat, user.lon, o.lat, o.lon) > r.radius))
                continue;
            found.push_back(&o);
        }
        rec.set("entries", found.size());
        DWORD entry = 0;
        for (auto* o : found) {
            wire::Bytes data;
            pack(def->second, *o, world_.groundElevation(o->lat, o->lon), data);
            wire::appendObjectData(out, version, SIMCONNECT_RECV_ID_SIMOBJECT_DATA_BYTYPE, r.requestId, o->id,
                                   r.defineId, 0, ++entry, static_cast<DWORD>(found.size()),
                                   static_cast<DWORD>(def->second.datums.size()), data);
        }
        break;
    }
    case wire::OP_SET_DATA_ON_SIM_OBJECT: {
        rec.set("define", r.defineId);
        rec.set("object", r.objectId);
        rec.set("flags", r.flags);
        rec.set("count", r.arrayCount);
        rec.set("unit_size", r.unitSize);
        auto def = s.definitions.find(r.defineId);
        SimObject* o = world_.find(r.objectId == SIMCONNECT_OBJECT_ID_USER ? World::kUserId : r.objectId);
        if (def == s.definitions.end()) raise(SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, 1);
        else if (!o) raise(SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, 2);
        else if (def->second.size() == 0 || r.unitSize != def->second.size())
            raise(SIMCONNECT_EXCEPTION_INVALID_DATA_SIZE, 5);
        else if (o->id != World::kUserId && !o->released && !o->frozen && setsPosition(def->second))
            // Its own AI flies it: the position is overwritten at once, as if never sent.
            rec.set("refused", "position of an object never released or frozen");
        else {
            std::vector<double> values;
            apply(def->second, *o, r.payload.first(r.unitSize), rec.on ? &values : nullptr);
            if (o->id != World::kUserId) world_.settle(*o);
            if (rec.on) {
                rec.set("values", values);
                tracePosition(*o, false);
            }
        }
        break;
    }
    case wire::OP_SUBSCRIBE_TO_SYSTEM_EVENT: {
        rec.set("event_id", r.eventId);
        rec.set("event", r.name);
        std::string name = toLower(trim(r.name));
        if (!knownSystemEvent(name)) {
            raise(SIMCONNECT_EXCEPTION_NAME_UNRECOGNIZED, 2);
            break;
        }
        s.subscriptions[r.eventId] = name;
        if (name == "sim") wire::appendEvent(out, version, SIMCONNECT_RECV_UNKNOWN_GROUP, r.eventId,
                                             options_.simRunning ? 1 : 0);
        break;
    }
    case wire::OP_AI_CREATE_NON_ATC_AIRCRAFT: {
        const auto& p = r.position;
        rec.set("title", r.name);
        rec.set("tail", r.units);
        rec.set("lat", p.Latitude);
        rec.set("lon", p.Longitude);
        rec.set("alt", p.Altitude);
        rec.set("pitch", p.Pitch);
        rec.set("bank", p.Bank);
        rec.set("heading", p.Heading);
        rec.set("on_ground", p.OnGround);
        rec.set("airspeed", p.Airspeed);
        rec.set("request", r.requestId);
        if (!world_.knowsTitle(r.name)) {
            raise(SIMCONNECT_EXCEPTION_CREATE_OBJECT_FAILED, 1);
            break;
        }
        if (world_.full()) {
            raise(SIMCONNECT_EXCEPTION_TOO_MANY_OBJECTS, SIMCONNECT_RECV_UNKNOWN_INDEX);
            break;
        }
        SimObject& o = world_.create();
        o.title = r.name;
        o.atcId = r.units;
        o.owner = s.id;
        o.helicopter = world_.helicopterTitle(r.name);
        o.lat = p.Latitude;
        o.lon = p.Longitude;
        o.pitch = p.Pitch / kRadToDeg;
        o.bank = p.Bank / kRadToDeg;
        o.heading = p.Heading / kRadToDeg;
        o.alt = p.OnGround != 0 ? world_.groundElevation(o.lat, o.lon) + o.staticCgToGround : p.Altitude;
        world_.settle(o);
        o.airspeed = p.Airspeed >= 0xFFFFFFFEu ? 0 : p.Airspeed;
        rec.set("object", o.id);
        if (o.helicopter) rec.set("helicopter", true);
        for (auto& other : sessions_) {
            DWORD ev;
            if (!other->finished && other->opened && other->subscribed("objectadded", ev))
                wire::appendObjectAddRemove(other->pending, other->version, ev, o.id, objectType(o));
        }
        wire::appendAssignedObjectId(out, version, r.requestId, o.id);
        finish();
        tracePosition(o, true);
        return;
    }
    case wire::OP_AI_RELEASE_CONTROL: {
        rec.set("object", r.objectId);
        rec.set("request", r.requestId);
        SimObject* o = world_.find(r.objectId);
        if (r.objectId == SIMCONNECT_OBJECT_ID_USER || r.objectId == World::kUserId)
            raise(SIMCONNECT_EXCEPTION_OPERATION_INVALID_FOR_OBJECT_TYPE, 1);
        else if (!o) raise(SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, 1);
        else o->released = true;
        break;
    }
    case wire::OP_AI_REMOVE_OBJECT: {
        rec.set("object", r.objectId);
        rec.set("request", r.requestId);
        if (r.objectId == SIMCONNECT_OBJECT_ID_USER || r.objectId == World::kUserId || !world_.find(r.objectId)) {
            raise(SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, 1);
            break;
        }
        const auto type = objectType(*world_.find(r.objectId));
        world_.remove(r.objectId);
        lastTraced_.erase(r.objectId);
        for (auto& other : sessions_) {
            DWORD ev;
            if (!other->finished && other->opened && other->subscribed("objectremoved", ev))
                wire::appendObjectAddRemove(other->pending, other->version, ev, r.objectId, type);
        }
        finish();
        trace(json{{"t", now()}, {"removed", r.objectId}}.dump());
        return;
    }
    case wire::OP_AI_SET_AIRCRAFT_FLIGHT_PLAN: {
        // The path comes in the system's narrow code page, as the simulator reads it.
        std::filesystem::path path = platform::pathFromNarrowCodePage(r.name);
        rec.set("object", r.objectId);
        rec.set("path", platform::pathToUtf8(path));
        rec.set("request", r.requestId);
        SimObject* o = world_.find(r.objectId);
        std::error_code ec;
        // The client names the plan without its extension, as the simulator accepts.
        if (auto withExtension = std::filesystem::path(path) += ".pln";
            !std::filesystem::is_regular_file(path, ec) && std::filesystem::is_regular_file(withExtension, ec))
            path = withExtension;
        if (!o || r.objectId == World::kUserId) {
            raise(SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, 1);
        } else if (!std::filesystem::is_regular_file(path, ec)) {
            raise(SIMCONNECT_EXCEPTION_LOAD_FLIGHTPLAN_FAILED, 2);
        } else if (const std::string problem = flightPlanProblem(fileText(path)); !problem.empty()) {
            raise(SIMCONNECT_EXCEPTION_LOAD_FLIGHTPLAN_FAILED, 2);
            rec.set("refused", problem);
        } else {
            o->flightPlan = platform::pathToUtf8(path);
        }
        break;
    }
    default: raise(SIMCONNECT_EXCEPTION_ERROR, SIMCONNECT_RECV_UNKNOWN_INDEX);
    }
    finish();
}

std::string Server::command(const std::string& line) {
    std::string cmd = trim(line);
    std::string arg;
    if (auto sp = cmd.find(' '); sp != std::string::npos) {
        arg = trim(cmd.substr(sp + 1));
        cmd = cmd.substr(0, sp);
    }
    cmd = toLower(cmd);
    std::vector<std::shared_ptr<Session>> cut;
    {
        std::lock_guard lock(mutex_);
        trace(json{{"t", now()}, {"command", cmd}, {"arg", arg}}.dump());
        auto each = [&](const char* event, auto&& f) {
            for (auto& s : sessions_) {
                DWORD ev;
                if (!s->finished && s->opened && s->subscribed(event, ev)) f(*s, ev);
            }
        };
        if (cmd == "sim") {
            options_.simRunning = arg == "1";
            each("sim", [&](Session& s, DWORD ev) {
                wire::appendEvent(s.pending, s.version, SIMCONNECT_RECV_UNKNOWN_GROUP, ev, options_.simRunning);
            });
        } else if (cmd == "flightloaded") {
            each("flightloaded", [&](Session& s, DWORD ev) { wire::appendFileNameEvent(s.pending, s.version, ev, arg); });
        } else if (cmd == "positionchanged") {
            each("positionchanged", [&](Session& s, DWORD ev) {
                wire::appendEvent(s.pending, s.version, SIMCONNECT_RECV_UNKNOWN_GROUP, ev, 0);
            });
        } else if (cmd == "quit") {
            for (auto& s : sessions_)
                if (!s->finished) wire::appendQuit(s->pending, s->version);
            cut = sessions_;
        } else if (cmd == "stall") {
            double seconds = 0;
            try {
                seconds = std::stod(arg);
            } catch (const std::exception&) {
                return "stall needs a number of seconds";
            }
            if (!(seconds >= 0 && seconds <= 3600)) return "stall needs 0 to 3600 seconds";
            stallUntil_ = now() + seconds;
        } else if (cmd == "drop") {
            for (auto& s : sessions_) s->pending.clear();
            cut = sessions_;
        } else {
            return "unknown command '" + cmd + "'";
        }
    }
    flushAll();
    for (auto& s : cut) s->stream->cancel();
    return {};
}

std::size_t Server::connectionCount() {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(
        std::count_if(sessions_.begin(), sessions_.end(), [](const auto& s) { return !s->finished; }));
}

std::size_t Server::aiObjectCount() {
    std::lock_guard lock(mutex_);
    return world_.aiCount();
}
}  // namespace vntx::simhost

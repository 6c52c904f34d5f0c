// rtfeed: stands in for RealTraffic. Connects to the program's TCP server,
// answers the version request, logs the position and time lines it gets, and
// replays a traffic recording as UDP traffic and weather datagrams.
//
//   rtfeed [options] <recording>          replay
//   rtfeed convert [options] <in> <out>   convert a real recording
//   rtfeed dense [options] <in>... <out>  a busy sky made of real flights
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "platform/socket.h"
#include "dense.h"
#include "recording.h"

namespace net = vntx::platform::net;
using Clock = std::chrono::system_clock;

namespace {

struct Options {
    std::string host = "127.0.0.1";
    std::string tcpPort = "10747";
    int trafficPort = 49005;
    int weatherPort = 49004;
    std::string file;
    std::string format;
    double speed = 1.0;
    std::string shift = "now";  // now | sim | none
    double startOffset = 0;     // seconds into the recording
    double maxSeconds = 0;      // 0: until the recording ends
    int qnh = 1013;
    std::string station = "ZZZZ";
    bool noTcp = false;
    bool quiet = false;
    bool loop = false;
    std::vector<std::string> registrations;
    std::string version = "rtfeed 1.0";
    std::string sentLog;  // every traffic datagram sent, after its send time
    bool hold = false;    // keep the link after the replay until interrupted
    double densify = 0;   // fill in reports to about one per this many seconds (0: as recorded)
};

std::atomic<bool> stopping{false};
std::mutex outMutex;

template <typename... A>
void say(fmt::format_string<A...> f, A&&... a) {
    std::lock_guard lock(outMutex);
    std::cout << fmt::format(f, std::forward<A>(a)...) << std::endl;
}

double nowSeconds() {
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

// The TCP side: connect (retrying), answer the version request, log the
// position and time lines, reconnect when the program drops the link.
class Link {
public:
    explicit Link(const Options& o) : o_(o) {}

    void run() {
        while (!stopping) {
            net::Address addr;
            if (net::resolve(o_.host, o_.tcpPort, net::Family::IPv4, net::Kind::Stream, false, addr) != 0) {
                say("rtfeed: cannot resolve {}:{}", o_.host, o_.tcpPort);
                return;
            }
            net::Handle s = net::open(addr, net::Kind::Stream);
            if (s == net::kInvalidSocket || !net::connect(s, addr)) {
                if (s != net::kInvalidSocket) net::close(s);
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
                continue;
            }
            say("rtfeed: connected to {}:{}", o_.host, o_.tcpPort);
            serve(s);
            net::close(s);
            say("rtfeed: link closed");
        }
    }

    // Simulator time in seconds for "now" on the wall clock, 0 when unknown.
    double simulatorNow() const {
        std::lock_guard lock(m_);
        if (simMs_ <= 0) return 0;
        return simMs_ / 1000.0 + (nowSeconds() - simAt_);
    }

private:
    void serve(net::Handle s) {
        std::string pending;
        char buf[4096];
        while (!stopping) {
            const int ready = net::waitReadable(s, 200);
            if (ready == 0) continue;
            if (ready < 0) return;
            const long n = net::receive(s, buf, sizeof buf);
            if (n <= 0) return;
            pending.append(buf, static_cast<std::size_t>(n));
            std::size_t eol;
            while ((eol = pending.find("\r\n")) != std::string::npos) {
                const std::string line = pending.substr(0, eol);
                pending.erase(0, eol + 2);
                if (!handle(s, line)) return;
            }
        }
    }

    bool handle(net::Handle s, const std::string& line) {
        if (line == "Qs999=version") {
            const std::string reply = fmt::format(R"({{"version":"{}","type":"standin"}})", o_.version);
            net::send(s, reply.data(), reply.size());
            say("rtfeed: version request answered");
        } else if (line.rfind("Qs121=", 0) == 0) {
            if (!o_.quiet) say("rtfeed: {}", line);
        } else if (line.rfind("Qs123=", 0) == 0) {
            if (!o_.quiet) say("rtfeed: {}", line);
            try {
                std::lock_guard lock(m_);
                simMs_ = std::stod(line.substr(6));
                simAt_ = nowSeconds();
            } catch (const std::exception&) {
            }
        } else if (line == "exit") {
            say("rtfeed: exit received");
            return false;
        } else {
            say("rtfeed: unknown line {}", line);
        }
        return true;
    }

    const Options& o_;
    mutable std::mutex m_;
    double simMs_ = 0;
    double simAt_ = 0;
};

int usage() {
    std::cerr << "usage: rtfeed [--host H] [--port TCP] [--traffic-port P] [--weather-port P] [--speed X]\n"
                 "              [--shift now|sim|none] [--start S] [--duration S] [--densify S] [--qnh HPA] [--station ICAO]\n"
                 "              [--format recording|fr24|opensky|readsb-trace|readsb-points] [--regdb FILE]...\n"
                 "              [--sent FILE] [--hold] [--no-tcp] [--loop] [--quiet] <recording>\n"
                 "       rtfeed convert [--format F] [--regdb FILE]... [--note TEXT] <input> <output>\n"
                 "       rtfeed dense [--aircraft N] [--seed S] [--centre LAT,LON] [--seconds S] [--start-time T]\n"
                 "              [--radius NM] [--densify S] [--regdb FILE]... <recording>... <output>\n"
                 "\n"
                 "dense: a busy sky made of real flights. Each recording (any format rtfeed reads, types and\n"
                 "registrations filled from --regdb) is cut into flights: one aircraft's reports without a\n"
                 "silence over 5 minutes, within --radius (default 80 nm) of the recording's centre (the median\n"
                 "of its positions), at least 2 minutes and 10 reports long, with a type and a registration.\n"
                 "--aircraft slots (default 1000) each fly such flights one after the other, picked at random,\n"
                 "the first already under way at the start, with a pause of 1 to 21 s between two: every\n"
                 "flight is moved from its recording's centre to --centre (default Monterey, 36.587,-121.843)\n"
                 "and turned by a random angle about it, keeps its altitudes, speeds and the times between its\n"
                 "reports, and gets a new address and call sign (the airline kept). --densify S fills gaps\n"
                 "between two reports longer than 1.5 S, as for a replay (sparse recordings, one report a\n"
                 "minute). The output covers --seconds (default 1800) from --start-time; the same --seed and\n"
                 "recordings give the same file.\n";
    return 2;
}

int dense(int argc, char** argv) {
    rtfeed::DenseOptions o;
    o.centreLat = 36.587;
    o.centreLon = -121.843;
    rtfeed::TrackLimits limits;
    double step = 0;
    std::vector<std::string> regdbs, files;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) throw std::runtime_error("missing value for " + a);
            return argv[++i];
        };
        if (a == "--aircraft") o.aircraft = std::stoi(next());
        else if (a == "--seed") o.seed = std::stoull(next());
        else if (a == "--seconds") o.seconds = std::stod(next());
        else if (a == "--start-time") o.startTime = std::stod(next());
        else if (a == "--radius") limits.radiusNm = std::stod(next());
        else if (a == "--densify") step = std::stod(next());
        else if (a == "--regdb") regdbs.push_back(next());
        else if (a == "--centre") {
            const std::string v = next();
            if (std::sscanf(v.c_str(), "%lf,%lf", &o.centreLat, &o.centreLon) != 2) return usage();
        } else if (!a.empty() && a[0] == '-') return usage();
        else files.push_back(a);
    }
    if (files.size() < 2 || o.aircraft <= 0 || o.seconds <= 0) return usage();
    const std::string outPath = files.back();
    files.pop_back();
    rtfeed::RegistrationDb db;
    for (const auto& r : regdbs) db.load(r);
    std::vector<rtfeed::Track> tracks;
    for (const auto& f : files) {
        auto reports = rtfeed::loadAny(f, rtfeed::guessFormat(f));
        for (auto& r : reports) db.fill(r);
        const auto [lat, lon] = rtfeed::recordingCentre(reports);
        auto flights = rtfeed::splitTracks(reports, lat, lon, limits);
        say("rtfeed: {}: {} reports, {} flights (centre {:.4f},{:.4f})", f, reports.size(), flights.size(), lat, lon);
        for (auto& t : flights) tracks.push_back(std::move(t));
    }
    auto reports = rtfeed::denseScenario(tracks, o);
    if (step > 0) reports = rtfeed::densify(reports, step);
    std::ofstream out(outPath + ".tmp");
    rtfeed::writeRecording(out, reports,
                           fmt::format("{} aircraft at once around {:.4f},{:.4f} for {} s, seed {}, from {} flights",
                                       o.aircraft, o.centreLat, o.centreLon, o.seconds, o.seed, tracks.size()));
    out.close();
    if (!out || std::rename((outPath + ".tmp").c_str(), outPath.c_str()) != 0) {
        std::cerr << "rtfeed: cannot write " << outPath << "\n";
        return 1;
    }
    say("rtfeed: {} reports written to {}", reports.size(), outPath);
    return 0;
}

int convert(int argc, char** argv) {
    std::string format, note;
    std::vector<std::string> regdbs, files;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--format" && i + 1 < argc) format = argv[++i];
        else if (a == "--regdb" && i + 1 < argc) regdbs.push_back(argv[++i]);
        else if (a == "--note" && i + 1 < argc) note = argv[++i];
        else files.push_back(a);
    }
    if (files.size() != 2) return usage();
    auto f = format.empty() ? rtfeed::guessFormat(files[0]) : rtfeed::formatByName(format).value_or(rtfeed::Format::Recording);
    auto reports = rtfeed::loadAny(files[0], f);
    rtfeed::RegistrationDb db;
    for (const auto& r : regdbs) db.load(r);
    std::size_t filled = 0;
    for (auto& r : reports) {
        const bool had = !r.type.empty();
        db.fill(r);
        filled += !had && !r.type.empty();
    }
    std::ofstream out(files[1] + ".tmp");
    rtfeed::writeRecording(out, reports, note);
    out.close();
    if (!out || std::rename((files[1] + ".tmp").c_str(), files[1].c_str()) != 0) {
        std::cerr << "rtfeed: cannot write " << files[1] << "\n";
        return 1;
    }
    say("rtfeed: {} reports written to {} ({} types filled from the registration data)", reports.size(), files[1],
        filled);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "dense") {
        try {
            return dense(argc, argv);
        } catch (const std::exception& e) {
            std::cerr << "rtfeed: " << e.what() << "\n";
            return 1;
        }
    }
    if (argc > 1 && std::string(argv[1]) == "convert") {
        try {
            return convert(argc, argv);
        } catch (const std::exception& e) {
            std::cerr << "rtfeed: " << e.what() << "\n";
            return 1;
        }
    }
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) throw std::runtime_error("missing value for " + a);
            return argv[++i];
        };
        try {
            if (a == "--host") o.host = next();
            else if (a == "--port") o.tcpPort = next();
            else if (a == "--traffic-port") o.trafficPort = std::stoi(next());
            else if (a == "--weather-port") o.weatherPort = std::stoi(next());
            else if (a == "--speed") o.speed = std::stod(next());
            else if (a == "--shift") o.shift = next();
            else if (a == "--start") o.startOffset = std::stod(next());
            else if (a == "--duration") o.maxSeconds = std::stod(next());
            else if (a == "--densify") o.densify = std::stod(next());
            else if (a == "--qnh") o.qnh = std::stoi(next());
            else if (a == "--station") o.station = next();
            else if (a == "--format") o.format = next();
            else if (a == "--regdb") o.registrations.push_back(next());
            else if (a == "--version-text") o.version = next();
            else if (a == "--sent") o.sentLog = next();
            else if (a == "--hold") o.hold = true;
            else if (a == "--no-tcp") o.noTcp = true;
            else if (a == "--loop") o.loop = true;
            else if (a == "--quiet") o.quiet = true;
            else if (!a.empty() && a[0] == '-') return usage();
            else o.file = a;
        } catch (const std::exception& e) {
            std::cerr << "rtfeed: " << e.what() << "\n";
            return usage();
        }
    }
    if (o.file.empty() || o.speed <= 0 || (o.shift != "now" && o.shift != "sim" && o.shift != "none")) return usage();

    std::vector<rtfeed::Report> reports;
    try {
        auto f = o.format.empty() ? rtfeed::guessFormat(o.file)
                                  : rtfeed::formatByName(o.format).value_or(rtfeed::Format::Recording);
        reports = rtfeed::loadAny(o.file, f);
        rtfeed::RegistrationDb db;
        for (const auto& r : o.registrations) db.load(r);
        for (auto& r : reports) db.fill(r);
        if (o.densify > 0) reports = rtfeed::densify(reports, o.densify);
    } catch (const std::exception& e) {
        std::cerr << "rtfeed: " << e.what() << "\n";
        return 1;
    }
    if (reports.empty()) {
        std::cerr << "rtfeed: no reports in " << o.file << "\n";
        return 1;
    }
    std::signal(SIGINT, [](int) { stopping = true; });
    std::signal(SIGTERM, [](int) { stopping = true; });
    net::startup();

    Link link(o);
    std::thread tcp;
    if (!o.noTcp) tcp = std::thread([&] { link.run(); });

    net::Handle udp = net::open(net::Family::IPv4, net::Kind::Datagram);
    net::Address trafficTo, weatherTo;
    if (udp == net::kInvalidSocket ||
        net::resolve(o.host, std::to_string(o.trafficPort), net::Family::IPv4, net::Kind::Datagram, false, trafficTo) ||
        net::resolve(o.host, std::to_string(o.weatherPort), net::Family::IPv4, net::Kind::Datagram, false, weatherTo)) {
        std::cerr << "rtfeed: cannot open the UDP socket\n";
        stopping = true;
        if (tcp.joinable()) tcp.join();
        return 1;
    }

    const double first = reports.front().time + o.startOffset;
    auto begin = std::lower_bound(reports.begin(), reports.end(), first,
                                  [](const rtfeed::Report& r, double t) { return r.time < t; });
    say("rtfeed: replaying {} reports from {} at {}x", reports.end() - begin, o.file, o.speed);
    std::uint64_t sent = 0;
    bool durationReached = false;
    std::ofstream sentLog;
    if (!o.sentLog.empty()) {
        sentLog.open(o.sentLog, std::ios::trunc);
        if (!sentLog) {
            std::cerr << "rtfeed: cannot write " << o.sentLog << "\n";
            stopping = true;
        }
    }
    do {
        const double wallStart = nowSeconds();
        double nextWeather = 0;
        for (auto it = begin; it != reports.end() && !stopping; ++it) {
            const double due = wallStart + (it->time - first) / o.speed;
            if (o.maxSeconds > 0 && due - wallStart > o.maxSeconds) {
                durationReached = true;
                break;
            }
            while (!stopping) {
                const double now = nowSeconds();
                if (now >= nextWeather) {
                    const auto w = rtfeed::weatherDatagram(o.qnh, o.station);
                    net::sendTo(udp, w.data(), w.size(), weatherTo);
                    nextWeather = now + 10;
                }
                if (now >= due) break;
                std::this_thread::sleep_for(std::chrono::duration<double>(std::min(0.05, due - now)));
            }
            double stamp = it->time;
            if (o.shift == "now") stamp = nowSeconds();
            else if (o.shift == "sim") stamp = link.simulatorNow() > 0 ? link.simulatorNow() : nowSeconds();
            const auto d = rtfeed::trafficDatagram(*it, stamp);
            if (net::sendTo(udp, d.data(), d.size(), trafficTo) > 0) {
                ++sent;
                if (sentLog.is_open()) sentLog << fmt::format("{:.3f}\t", stamp) << d << '\n' << std::flush;
            }
        }
    } while (o.loop && !stopping && !durationReached);
    say("rtfeed: {} traffic datagrams sent", sent);
    // Held: RealTraffic stays connected with nothing more to report.
    while (o.hold && !stopping) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stopping = true;
    if (tcp.joinable()) tcp.join();
    net::close(udp);
    net::cleanup();
    return 0;
}

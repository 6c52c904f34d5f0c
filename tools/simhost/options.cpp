// The simulator stand-in's command line.
#include <cstdio>
#include <stdexcept>

#include "server.h"

namespace vntx::simhost {

std::string usage() {
    return "usage: simhost [options]\n"
           "  --port N           IPv4 TCP port on 127.0.0.1 (0: a free one, -1: none; default 0)\n"
           "  --port6 N          IPv6 TCP port on ::1 (0: a free one; default none)\n"
           "  --pipe NAME        pipe name under \\\\.\\pipe\\ ('' for none; default the simulator's)\n"
           "  --p3d 5|6          the Prepar3D version it claims (default 5)\n"
           "  --frame-rate HZ    Frame events per second (default 30)\n"
           "  --user SCRIPT      parked:LAT,LON[,HDG] | taxi:LAT,LON,HDG,KTS |\n"
           "                     route:KTS,ALTFT:LAT,LON;LAT,LON;... | final:LAT,LON,HDG,KTS,FT |\n"
           "                     track:FILE\n"
           "  --titles PATH      installed container titles: a file (one a line, a tab and 'helicopter'\n"
           "                     after a helicopter's) or a livery folder\n"
           "  --ground LAT1,LON1,LAT2,LON2,FT  flat ground elevation over a box (repeatable)\n"
           "  --trace FILE       JSON-lines trace of operations and AI positions\n"
           "  --trace-interval S seconds between position records of one object (default 1, 0: all)\n"
           "  --quiet-op NAME    no record of a successful NAME operation, e.g. SetDataOnSimObject for a\n"
           "                     long run's trace (repeatable; refusals and exceptions are still traced)\n"
           "  --max-objects N    AI object limit (default 1000)\n"
           "  --not-running      the simulation starts paused ('sim 1' on stdin starts it)\n"
           "  --no-registry      do not write the ports\n"
           "The ports go to the registry (off Windows: the file named by VNTX_REGISTRY).\n"
           "Commands on stdin: sim 0|1, flightloaded PATH, positionchanged, quit, drop, exit,\n"
           "  stall SECONDS (no frames, nothing read: the client's link fills)\n";
}

bool parseOptions(const std::vector<std::string>& args, Options& o, std::string& error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= args.size()) throw std::invalid_argument(a + " needs a value");
            return args[++i];
        };
        try {
            if (a == "--port") o.port = std::stoi(value());
            else if (a == "--port6") o.port6 = std::stoi(value());
            else if (a == "--pipe") o.pipeName = value();
            else if (a == "--p3d") o.p3dVersion = std::stoi(value());
            else if (a == "--frame-rate") o.frameRate = std::stod(value());
            else if (a == "--user") o.userScript = value();
            else if (a == "--titles") o.titles = value();
            else if (a == "--trace") o.tracePath = value();
            else if (a == "--trace-interval") o.traceInterval = std::stod(value());
            else if (a == "--quiet-op") o.quietOps.insert(value());
            else if (a == "--max-objects") o.maxObjects = static_cast<std::size_t>(std::stoul(value()));
            else if (a == "--not-running") o.simRunning = false;
            else if (a == "--no-registry") o.writeRegistry = false;
            else if (a == "--ground") {
                std::string v = value();
                double g[5];
                if (std::sscanf(v.c_str(), "%lf,%lf,%lf,%lf,%lf", &g[0], &g[1], &g[2], &g[3], &g[4]) != 5)
                    throw std::invalid_argument("--ground needs LAT1,LON1,LAT2,LON2,FT");
                o.ground.push_back({g[0], g[1], g[2], g[3], g[4]});
            } else {
                throw std::invalid_argument("unknown option " + a);
            }
        } catch (const std::invalid_argument& e) {
            error = e.what();
            return false;
        } catch (const std::out_of_range&) {
            error = "value out of range for " + a;
            return false;
        }
    }
    if (o.frameRate <= 0 || o.frameRate > 1000) {
        error = "--frame-rate must be above 0 and at most 1000";
        return false;
    }
    return true;
}

}  // namespace vntx::simhost

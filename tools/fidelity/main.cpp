// traffic_replay: plays a real recording through the live traffic against
// the in-process simulator stand-in and prints what was created, removed
// and how faithfully the paths follow the reports.
//
//   traffic_replay <recording> [--start s] [--duration s] [--centre lat,lon]
//                  [--range nm] [--park lat,lon,elev,CODE] [--svg file] [--trace file] [--hexid hex]... [--densify s]
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "replay.h"

using namespace vntx;

int main(int argc, char** argv) {
    fidelity::ReplayOptions o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::cerr << "missing value for " << a << "\n";
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--start") o.startOffset = std::stod(value());
        else if (a == "--duration") o.duration = std::stod(value());
        else if (a == "--range") o.rangeNm = std::stod(value());
        else if (a == "--svg") o.svgPath = value();
        else if (a == "--trace") o.tracePath = value();
        else if (a == "--regdb") o.registrationFiles.push_back(value());
        else if (a == "--densify") o.densifySeconds = std::stod(value());
        else if (a == "--hexid") o.hexids.push_back(static_cast<std::uint32_t>(std::stoul(value(), nullptr, 16)));
        else if (a == "--seed") o.seed = static_cast<std::uint32_t>(std::stoul(value()));
        else if (a == "--centre") {
            const std::string v = value();
            if (std::sscanf(v.c_str(), "%lf,%lf", &o.userLatitude, &o.userLongitude) != 2) return 2;
        } else if (a == "--park") {
            const std::string v = value();
            traffic::ParkAirportInfo p;
            char code[16] = {};
            if (std::sscanf(v.c_str(), "%lf,%lf,%lf,%15s", &p.latitude, &p.longitude, &p.elevation, code) < 3) return 2;
            if (code[0]) p.codes.push_back(code);
            o.park = p;
        } else if (o.recording.empty()) o.recording = a;
        else {
            std::cerr << "unknown argument " << a << "\n";
            return 2;
        }
    }
    if (o.recording.empty()) {
        std::cerr << "usage: traffic_replay <recording> [--start s] [--duration s] [--centre lat,lon] [--range nm] "
                     "[--park lat,lon,elev,CODE] [--svg file] [--trace file] [--hexid hex]... [--densify s]\n";
        return 2;
    }
    try {
        const auto s = fidelity::runReplay(o);
        std::cout << fidelity::formatSummary(s);
    } catch (const std::exception& e) {
        std::cerr << "traffic_replay: " << e.what() << "\n";
        return 1;
    }
    return 0;
}

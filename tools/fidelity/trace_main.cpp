// trace_fidelity: how faithfully a live run followed its reports, from the
// feed's record of what it sent and simhost's trace of the AI objects.
//
//   trace_fidelity --sent FILE --trace FILE [--centre lat,lon] [--range nm]
//                  [--delay s] [--svg FILE] [--stands PARKFILE] [--map-box LAT1,LON1,LAT2,LON2]
//                  [--max-median m] [--max-p95 m]
//                  [--due-from T] [--due-to T]
// --due-from/--due-to (seconds since 1970) measure only the reports due in
// that span: a long run's figures minute by minute.
// The exit code is 1 when an object jumped, or was created and never taken
// over or placed, or (with limits given) a figure is beyond them.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <iostream>
#include <string>

#include "core/files.h"
#include "trace_check.h"

using namespace vntx;

int main(int argc, char** argv) {
    std::string sentPath, tracePath, svgPath, standsPath;
    input::DecoderSettings ds;
    ds.rangeNm = 40;
    std::optional<fidelity::MapFrame> frame;
    double delay = 30, maxMedian = 0, maxP95 = 0, dueFrom = 0, dueTo = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::cerr << "missing value for " << a << "\n";
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--sent") sentPath = value();
        else if (a == "--trace") tracePath = value();
        else if (a == "--svg") svgPath = value();
        else if (a == "--stands") standsPath = value();
        else if (a == "--map-box") {
            if (!(frame = fidelity::parseMapFrame(value()))) {
                std::cerr << "--map-box needs LAT1,LON1,LAT2,LON2 around an area\n";
                return 2;
            }
        }
        else if (a == "--range") ds.rangeNm = std::stod(value());
        else if (a == "--delay") delay = std::stod(value());
        else if (a == "--max-median") maxMedian = std::stod(value());
        else if (a == "--max-p95") maxP95 = std::stod(value());
        else if (a == "--due-from") dueFrom = std::stod(value());
        else if (a == "--due-to") dueTo = std::stod(value());
        else if (a == "--centre") {
            const std::string v = value();
            if (std::sscanf(v.c_str(), "%lf,%lf", &ds.userLatitude, &ds.userLongitude) != 2) return 2;
        } else {
            std::cerr << "unknown argument " << a << "\n";
            return 2;
        }
    }
    if (sentPath.empty() || tracePath.empty()) {
        std::cerr << "usage: trace_fidelity --sent FILE --trace FILE [--centre lat,lon] [--range nm] [--delay s] "
                     "[--svg FILE] [--stands PARKFILE] [--map-box LAT1,LON1,LAT2,LON2] [--max-median m] [--max-p95 m]\n";
        return 2;
    }
    std::ifstream sent(sentPath), traceIn(tracePath);
    if (!sent || !traceIn) {
        std::cerr << "trace_fidelity: cannot read " << (!sent ? sentPath : tracePath) << "\n";
        return 1;
    }
    std::vector<fidelity::StandMark> stands;
    if (!standsPath.empty()) {
        std::ifstream in(standsPath);
        std::stringstream text;
        text << in.rdbuf();
        stands = fidelity::readStandMarks(text.str());
        // Ground reports count around the park airport, as in the program.
        ds.parkAirport = fidelity::parkAirportOf(text.str());
    }
    auto reports = fidelity::readSentLog(sent, ds);
    if (dueFrom > 0) std::erase_if(reports, [&](const auto& r) { return r.sentAt + delay < dueFrom; });
    const auto trace = fidelity::readSimTrace(traceIn);
    if (trace.wallStart <= 0) {
        std::cerr << "trace_fidelity: the trace has no start record with the system clock\n";
        return 1;
    }
    const auto f = fidelity::checkTrace(trace, reports, delay, dueTo);
    std::cout << fidelity::formatTraceFigures(f);
    if (!svgPath.empty()) writeFileAtomically(svgPath, fidelity::traceSvg(trace, reports, stands, frame));
    // Every object the program created is taken over and moved by it.
    bool ok = f.teleports == 0 && f.neverTied.empty() && f.neverPlaced.empty();
    if (maxMedian > 0 && (f.samples == 0 || f.median > maxMedian)) ok = false;
    if (maxP95 > 0 && (f.samples == 0 || f.p95 > maxP95)) ok = false;
    return ok ? 0 : 1;
}

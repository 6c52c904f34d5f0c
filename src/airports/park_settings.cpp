#include "airports/park_settings.h"

#include <cmath>
#include <cstdlib>
#include <string>

#include <fmt/format.h>
#include <pugixml.hpp>

#include "core/log.h"
#include "core/parameters.h"
#include "core/status.h"

namespace vntx {

namespace {

const char* text(bool b) { return b ? "true" : "false"; }

// The choice of a list setting nearest to v (the lower one on a tie).
int nearestChoice(const IntParam& p, long long v) {
    if (p.choices.empty()) return p.clamp(v);
    int best = p.choices.front();
    for (int c : p.choices)
        if (std::llabs(c - v) < std::llabs(best - v)) best = c;
    return best;
}

void showOnControls() {
    if (auto* fe = frontEnd()) fe->refreshControls();
}

}  // namespace

void addParkFileParameter(pugi::xml_node parameters, const char* name, const std::string& value) {
    pugi::xml_node p = parameters.append_child("parameter");
    p.append_attribute("name") = name;
    p.append_attribute("value") = value.c_str();
}

pugi::xml_attribute parkFileParameter(const pugi::xml_document& doc, const char* name) {
    try {
        return doc.select_node(fmt::format("/parameters/parameter[@name='{}']", name).c_str())
            .node()
            .attribute("value");
    } catch (const pugi::xpath_exception&) {
        return {};
    }
}

int maxLiveChoice(long long stored) {
    const auto v = static_cast<unsigned long long>(stored);  // negative counts land above 299
    if (v > 299) return 500;
    if (v >= 88) return 100;
    if (v >= 63) return 75;
    if (v >= 38) return 50;
    if (v >= 18) return 25;
    if (v >= 1) return 10;
    return 0;
}

void writeParkSettings(pugi::xml_node parameters) {
    Parameters& p = params();
    addParkFileParameter(parameters, "LATERAL_RANGE", std::to_string(p.RANGE.get()));
    addParkFileParameter(parameters, "AUTO_RANGE", text(p.AUTO_RANGE));
    addParkFileParameter(parameters, "WEEK", text(p.WEEK));
    addParkFileParameter(parameters, "PARK_SOFT", text(p.PARK_SOFT));
    addParkFileParameter(parameters, "parking_percentage", std::to_string(p.parking_percentage.get()));
    addParkFileParameter(parameters, "INITIAL_LOAD_ONLY", text(p.INITIAL_LOAD_ONLY));
    addParkFileParameter(parameters, "MAX_FIT", std::to_string(static_cast<int>(std::lround(2.0 * p.MAX_FIT_FL.get())) - 1));
    addParkFileParameter(parameters, "MAX_LIVE", std::to_string(p.MAX_LIVE_SEL.get()));
    addParkFileParameter(parameters, "LEARN_SOFT", text(p.LEARN_SOFT));
}

void restoreParkSettings(const pugi::xml_document& learned) {
    Parameters& p = params();
    auto setBool = [&](const char* name, BoolParam& param) {
        if (pugi::xml_attribute v = parkFileParameter(learned, name)) {
            param.set(v.as_bool());
            logf("{:24}: {}", name, text(param));
        }
    };
    auto setInt = [&](const char* name, IntParam& param, auto map) {
        if (pugi::xml_attribute v = parkFileParameter(learned, name)) {
            param.set(map(v.as_llong()));
            logf("{:24}: {}", name, param.get());
        }
    };
    setBool("LEARN_SOFT", p.LEARN_SOFT);
    setInt("MAX_LIVE", p.MAX_LIVE_SEL, maxLiveChoice);
    setInt("LATERAL_RANGE", p.RANGE, [&](long long v) { return nearestChoice(p.RANGE, v); });
    p.recomputeRange();
    setBool("AUTO_RANGE", p.AUTO_RANGE);
    setInt("parking_percentage", p.parking_percentage,
           [&](long long v) { return nearestChoice(p.parking_percentage, v); });
    setBool("WEEK", p.WEEK);
    setBool("PARK_SOFT", p.PARK_SOFT);
    setInt("MAX_FIT", p.MAX_FIT, [&](long long v) { return p.MAX_FIT.clamp(v); });
    p.MAX_FIT_FL.set(halfHoursToHours(p.MAX_FIT.get()));
    setBool("INITIAL_LOAD_ONLY", p.INITIAL_LOAD_ONLY);
    showOnControls();
}

void applyDefaultParkSettings(std::int32_t qfReal, std::int32_t qfSoft, std::int32_t catalogueStands) {
    Parameters& p = params();
    if (qfReal >= 46) {
        p.PARK_SOFT.set(false);
        p.WEEK.set(false);
    } else if (qfReal <= 2 && qfSoft >= 1) {
        p.PARK_SOFT.set(true);
        p.WEEK.set(true);
        p.MAX_FIT_FL.set(24.0f);
        p.MAX_FIT.set(47);
    }
    p.parking_percentage.set(catalogueStands == 1 ? 100 : catalogueStands == 2 ? 50 : 30);
    showOnControls();
}

}  // namespace vntx

// The park settings an airport's learned file keeps, and the defaults an
// airport without one gets from its park file and the catalogue.
#pragma once

#include <cstdint>
#include <string>

namespace pugi {
class xml_attribute;
class xml_node;
class xml_document;
}

namespace vntx {

// The "value" of a park file's parameter (an empty attribute when absent).
pugi::xml_attribute parkFileParameter(const pugi::xml_document& doc, const char* name);
// Appends a "parameter" element with its name and value.
void addParkFileParameter(pugi::xml_node parameters, const char* name, const std::string& value);

// Appends the current settings as "parameter" elements (learned files).
void writeParkSettings(pugi::xml_node parameters);
// Puts the settings a learned file stores into force, logging each one.
void restoreParkSettings(const pugi::xml_document& learned);
// Without a learned file: soft and other-weekday parking by the quality
// factors, the parking percentage by the catalogue's stand class.
void applyDefaultParkSettings(std::int32_t qfReal, std::int32_t qfSoft, std::int32_t catalogueStands);
// A stored MAX_LIVE count as a choice of MAX_LIVE_SEL.
int maxLiveChoice(long long stored);

}  // namespace vntx

// The park settings an airport's learned file keeps, and the defaults an
// airport without one gets from its park file and the catalogue.
#pragma once

#include <cstdint>

namespace pugi {
class xml_node;
class xml_document;
}

namespace vntx {

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

// The small database of the livery tests, loaded once for the livery fuzz
// targets.
#pragma once

#include <pugixml.hpp>

#include "liveries/small_dbase.h"
#include "refdata/dbase.h"

namespace vntx::fuzz {

inline const Database& smallDatabase() {
    static Database db;
    static const bool loaded = [] {
        pugi::xml_document doc;
        doc.load_string(test::smallDbase(R"(<db reg="PH-BXA" airl="KLM" type="B738" opr="KLM"/>)").c_str());
        db.load(doc);
        return true;
    }();
    (void)loaded;
    return db;
}

}  // namespace vntx::fuzz

// The small database of the livery fuzz targets, loaded once: every section
// the reader requires, a few models, airlines, fixes and registrations.
#pragma once

#include <pugixml.hpp>

#include "refdata/dbase.h"

namespace vntx::fuzz {

inline const Database& smallDatabase() {
    static Database db;
    static const bool loaded = [] {
        pugi::xml_document doc;
        doc.load_string(R"(<?xml version="1.0"?>
<aircrafts><aircraft types="B738,A320,E190,B744,C172,EUFI,GLID"/></aircrafts>
<high_performance><hpf types="EUFI"/></high_performance>
<heavy><hvy types="B744"/></heavy>
<large><lar types="B738,A320,E190"/></large>
<buzjet><bzj types="GLID"/></buzjet>
<rotorcraft><rot types="EC35"/></rotorcraft>
<cargo_types><cargo_type types="B744"/></cargo_types>
<similar_types><similar types="A320,B738"/></similar_types>
<ICAO_airlines><ICAO codes="KLM,DLH,IBE,SWR,AEA,FDX,ZZZ"/></ICAO_airlines>
<cargo_operators><ICAO codes="FDX"/></cargo_operators>
<publishers><pub names="Maker"/></publishers>
<fixes><fx wro="737-800" cor="B738"/><fx wro="EMB-190" cor="E190"/></fixes>
<simaddonsP3D><simaddonP3D arpts="EHAM"/></simaddonsP3D>
<dbase><db reg="PH-BXA" airl="KLM" type="B738" opr="KLM"/><db reg="EC-LKX" airl="AEA" type="E190"/></dbase>
)");
        db.load(doc);
        return true;
    }();
    (void)loaded;
    return db;
}

}  // namespace vntx::fuzz

// A small database text for the livery tests and fuzz targets (no test
// framework needed).
#pragma once

#include <string>

namespace vntx::test {

// B738/A320/A20N Large, B744/A388 Heavy, C172/PA28 Light, GLF5 Buzjets,
// EC35 Rotorcraft, F16 HighPerf.
inline std::string smallDbase(const std::string& records = "", const std::string& similar =
                                  R"(<similar types="A320,A20N,B738"/><similar types="B744,A388"/><similar types="C172,PA28"/>)") {
    return std::string(R"(<?xml version="1.0"?>
<aircrafts><aircraft types="B738,A320,A20N,B744,A388,C172,PA28,GLF5,EC35,F16"/></aircrafts>
<high_performance><hpf types="F16"/></high_performance>
<heavy><hvy types="B744,A388"/></heavy>
<large><lar types="B738,A320,A20N"/></large>
<buzjet><bzj types="GLF5"/></buzjet>
<rotorcraft><rot types="EC35"/></rotorcraft>
<cargo_types><cargo_type types="B744"/></cargo_types>
<similar_types>)") + similar + R"(</similar_types>
<ICAO_airlines><ICAO codes="KLM,DLH,BAW,FDX,TRA,ZZZ"/></ICAO_airlines>
<cargo_operators><ICAO codes="FDX"/></cargo_operators>
<publishers><pub names="Maker"/></publishers>
<fixes><fx wro="737-800" cor="B738"/></fixes>
<simaddonsP3D><simaddonP3D arpts="EHAM"/></simaddonsP3D>
<dbase>)" + records + "</dbase>\n";
}

}  // namespace vntx::test

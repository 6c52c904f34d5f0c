// Generator of realistic livery trees: airlines x models x registrations laid
// out as aircraft.cfg folders with their model, texture and .air files, with
// deliberate faults whose report lines it records, plus a matching dbase.xml.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace livgen {

struct Options {
    unsigned files = 1000;           // aircraft.cfg files with liveries
    unsigned sectionsPerFile = 3;
    std::uint64_t seed = 1;
    unsigned faultEvery = 50;        // one planted fault per this many files (0: none)
    unsigned utf16Every = 40;        // one UTF-16 file per this many files (0: none)
};

struct Tree {
    // Report file name -> the lines the scan must write (sorted, unique).
    std::map<std::string, std::vector<std::string>> expected;
    std::vector<std::string> titles;   // titles of the liveries the scan must keep
    std::size_t files = 0;             // livery files the scan must read
    std::size_t sections = 0;          // [fltsim.N] sections written
    std::string dbaseXml;              // a database that knows the tree's codes
};

Tree generate(const std::filesystem::path& root, const Options& options);

// Writes the expectations beside a tree: expected/<report>, titles.txt, dbase.xml.
void writeManifest(const Tree& tree, const std::filesystem::path& folder);

}  // namespace livgen

// bglgen ROOT CODE...: writes a tree of add-on airport sceneries under ROOT,
// one folder per ICAO code, and prints each airport file with its stands.
#include <iostream>

#include "bglgen/bglgen.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: bglgen ROOT CODE...\n";
        return 2;
    }
    try {
        const std::vector<std::string> codes(argv + 2, argv + argc);
        for (const auto& a : bglgen::writeTree(argv[1], codes, {}))
            std::cout << a.code << " " << a.stands << " " << a.file.string() << "\n";
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    return 0;
}

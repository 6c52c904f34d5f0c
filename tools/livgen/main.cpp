// livgen ROOT [FILES] [SEED]: writes a livery tree under ROOT/tree and its
// expectations (expected/<report>, titles.txt, dbase.xml) under ROOT.
#include <cstdlib>
#include <iostream>

#include "livgen/livgen.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: livgen ROOT [FILES] [SEED]\n";
        return 2;
    }
    livgen::Options options;
    if (argc > 2) options.files = static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10));
    if (argc > 3) options.seed = std::strtoull(argv[3], nullptr, 10);
    const std::filesystem::path root = argv[1];
    try {
        auto tree = livgen::generate(root / "tree", options);
        livgen::writeManifest(tree, root);
        std::size_t faults = 0;
        for (const auto& [name, lines] : tree.expected) faults += lines.size();
        std::cout << tree.files << " aircraft.cfg files, " << tree.sections << " sections, " << tree.titles.size()
                  << " liveries, " << faults << " report lines\n";
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    return 0;
}

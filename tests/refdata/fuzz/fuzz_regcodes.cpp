// libFuzzer target: any bytes as a user's my_regcodes .txt file, and the same
// bytes as the deciphered AIG file, each merged into a registration index.
// What the readers hand on keeps their rules: a registration of 3..12
// characters, no empty one.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "refdata/regcodes.h"
#include "support/fuzz/scratch.h"

namespace {

void check(const vntx::RegcodeReadResult& r, bool userFile) {
    for (const vntx::RegcodeEntry& e : r.entries)
        for (const std::string& reg : e.registrations)
            if (reg.empty() || (userFile && (reg.size() < 3 || reg.size() > 12))) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Every title counts as installed, so that each entry reaches the index.
    std::set<std::string, std::less<>> installed;
    const vntx::TitleLookup lookup = [&installed](std::string_view t) { return &*installed.emplace(t).first; };

    const auto user = vntx::fuzz::writeScratch("my_regcodes/user.txt", data, size);
    const vntx::RegcodeReadResult fromUser = vntx::readUserRegcodes(user.parent_path());
    check(fromUser, true);
    const auto aig = vntx::fuzz::writeScratch("AIG-regcodes.xml", data, size);
    const vntx::RegcodeReadResult fromAig = vntx::readAigRegcodes(aig);
    check(fromAig, false);

    vntx::RegcodeIndex index;
    index.merge(fromAig.entries, lookup);
    index.merge(fromUser.entries, lookup);
    return 0;
}

// Runs a fuzz target over its seed inputs as an ordinary test: every seed
// file, copies of it cut short and with single bytes changed (the mutations a
// fuzzer tries first), and every stored regression input. A crash, a
// sanitizer report or a failed check of the target fails the test.
//   <target>_seeds <file or folder>...   ("@shared/x" lies in the shared data)
// Exit 77 (skipped) when not a single input was found. VNTX_FUZZ_LAST=<file>
// keeps the input being run in that file (the crash input after a crash).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace fs = std::filesystem;

namespace {

fs::path sharedFolder() {
    if (const char* s = std::getenv("VNTX_SHARED_DIR"); s && *s) return s;
    if (const char* s = std::getenv("VNTX_SOURCE_DIR"); s && *s) return fs::path(s) / ".." / "shared";
    return {};
}

std::vector<std::uint8_t> readBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// VNTX_FUZZ_LAST names a file that holds the input being run: after a crash
// it is the input to store as a regression.
const char* lastInputFile = nullptr;

void runOne(const std::vector<std::uint8_t>& bytes) {
    if (lastInputFile)
        std::ofstream(lastInputFile, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    // A copy of exactly the input's length, so that a read past it is seen.
    std::vector<std::uint8_t> copy(bytes);
    LLVMFuzzerTestOneInput(copy.empty() ? nullptr : copy.data(), copy.size());
}

// The seed, then cut at three places, then with 16 single bytes changed.
std::size_t runWithMutations(const std::vector<std::uint8_t>& seed, std::mt19937& rng) {
    std::size_t runs = 0;
    runOne(seed);
    ++runs;
    const std::size_t n = seed.size();
    for (std::size_t cut : {n / 4, n / 2, n > 0 ? n - 1 : 0}) {
        if (cut >= n) continue;
        runOne(std::vector<std::uint8_t>(seed.begin(), seed.begin() + static_cast<std::ptrdiff_t>(cut)));
        ++runs;
    }
    for (int i = 0; i < 16 && n > 0; ++i) {
        std::vector<std::uint8_t> m(seed);
        const std::size_t at = rng() % n;
        static const std::uint8_t kValues[] = {0x00, 0xFF, 0x7F, 0x80, '\n', '"', '<', '9', ';', ','};
        m[at] = i % 2 ? kValues[rng() % std::size(kValues)] : static_cast<std::uint8_t>(m[at] ^ (1u << (rng() % 8)));
        runOne(m);
        ++runs;
    }
    return runs;
}

}  // namespace

int main(int argc, char** argv) {
    // Absolute paths first: a target's set-up may change the current folder.
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.rfind("@shared/", 0) != 0) arg = fs::absolute(arg).string();
        args.push_back(arg);
    }
    if (const char* last = std::getenv("VNTX_FUZZ_LAST"); last && *last) {
        static const std::string lastPath = fs::absolute(last).string();
        lastInputFile = lastPath.c_str();
    }
    if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
    std::mt19937 rng(20261206);
    std::size_t files = 0, runs = 0;
    for (const std::string& arg : args) {
        fs::path path = arg;
        if (arg.rfind("@shared/", 0) == 0) {
            const fs::path shared = sharedFolder();
            if (shared.empty()) continue;
            path = shared / arg.substr(8);
        }
        std::error_code ec;
        const bool regression = path.string().find("/regressions/") != std::string::npos;
        std::vector<fs::path> inputs;
        if (fs::is_directory(path, ec)) {
            for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::recursive_directory_iterator();
                 it.increment(ec))
                if (it->is_regular_file(ec) && it->path().filename() != "README.md") inputs.push_back(it->path());
            std::sort(inputs.begin(), inputs.end());
        } else if (fs::is_regular_file(path, ec)) {
            inputs.push_back(path);
        } else if (!regression) {  // a target without stored crash inputs has no such folder
            std::printf("not found (skipped): %s\n", path.string().c_str());
        }
        for (const fs::path& p : inputs) {
            const auto bytes = readBytes(p);
            // Regression inputs run as they are: they are the crash.
            runs += regression ? (runOne(bytes), 1) : runWithMutations(bytes, rng);
            ++files;
        }
    }
    std::printf("%zu inputs, %zu runs\n", files, runs);
    return files == 0 ? 77 : 0;
}

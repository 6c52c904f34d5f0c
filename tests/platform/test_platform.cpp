#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#include <sched.h>
#endif

#include "platform/platform.h"

namespace fs = std::filesystem;
using namespace vntx::platform;

namespace {

std::string uniqueSuffix() {
    std::random_device rd;
    return std::to_string(rd()) + "_" +
           std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
}

void setEnv(const char* name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

// A scratch folder removed at the end of the test.
struct TempDir {
    fs::path path = fs::temp_directory_path() / ("vntx_platform_" + uniqueSuffix());
    TempDir() { fs::create_directories(path); }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

}  // namespace

TEST(InstanceLock, SecondHolderOfTheSameNameIsRefusedUntilTheFirstLetsGo) {
    const std::string name = "Local\\$VNTX_TEST_" + uniqueSuffix() + "$";
    auto first = InstanceLock::acquire(name);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(InstanceLock::acquire(name), nullptr);
    // Another name is independent.
    auto other = InstanceLock::acquire(name + "x");
    EXPECT_NE(other, nullptr);
    first.reset();
    EXPECT_NE(InstanceLock::acquire(name), nullptr);
}

TEST(KnownFolder, EveryFolderIsAnAbsolutePath) {
    for (auto f : {KnownFolder::RoamingAppData, KnownFolder::Documents, KnownFolder::PublicDocuments,
                   KnownFolder::ProgramFiles}) {
        auto p = knownFolder(f);
        EXPECT_FALSE(p.empty()) << static_cast<int>(f);
        EXPECT_TRUE(p.is_absolute()) << p.string();
    }
#ifdef _WIN32
    // The program's settings folder lives here; on Windows it always exists.
    EXPECT_TRUE(fs::is_directory(knownFolder(KnownFolder::RoamingAppData)));
#endif
}

TEST(Registry, StringsRoundTripWithNonAsciiTextAndCaseInsensitiveNames) {
    TempDir dir;
    setEnv("VNTX_REGISTRY", (dir.path / "registry.ini").string());
    const std::string key = "Software\\Ventrix_P3D_Test\\" + uniqueSuffix();

    EXPECT_FALSE(registryKeyExists(RegistryHive::CurrentUser, key));
    EXPECT_FALSE(registryReadString(RegistryHive::CurrentUser, key, "Port").has_value());

    ASSERT_TRUE(registryWriteString(RegistryHive::CurrentUser, key, "Port", "500"));
    ASSERT_TRUE(registryWriteString(RegistryHive::CurrentUser, key, "SetupPath", "C:\\Sim\\Zürich ✈"));
    EXPECT_TRUE(registryKeyExists(RegistryHive::CurrentUser, key));
    EXPECT_EQ(registryReadString(RegistryHive::CurrentUser, key, "port").value_or("?"), "500");
    EXPECT_EQ(registryReadString(RegistryHive::CurrentUser, key, "SetupPath").value_or("?"), "C:\\Sim\\Zürich ✈");
    EXPECT_FALSE(registryReadString(RegistryHive::CurrentUser, key, "Missing").has_value());

    // Overwriting keeps one value, and the hives are separate.
    ASSERT_TRUE(registryWriteString(RegistryHive::CurrentUser, key, "PORT", "501"));
    EXPECT_EQ(registryReadString(RegistryHive::CurrentUser, key, "Port").value_or("?"), "501");
    EXPECT_FALSE(registryKeyExists(RegistryHive::LocalMachine, key));
}

TEST(Paths, NonAsciiFileNamesSurviveTheUtf8Conversions) {
    TempDir dir;
    const std::string name = "Zürich Ω ✈ 東京.txt";
    const fs::path file = dir.path / pathFromUtf8(name);
    { std::ofstream(file) << "x"; }
    ASSERT_TRUE(fs::exists(file));
    int seen = 0;
    for (const auto& entry : fs::directory_iterator(dir.path)) {
        EXPECT_EQ(pathToUtf8(entry.path().filename()), name);
        ++seen;
    }
    EXPECT_EQ(seen, 1);
    EXPECT_EQ(pathToUtf8(pathFromUtf8(pathToUtf8(file))), pathToUtf8(file));
}

TEST(CommandLine, ArgumentsAreThoseAfterTheProgramName) {
    const auto& argv = ::testing::internal::GetArgvs();
    std::vector<std::string> expected(argv.begin() + 1, argv.end());
    std::vector<char*> raw;
    for (const auto& a : argv) raw.push_back(const_cast<char*>(a.c_str()));
    EXPECT_EQ(commandLineArguments(static_cast<int>(raw.size()), raw.data()), expected);
}

// The control loop and the simulator link sleep to deadlines less than a
// millisecond away; a sleep that returns early turns a 1 ms loop into a spin.
TEST(Sleep, NeverWakesBeforeTheDeadlineEvenForPartsOfAMillisecond) {
    using Clock = std::chrono::steady_clock;
    beginTimerPeriod1ms();
    int early = 0;
    for (int i = 0; i < 100; ++i) {
        const auto deadline = Clock::now() + std::chrono::microseconds(100 + 9 * i);  // 0.1 .. 1 ms
        sleepUntil(deadline);
        if (Clock::now() < deadline) ++early;
    }
    sleepUntil(Clock::now() - std::chrono::milliseconds(5));  // a deadline already passed returns at once
    endTimerPeriod1ms();
    EXPECT_EQ(early, 0);
}

// The control loop's sleep wakes before the deadline and waits the rest
// awake: the awake part must never end early either, whether the deadline is
// nearer than that part, just beyond it, or past.
TEST(Sleep, ThePreciseSleepNeverEndsBeforeTheDeadline) {
    using Clock = std::chrono::steady_clock;
    beginTimerPeriod1ms();
    int early = 0;
    for (int i = 0; i < 60; ++i) {
        const auto deadline = Clock::now() + std::chrono::microseconds(50 * i);  // 0 .. 3 ms
        sleepUntilPrecisely(deadline);
        if (Clock::now() < deadline) ++early;
    }
    const auto before = Clock::now();
    sleepUntilPrecisely(before - std::chrono::milliseconds(5));
    EXPECT_LT(Clock::now() - before, std::chrono::milliseconds(5));
    endTimerPeriod1ms();
    EXPECT_EQ(early, 0);
}

// The control loop's thread runs ahead of ordinary work while the loop runs
// and gets its own priority back afterwards (the same thread then closes the
// cycle and prepares the next one, scans included). Whether the system grants
// the raise depends on the account; either way the thread ends as it began.
TEST(ThreadPriority, ARaisedPriorityIsGivenBack) {
    std::string got, again;
    bool restored = false;
    std::thread t([&] {
        auto current = [] {
#ifdef _WIN32
            return ::GetThreadPriority(::GetCurrentThread());
#else
            int policy = 0;
            sched_param sp{};
            ::pthread_getschedparam(::pthread_self(), &policy, &sp);
            return policy * 1000 + sp.sched_priority;
#endif
        };
        const auto before = current();
        got = raiseTimingThreadPriority();
        if (got == "real-time" || got == "highest") again = raiseTimingThreadPriority();
        restoreThreadPriority();
        restored = current() == before;
    });
    t.join();
    EXPECT_TRUE(got == "real-time" || got == "highest" || got.rfind("ordinary (", 0) == 0) << got;
    if (got == "real-time" || got == "highest") {
        EXPECT_EQ(again, got + " already");
    }
    EXPECT_TRUE(restored);
}

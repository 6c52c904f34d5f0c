// The window's command handlers, without a window: their effect on the
// settings, parameters.xml, the status and error lines and the controls.
#include <set>
#include <stdexcept>
#include <thread>

#include "core/files.h"

#include "ui/commands.h"
#include "ui/window_hooks.h"
#include "window_fixture.h"

using namespace vntx;
using namespace vntx::ui;
using vntx::test::WindowTest;

namespace {

class Commands : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        hooks().airportKnown = [](const std::string& code) { return std::set<std::string>{"VHHH", "LSZH"}.count(code) != 0; };
    }
    void enter(const ControlSpec* c, const std::string& text) { runCommand([&] { onEditEnter(c->id, text); }); }
    void click(int id) { handleCommand(id, Notification::Clicked); }
    void choose(int id, const std::string& entry) {
        auto entries = listEntries(id);
        auto it = std::find(entries.begin(), entries.end(), entry);
        ASSERT_NE(it, entries.end()) << entry;
        handleCommand(id, Notification::SelectionChanged, static_cast<int>(it - entries.begin()));
    }
    const ControlSpec* blockBox = findControl("BLOCK_CALLSIGN");
    const ControlSpec* destinationBox = findControl("DESTINATION");
    const ControlSpec* installBox = findControl("ALL_INSTALL_PATH");
};

TEST_F(Commands, ACallsignTypedInLowerCaseIsBlockedInUpperCase) {
    enter(blockBox, "  dlh4ab ");
    EXPECT_EQ(params().BLOCK_CALLSIGN.get(), "DLH4AB");
    EXPECT_EQ(stored("BLOCK_CALLSIGN"), "DLH4AB");
    EXPECT_TRUE(cycleState().blockedCallsignChanged);
    EXPECT_TRUE(enabled(kButtonUnblock));

    cycleState().blockedCallsignChanged = false;
    enter(blockBox, "Dlh4Ab");
    EXPECT_EQ(statusText(), "callsign 'DLH4AB' was already set ...");
    EXPECT_FALSE(cycleState().blockedCallsignChanged) << "no second removal for the same call sign";

    enter(blockBox, "");
    EXPECT_EQ(statusText(), "no more blocking of live aircraft 'DLH4AB'");
    EXPECT_EQ(stored("BLOCK_CALLSIGN"), "");
}

TEST_F(Commands, CallsignsOutsideFourToEightCharactersAreNotValid) {
    for (const char* text : {"ab", "abc", "ABCDEFGHI"}) {
        enter(blockBox, text);
        EXPECT_EQ(statusText(), fmt::format("callsign '{}' is not valid", text));
        EXPECT_EQ(stored("BLOCK_CALLSIGN"), "") << text;
    }
    for (const char* text : {"abcd", "abcdefgh"}) {
        enter(blockBox, text);
        EXPECT_EQ(params().BLOCK_CALLSIGN.get(), toUpper(text));
    }
    EXPECT_NE(log().find("callsign 'ab' is not valid"), std::string::npos);
}

TEST_F(Commands, UnblockWithNothingBlockedSaysSoAndBlockTakesTheChosenCallsign) {
    click(kButtonUnblock);
    EXPECT_EQ(statusText(), "Nothing to block or unblock...");

    WindowSources sources;
    sources.liveCallsigns = [] { return std::vector<std::string>{"klm12", "CPA101", "CPA101", "HDA6"}; };
    setWindowSources(sources);
    fillCallsignList();
    EXPECT_EQ(listEntries(kCallsignList), (std::vector<std::string>{"CPA101", "HDA6", "klm12"}));
    EXPECT_FALSE(enabled(kButtonBlock)) << "nothing chosen yet";
    choose(kCallsignList, "klm12");
    EXPECT_TRUE(enabled(kButtonBlock));
    click(kButtonBlock);
    EXPECT_EQ(stored("BLOCK_CALLSIGN"), "KLM12");
    EXPECT_FALSE(enabled(kButtonBlock));

    // Unblocking gives "Block" back while the call sign is still chosen.
    click(kButtonUnblock);
    EXPECT_EQ(stored("BLOCK_CALLSIGN"), "");
    EXPECT_TRUE(enabled(kButtonBlock));

    // "cs->oid:" asks the next report for a refill; "Block" waits for a new choice.
    click(kButtonCsOid);
    EXPECT_TRUE(cycleState().callsignListRefreshRequested);
    EXPECT_FALSE(enabled(kButtonBlock));
    installWindowHooks();
    hooks().perReportDuties();
    EXPECT_FALSE(cycleState().callsignListRefreshRequested);
    EXPECT_EQ(windowModel().chosenCallsign(), "");
}

TEST_F(Commands, DestinationIsCheckedAgainstTheCatalogueAndStoredInUpperCase) {
    enter(destinationBox, "vhhh");
    EXPECT_EQ(stored("DESTINATION"), "VHHH");
    EXPECT_EQ(statusText(), "New destination: VHHH");
    enter(destinationBox, "VhHh");
    EXPECT_EQ(statusText(), "destination 'VHHH' was already set ...");
    enter(destinationBox, "zzzz");
    EXPECT_EQ(statusText(), "destination 'ZZZZ' is unknown ...");
    EXPECT_EQ(stored("DESTINATION"), "VHHH");
    enter(destinationBox, "vhh");
    EXPECT_EQ(statusText(), "destination 'vhh' is not valid");

    windowModel().setEnabled(kButtonReread, false);
    enter(destinationBox, "");
    EXPECT_EQ(statusText(), "destination set to empty");
    EXPECT_EQ(stored("DESTINATION"), "");
    EXPECT_TRUE(enabled(kButtonReread));
}

TEST_F(Commands, WithoutACatalogueNoDestinationIsKnown) {
    hooks().airportKnown = nullptr;
    enter(destinationBox, "vhhh");
    EXPECT_EQ(statusText(), "destination 'VHHH' is unknown ...");
}

TEST_F(Commands, TheDestinationInForceAtTheStartOfARunIsAppliedOrCleared) {
    params().DESTINATION.set("lszh");
    applyDestination();
    EXPECT_EQ(params().DESTINATION.get(), "LSZH");
    EXPECT_EQ(statusText(), "New destination: LSZH");

    params().DESTINATION.set("EDDF");
    params().writeParameter(params().DESTINATION);
    applyDestination();
    EXPECT_EQ(statusText(), "destination 'EDDF' is unknown ...");
    EXPECT_EQ(stored("DESTINATION"), "");
}

TEST_F(Commands, ScanSwitchedOnBeforeRealTrafficRestartsAfterItOnlyAnnounces) {
    const int box = findControl("SCAN_AIRPORTS")->id;
    params().SCAN_AIRPORTS.set(false);
    click(box);
    EXPECT_EQ(stored("SCAN_AIRPORTS"), "true");
    EXPECT_EQ(statusText(), "Your airports will be scanned");
    EXPECT_TRUE(stopRequested());
    EXPECT_EQ(exitReason(), ExitReason::NewSettings);
    EXPECT_EQ(restartDelaySeconds(), 2);

    // The start-up mark ends when the RealTraffic handshake has connected.
    resetStopState();
    hooks().realTrafficHandshake = [] { indicators().realTraffic = true; };
    installWindowHooks();
    hooks().realTrafficHandshake();
    EXPECT_FALSE(indicators().startupMark);
    click(box);  // off: nothing to say
    click(box);
    EXPECT_EQ(statusText(), "Your airports will be scanned at the next start of Ventrix_P3D");
    EXPECT_FALSE(stopRequested());
}

TEST_F(Commands, AHandshakeThatDidNotConnectKeepsTheStartupMark) {
    hooks().realTrafficHandshake = [] {};
    installWindowHooks();
    hooks().realTrafficHandshake();
    EXPECT_TRUE(indicators().startupMark);
}

TEST_F(Commands, AnErrorLineHidesStatusTextsUntilAnInstallPathIsEntered) {
    showError("reading airports failed!");
    click(findControl("AIRBORNE_ONLY")->id);
    EXPECT_EQ(stored("AIRBORNE_ONLY"), "true") << "the command still works";
    EXPECT_EQ(statusText(), "");
    EXPECT_EQ(log().find("Be aware, airborne"), std::string::npos) << "a status that is not shown is not logged";

    enter(installBox, (dir / "missing").string());
    EXPECT_EQ(errorText(), "");
    EXPECT_EQ(statusText(), "This install path does not exist: " + (dir / "missing").string());
    EXPECT_FALSE(stopRequested());

    showError("wrong P3D version");
    enter(installBox, dir.path().string());
    EXPECT_EQ(errorText(), "");
    EXPECT_EQ(stored("SIM_INSTALL_PATH"), dir.path().string());
    EXPECT_EQ(statusText(), "Install path exists, Ventrix_P3D will restart");
    EXPECT_EQ(exitReason(), ExitReason::NewSettings);
    EXPECT_EQ(restartDelaySeconds(), 3);
}

// Closing waits for the user after a system error; a valid install path typed
// then must bring the restart the window announces.
TEST_F(Commands, AnInstallPathTypedWhileAnErrorWaitsRestartsTheCycle) {
    showError("No P3D install path detected, type full Install Path above, and press Enter");
    forceExitReason(ExitReason::SystemError);
    std::thread closing([] { lf_closingDown(); });
    enter(installBox, dir.path().string());
    // Half a second of closing and the 3-second countdown; a closing that
    // keeps waiting for the user is released by a close after the time-out.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (window.starts + window.ends == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (window.starts + window.ends == 0) requestStop(ExitReason::UserClosedSim, 0);
    closing.join();
    EXPECT_EQ(window.starts, 1);
    EXPECT_EQ(window.ends, 0);
    const std::string text = log();
    EXPECT_NE(text.find("Restarting after 3 seconds"), std::string::npos) << text;
    EXPECT_EQ(text.find("User closed"), std::string::npos) << text;
}

TEST_F(Commands, ListsStoreTheChoiceAtThePosition) {
    choose(params().RANGE.controlId, "25");
    EXPECT_EQ(stored("RANGE"), "25");
    EXPECT_DOUBLE_EQ(params().rangeMeters.load(), 25 * 1852.0);

    const int fit = params().MAX_FIT_FL.controlId;
    for (auto [hours, halfHours] : {std::pair{"0.5", "0"}, std::pair{"1.5", "2"}, std::pair{"24", "47"}}) {
        choose(fit, hours);
        EXPECT_EQ(stored("MAX_FIT"), halfHours) << hours;
    }
    // A position outside the list (no selection) changes nothing.
    handleCommand(params().AIRP_RANGE.controlId, Notification::SelectionChanged, -1);
    handleCommand(params().AIRP_RANGE.controlId, Notification::SelectionChanged, 6);
    EXPECT_EQ(params().AIRP_RANGE.get(), 20);
}

TEST_F(Commands, ListStateFollowsTheSettingAndKeepsItForAValueOffTheList) {
    const auto* range = findControl("RANGE");
    params().RANGE.set(25);
    auto s = windowModel().state(*range);
    EXPECT_EQ(s.entries[static_cast<std::size_t>(s.selected)], "25");
    params().RANGE.set(7);  // read from the file, not a choice
    EXPECT_EQ(windowModel().state(*range).selected, -1);
    params().MAX_FIT_FL.set(halfHoursToHours(20));  // 11 hours: not a choice either
    EXPECT_EQ(windowModel().state(*findControl("MAX_FIT_FL")).selected, -1);
}

TEST_F(Commands, CheckBoxesToggleWriteAndWarn) {
    const int air = findControl("COLLISION_USER_AIR")->id;
    click(air);
    EXPECT_EQ(stored("COLLISION_USER_AIR"), "false");
    EXPECT_EQ(statusText(), "Be aware, user aircraft may collide with (run through) live aircraft in the air");
    clearStatus();
    click(air);
    EXPECT_EQ(stored("COLLISION_USER_AIR"), "true");
    EXPECT_EQ(statusText(), "");

    click(findControl("ALWAYS_ON_TOP")->id);
    click(findControl("ALWAYS_ON_TOP")->id);
    EXPECT_EQ(window.topMost, (std::vector<bool>{true, false}));
    EXPECT_EQ(statusText(), "");

    // A setting without a control of the window is no check box.
    EXPECT_FALSE(onCheckBox(params().AFG_AUTOMATIC.controlId));
    EXPECT_EQ(stored("AFG_AUTOMATIC"), "true");
}

TEST_F(Commands, AutoRangeSwapsTheEnabledListsAndComputesTheRange) {
    WindowSources sources;
    sources.userOnGround = [] { return true; };
    setWindowSources(sources);
    const int box = findControl("AUTO_RANGE")->id;
    click(box);  // on by default: now off
    EXPECT_TRUE(enabled(params().RANGE.controlId));
    EXPECT_FALSE(enabled(params().AR_ABOVE_HEIGHT.controlId));
    EXPECT_EQ(params().RANGE.get(), 40);
    click(box);
    EXPECT_FALSE(enabled(params().RANGE.controlId));
    EXPECT_TRUE(enabled(params().AR_ABOVE_HEIGHT.controlId));
    EXPECT_EQ(params().RANGE.get(), 10);
    EXPECT_DOUBLE_EQ(params().rangeMeters.load(), 10 * 1852.0);
}

TEST(AutoRange, FirstRuleThatApplies) {
    auto range = [](bool ground, double alt, std::optional<double> sight) {
        return autoRangeFor({ground, alt, 30000, 10000, sight});
    };
    EXPECT_EQ(range(true, 40000, 2.0), 10);
    EXPECT_EQ(range(false, 30001, 2.0), 100);
    EXPECT_EQ(range(false, 30000, 2.0), 40) << "at the height is not above it";
    EXPECT_EQ(range(false, 10000, 2.0), 10) << "at AIRP_HEIGHT the airport rule applies";
    EXPECT_EQ(range(false, 5000, std::nullopt), 40);
    EXPECT_EQ(range(false, 5000, 7.0), 10);
    EXPECT_EQ(range(false, 5000, 7.4), 10);   // 7 + 3
    EXPECT_EQ(range(false, 5000, 20.4), 25);  // 23
    EXPECT_EQ(range(false, 5000, 36.9), 40);  // 37 + 3
    EXPECT_EQ(range(false, 5000, 37.0), 40);
}

TEST_F(Commands, ReReadWaitsForTheStaticDutyThenGivesTheControlsBack) {
    int reads = 0;
    hooks().readParkAirports = [&] { ++reads; };
    windowModel().setEnabled(params().DESTINATION.controlId, true);
    installWindowHooks();
    click(kButtonReread);
    EXPECT_FALSE(enabled(kButtonReread));
    EXPECT_FALSE(enabled(params().DESTINATION.controlId));
    EXPECT_EQ(reads, 0);
    hooks().pauseCountdownDone();  // once a second while the flight is paused
    EXPECT_EQ(reads, 1);
    EXPECT_TRUE(enabled(kButtonReread));
    EXPECT_TRUE(enabled(params().DESTINATION.controlId));
    hooks().staticDuties15();
    EXPECT_EQ(reads, 1) << "one re-read per press";
}

TEST_F(Commands, FlushNowAndTblo) {
    windowModel().setEnabled(kButtonFlushStatic, true);
    click(kButtonFlushStatic);
    EXPECT_EQ(statusText(), "All static parked aircraft will be removed ...");
    EXPECT_FALSE(enabled(kButtonFlushStatic));
    EXPECT_TRUE(cycleState().flushStaticRequested);

    click(kButtonNow);
    EXPECT_EQ(statusText(), "Ventrix_P3D will update static parking in 15 seconds ...");
    EXPECT_TRUE(cycleState().staticUpdateRequested);

    click(kButtonTblo);  // no archive in this folder
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].first, "Could not open File Explorer at tblo.zip.");
    EXPECT_EQ(window.boxes[0].second, "VNTX");
}

TEST_F(Commands, AnExceptionInACommandIsLoggedAndTheWindowGoesOn) {
    hooks().airportKnown = [](const std::string&) -> bool { throw std::runtime_error("catalogue gone"); };
    enter(destinationBox, "vhhh");
    EXPECT_NE(log().find("==> lf_HandleWMCOMMAND exception catalogue gone"), std::string::npos);
    enter(blockBox, "abcd");
    EXPECT_EQ(stored("BLOCK_CALLSIGN"), "ABCD");
}

}  // namespace

// Win32-only behaviour of the platform layer: registry value types written by
// other programs, the single-instance mutex's namespace, wide text.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "platform/platform.h"
#include "platform/win32/wide.h"
#include "support/temp_dir.h"

using namespace vntx::platform;

namespace {

// A test key under HKCU, deleted with everything below it at the end.
struct TestKey {
    std::wstring path = L"Software\\Ventrix_P3D_Test\\" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
                        std::to_wstring(::GetTickCount64());
    HKEY key = nullptr;
    TestKey() {
        ::RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr,
                          &key, nullptr);
    }
    ~TestKey() {
        ::RegCloseKey(key);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
    }
    std::string utf8() const { return win32::narrow(path); }
    void set(const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
        ASSERT_EQ(::RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), bytes), ERROR_SUCCESS);
    }
};

}  // namespace

TEST(Win32Registry, ReadsDwordExpandableAndUnterminatedStrings) {
    TestKey k;
    ASSERT_NE(k.key, nullptr);
    DWORD port = 500;
    k.set(L"Port", REG_DWORD, &port, sizeof port);
    const wchar_t expandable[] = L"%SystemRoot%\\x";
    k.set(L"Expand", REG_EXPAND_SZ, expandable, sizeof expandable);
    // Written without its terminator, as some installers do.
    const wchar_t bare[] = {L'C', L':', L'\\', L'P', L'3', L'D'};
    k.set(L"Bare", REG_SZ, bare, sizeof bare);
    const BYTE blob[] = {1, 2, 3};
    k.set(L"Blob", REG_BINARY, blob, sizeof blob);

    EXPECT_EQ(registryReadString(RegistryHive::CurrentUser, k.utf8(), "Port").value_or("?"), "500");
    auto expanded = registryReadString(RegistryHive::CurrentUser, k.utf8(), "Expand").value_or("");
    EXPECT_EQ(expanded.find('%'), std::string::npos) << expanded;
    EXPECT_TRUE(expanded.ends_with("\\x")) << expanded;
    EXPECT_EQ(registryReadString(RegistryHive::CurrentUser, k.utf8(), "Bare").value_or("?"), "C:\\P3D");
    EXPECT_FALSE(registryReadString(RegistryHive::CurrentUser, k.utf8(), "Blob").has_value());
}

TEST(Win32Registry, LongValuesAreReadInFull) {
    TestKey k;
    std::wstring longText(5000, L'a');
    longText += L"Ω";
    k.set(L"Long", REG_SZ, longText.c_str(), static_cast<DWORD>((longText.size() + 1) * sizeof(wchar_t)));
    auto got = registryReadString(RegistryHive::CurrentUser, k.utf8(), "Long").value_or("");
    EXPECT_EQ(got.size(), 5000u + 2u);  // Ω is two bytes of UTF-8
    EXPECT_TRUE(got.ends_with("aΩ"));
}

TEST(Win32InstanceLock, TheMutexIsVisibleToOtherProcessesByName) {
    const std::string name = "Local\\$VNTX_TEST_" + std::to_string(::GetCurrentProcessId()) + "$";
    auto lock = InstanceLock::acquire(name);
    ASSERT_NE(lock, nullptr);
    HANDLE h = ::OpenMutexW(SYNCHRONIZE, FALSE, win32::widen(name).c_str());
    EXPECT_NE(h, nullptr);
    if (h) ::CloseHandle(h);
    lock.reset();
    h = ::OpenMutexW(SYNCHRONIZE, FALSE, win32::widen(name).c_str());
    EXPECT_EQ(h, nullptr);  // gone with the last handle
    if (h) ::CloseHandle(h);
}

TEST(Win32Text, ConversionsKeepEveryCharacterAndReplaceBrokenInput) {
    const std::string text = "Zürich ✈ 東京 😀";
    EXPECT_EQ(win32::narrow(win32::widen(text)), text);
    EXPECT_EQ(win32::widen("ü"), std::wstring(L"\u00fc"));
    EXPECT_EQ(win32::widen("😀").size(), 2u);  // a surrogate pair
    // A stray continuation byte is replaced, not dropped with the rest.
    EXPECT_EQ(win32::widen("a\x80z"), std::wstring(L"a\ufffdz"));
    EXPECT_TRUE(win32::widen("").empty());
}

// The program runs with UTF-8 as its own code page (its manifest, linked into
// this test too); the simulator reads narrow paths in the system's.
TEST(Win32NarrowPaths, SpeltInTheSystemCodePageOrShortOrNotAtAll) {
    vntx::test::TempDir dir(false);
    const UINT cp = narrowCodePage();
    ASSERT_NE(cp, static_cast<UINT>(CP_UTF8)) << "Wine's or Windows' system code page is UTF-8 here";
    auto widenIn = [cp](const std::string& s) {
        std::wstring w(s.size(), L'\0');
        w.resize(static_cast<std::size_t>(
            ::MultiByteToWideChar(cp, 0, s.data(), static_cast<int>(s.size()), w.data(), static_cast<int>(w.size()))));
        return w;
    };
    // Letters the code page has: spelt in it, one byte for "ü" in a Western page, not UTF-8's two.
    if (cp == 1252) {
        const auto juergen = dir.path() / L"J\u00fcrgen" / L"1.pln";
        auto narrow = pathToNarrowCodePage(juergen);
        ASSERT_TRUE(narrow.has_value());
        EXPECT_NE(narrow->find("J\xFCrgen"), std::string::npos);
        EXPECT_EQ(widenIn(*narrow), juergen.native());
        EXPECT_EQ(pathFromNarrowCodePage(*narrow), juergen);
    }
    // Letters it lacks: a file that exists goes by its short name, plain ASCII;
    // one that does not exist has no spelling, rather than a look-alike one.
    const auto folder = dir.path() / L"\u5c71\u7530 \u042e\u0440\u0438\u0439";
    std::filesystem::create_directories(folder);
    vntx::test::writeFile(folder / "2.pln", "plan");
    auto shortForm = pathToNarrowCodePage(folder / "2.pln");
    ASSERT_TRUE(shortForm.has_value());
    for (unsigned char c : *shortForm) EXPECT_LT(c, 0x80u) << *shortForm;
    EXPECT_TRUE(std::filesystem::equivalent(pathFromNarrowCodePage(*shortForm), folder / "2.pln")) << *shortForm;
    EXPECT_FALSE(pathToNarrowCodePage(folder / "3.pln").has_value());
}

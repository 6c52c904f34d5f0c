// The Win32 main window front end, driven through its own message loop.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/status.h"
#include "platform/win32/main_window.h"
#include "ui/window_model.h"

using vntx::win32::MainWindow;
using vntx::win32::WindowHandlers;

namespace {

struct Recorder {
    std::vector<std::string> events;
    DWORD startThread = 0;
};

class MainWindowTest : public ::testing::Test {
protected:
    void TearDown() override {
        vntx::clearError();
        vntx::clearStatus();
    }
    HINSTANCE instance() { return ::GetModuleHandleW(nullptr); }

    // A created window whose three handlers record what they were called for;
    // the end-program handler ends the loop with 7, as closing down would.
    std::unique_ptr<MainWindow> openWindow(Recorder& rec, int x = 100, int y = 50) {
        WindowHandlers h;
        h.startCycle = [&rec] {
            rec.events.push_back("start");
            rec.startThread = ::GetCurrentThreadId();
        };
        h.closeButton = [&rec] { rec.events.push_back("close"); };
        h.endProgram = [&rec, this] {
            rec.events.push_back("end");
            window_->quit(7);
        };
        auto w = std::make_unique<MainWindow>(instance(), SW_SHOWNOACTIVATE, h);
        window_ = w.get();
        auto title = w->loadTitle();
        EXPECT_TRUE(title.has_value());
        EXPECT_TRUE(w->registerWindowClass(title.value_or("x")));
        EXPECT_TRUE(w->createMainWindow(title.value_or("x"), x, y));
        return w;
    }

    MainWindow* window_ = nullptr;
};

struct Pixels {
    int width, height;
    std::vector<COLORREF> rgb;
    COLORREF at(int x, int y) const { return rgb[static_cast<std::size_t>(y * width + x)]; }
    int count(COLORREF c, int y0, int y1) const {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = 0; x < width; ++x) n += at(x, y) == c;
        return n;
    }
};

// Renders the window's painting into a 32-bit bitmap and reads it back.
Pixels render(MainWindow& w, int width, int height) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;  // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC dc = ::CreateCompatibleDC(nullptr);
    HBITMAP bmp = ::CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(dc, bmp);
    w.paint(dc, width, height);
    ::GdiFlush();
    Pixels p{width, height, {}};
    auto* px = static_cast<const std::uint32_t*>(bits);
    for (int i = 0; i < width * height; ++i) {
        std::uint32_t v = px[i];
        p.rgb.push_back(RGB((v >> 16) & 0xff, (v >> 8) & 0xff, v & 0xff));
    }
    ::SelectObject(dc, old);
    ::DeleteObject(bmp);
    ::DeleteDC(dc);
    return p;
}

}  // namespace

TEST_F(MainWindowTest, ResourcesGiveTheTitleAndTheIcon) {
    MainWindow w(instance(), SW_HIDE, {});
    EXPECT_EQ(w.loadTitle().value_or(""), "Ventrix_P3D");
    EXPECT_NE(::LoadIconW(instance(), MAKEINTRESOURCEW(100)), nullptr);
}

TEST_F(MainWindowTest, WindowHasTheFixedSizeStyleAndBlackClass) {
    Recorder rec;
    auto w = openWindow(rec, 120, 60);
    HWND h = w->hwnd();
    ASSERT_NE(h, nullptr);
    auto r = w->windowRect();
    EXPECT_EQ(r.right - r.left, vntx::kMainWindowWidth);
    EXPECT_EQ(r.bottom - r.top, vntx::kMainWindowHeight);
    EXPECT_EQ(r.left, 120);
    EXPECT_EQ(r.top, 60);

    LONG_PTR style = ::GetWindowLongPtrW(h, GWL_STYLE);
    EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);

    wchar_t name[64] = {}, text[64] = {};
    ::GetClassNameW(h, name, 64);
    ::GetWindowTextW(h, text, 64);
    EXPECT_EQ(std::wstring(name), L"Ventrix_P3D");
    EXPECT_EQ(std::wstring(text), L"Ventrix_P3D");
    EXPECT_EQ(reinterpret_cast<HGDIOBJ>(::GetClassLongPtrW(h, GCLP_HBRBACKGROUND)), ::GetStockObject(BLACK_BRUSH));
    EXPECT_EQ(::GetClassLongPtrW(h, GCL_STYLE) & (CS_HREDRAW | CS_VREDRAW), CS_HREDRAW | CS_VREDRAW);
    EXPECT_NE(::GetClassLongPtrW(h, GCLP_HICON), 0);
}

TEST_F(MainWindowTest, CycleMessagesReachTheirHandlersAndCloseKeepsTheWindow) {
    Recorder rec;
    auto w = openWindow(rec);
    HWND h = w->hwnd();
    w->postStartCycle();
    ::PostMessageW(h, WM_CLOSE, 0, 0);
    w->postEndProgram();
    EXPECT_EQ(w->runMessageLoop(), 7);
    EXPECT_EQ(rec.events, (std::vector<std::string>{"start", "close", "end"}));
    EXPECT_FALSE(::IsWindow(h));
    EXPECT_EQ(w->hwnd(), nullptr);
}

TEST_F(MainWindowTest, CloseButtonAloneDoesNotEndTheProgram) {
    Recorder rec;
    auto w = openWindow(rec);
    ::SendMessageW(w->hwnd(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(::IsWindow(w->hwnd()));
    EXPECT_EQ(rec.events, std::vector<std::string>{"close"});
}

TEST_F(MainWindowTest, OtherThreadsPostToTheUiThreadAndRepaint) {
    Recorder rec;
    auto w = openWindow(rec);
    std::thread cycle([&] {
        w->repaint();
        vntx::showStatus("from the cycle", false);
        w->postStartCycle();
        w->postEndProgram();
    });
    vntx::setFrontEnd(w.get());
    EXPECT_EQ(w->runMessageLoop(), 7);
    cycle.join();
    vntx::setFrontEnd(nullptr);
    EXPECT_EQ(rec.events, (std::vector<std::string>{"start", "end"}));
    EXPECT_EQ(rec.startThread, ::GetCurrentThreadId());
}

TEST_F(MainWindowTest, AThrowingHandlerDoesNotEndTheLoop) {
    WindowHandlers h;
    int calls = 0;
    MainWindow* self = nullptr;
    h.startCycle = [&] {
        ++calls;
        throw std::runtime_error("boom");
    };
    h.endProgram = [&] { self->quit(3); };
    MainWindow w(instance(), SW_SHOWNOACTIVATE, h);
    self = &w;
    ASSERT_TRUE(w.registerWindowClass("Ventrix_P3D"));
    ASSERT_TRUE(w.createMainWindow("Ventrix_P3D", 0, 0));
    w.postStartCycle();
    w.postEndProgram();
    EXPECT_EQ(w.runMessageLoop(), 3);
    EXPECT_EQ(calls, 1);
}

TEST_F(MainWindowTest, StatusIsPaintedLimeAndErrorYellowOnBlack) {
    MainWindow w(instance(), SW_HIDE, {});
    const int width = 874, height = 487;
    const int statusTop = vntx::ui::kStatusLineY, errorTop = vntx::ui::kErrorLineY;

    vntx::clearError();
    vntx::clearStatus();
    auto empty = render(w, width, height);
    EXPECT_EQ(empty.count(vntx::win32::kLime, statusTop, statusTop + 16), 0);
    EXPECT_EQ(empty.count(vntx::win32::kYellow, errorTop, errorTop + 16), 0);
    EXPECT_EQ(empty.at(width - 1, height - 1), RGB(0, 0, 0));
    EXPECT_EQ(empty.at(200, 300), RGB(0, 0, 0));
    EXPECT_GT(empty.count(vntx::win32::kLime, 0, 30), 0);  // the version line

    vntx::showStatus("Prepare for a restart ...", false);
    auto status = render(w, width, height);
    EXPECT_GT(status.count(vntx::win32::kLime, statusTop, statusTop + 16), 20);
    EXPECT_EQ(status.count(vntx::win32::kYellow, errorTop, errorTop + 16), 0);

    vntx::showError("reading airports failed!");
    auto error = render(w, width, height);
    EXPECT_GT(error.count(vntx::win32::kYellow, errorTop, errorTop + 16), 20);
    // The error line replaces the status line.
    EXPECT_EQ(error.count(vntx::win32::kLime, statusTop, statusTop + 16), 0);
}

// Proves the Windows half of the test set-up: real GDI and USER code runs under
// Wine, off screen and on the X display, and the tests can reach the sources.
#include <windows.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

namespace {

// Owns a memory DC with a bitmap selected into it; restores the DC's original
// bitmap before deleting either, so neither leaks nor is deleted while selected.
class MemoryCanvas {
public:
    MemoryCanvas(int width, int height) {
        HDC screen = GetDC(nullptr);
        dc_ = CreateCompatibleDC(screen);
        bitmap_ = CreateCompatibleBitmap(screen, width, height);
        ReleaseDC(nullptr, screen);
        if (dc_ && bitmap_) previous_ = SelectObject(dc_, bitmap_);
    }
    ~MemoryCanvas() {
        if (dc_ && previous_) SelectObject(dc_, previous_);
        if (dc_) DeleteDC(dc_);
        if (bitmap_) DeleteObject(bitmap_);
    }
    MemoryCanvas(const MemoryCanvas&) = delete;
    MemoryCanvas& operator=(const MemoryCanvas&) = delete;

    bool ok() const { return dc_ && bitmap_ && previous_; }
    HDC dc() const { return dc_; }

private:
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
};

TEST(MemoryDc, SolidFillReadsBackAsItsColour) {
    MemoryCanvas canvas(64, 48);
    ASSERT_TRUE(canvas.ok());

    struct Case {
        COLORREF colour;
        RECT rect;
    };
    const Case cases[] = {
        {RGB(255, 0, 0), {0, 0, 64, 48}},
        {RGB(0, 128, 255), {10, 10, 20, 20}},
        {RGB(0, 0, 0), {63, 47, 64, 48}},  // the last pixel only
    };
    for (const Case& c : cases) {
        HBRUSH brush = CreateSolidBrush(c.colour);
        ASSERT_NE(brush, nullptr);
        EXPECT_NE(FillRect(canvas.dc(), &c.rect, brush), 0);
        DeleteObject(brush);
        EXPECT_EQ(GetPixel(canvas.dc(), c.rect.left, c.rect.top), c.colour);
        EXPECT_EQ(GetPixel(canvas.dc(), c.rect.right - 1, c.rect.bottom - 1), c.colour);
    }
    // FillRect leaves the right and bottom edges out: (20, 20) is still red.
    EXPECT_EQ(GetPixel(canvas.dc(), 20, 20), RGB(255, 0, 0));
    // Outside the bitmap there is no pixel to read.
    EXPECT_EQ(GetPixel(canvas.dc(), 64, 0), CLR_INVALID);
}

TEST(MemoryDc, HasTheScreenColourDepth) {
    MemoryCanvas canvas(8, 8);
    ASSERT_TRUE(canvas.ok());
    EXPECT_GT(GetDeviceCaps(canvas.dc(), BITSPIXEL), 0);
    EXPECT_EQ(GetDeviceCaps(canvas.dc(), TECHNOLOGY), DT_RASDISPLAY);
}

LRESULT CALLBACK ProofWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    return DefWindowProcA(window, message, wparam, lparam);
}

// Windows need the X server; this fails when no display is there.
TEST(Display, RealWindowCanBeCreatedShownAndDestroyed) {
    const char* const class_name = "KovPlatformProofWindow";
    WNDCLASSA wc = {};
    wc.lpfnWndProc = ProofWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = class_name;
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    ASSERT_NE(RegisterClassA(&wc), 0) << "RegisterClassA failed, error " << GetLastError();

    HWND window = CreateWindowExA(0, class_name, "KOV platform proof", WS_OVERLAPPEDWINDOW, 10, 20, 320, 200, nullptr,
                                  nullptr, wc.hInstance, nullptr);
    ASSERT_NE(window, nullptr) << "CreateWindowExA failed (is an X display set?), error " << GetLastError();
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    EXPECT_TRUE(IsWindowVisible(window));

    RECT client = {};
    ASSERT_TRUE(GetClientRect(window, &client));
    EXPECT_GT(client.right, 0);
    EXPECT_GT(client.bottom, 0);

    char title[64] = {};
    GetWindowTextA(window, title, sizeof title);
    EXPECT_STREQ(title, "KOV platform proof");

    EXPECT_TRUE(DestroyWindow(window));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(UnregisterClassA(class_name, wc.hInstance));
}

// Tests find samples/ through KOV_SOURCE_DIR with the C library's fopen, as the
// analysis opens media files.
TEST(SourceDir, IsReadableThroughTheCLibrary) {
    const std::string path = std::string(KOV_SOURCE_DIR) + "/CMakeLists.txt";
    FILE* file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr) << path;
    char head[32] = {};
    const size_t got = std::fread(head, 1, sizeof head - 1, file);
    std::fclose(file);
    EXPECT_GT(got, 0u);
    EXPECT_NE(std::string(head).find("cmake_minimum_required"), std::string::npos);
}

}  // namespace

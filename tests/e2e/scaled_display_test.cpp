// The real window on scaled displays (LogPixels 144 and 192 in the prefix):
// region by region it must look like the 96-DPI window scaled up, with its
// pictures at the new size: the banner up to the white corner, the heading
// picture over its label, a full bar meeting its end cap.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "harness.h"

namespace tessaloom::test {
namespace {

// The client area as the screen shows it, 0x00RRGGBB, top-down.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
    [[nodiscard]] int Channel(int x, int y, int shift) const {
        return static_cast<int>((pixels[static_cast<std::size_t>(y) * width + x] >> shift) & 0xFF);
    }
};

Image CaptureClient(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    Image image{client.right, client.bottom, {}};
    image.pixels.resize(static_cast<std::size_t>(image.width) * image.height);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, image.width, image.height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, image.width, image.height, screen, origin.x, origin.y, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), image.width, -image.height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(image.height), image.pixels.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return image;
}

// The updater at a DPI, after "Update": every file applied, the bar full,
// its message moved out of the way. Saves the window for people to look at.
Image WindowWithAFullBar(DWORD dpi) {
    LogPixels display(dpi);
    Sandbox sandbox(L"dpi");
    sandbox.WriteUpdateList("path\r\nTessaloom.exe\r\nTessaloomCore.dll\r\n");
    sandbox.WriteNewFile(L"Tessaloom.exe", "new");
    sandbox.WriteNewFile(L"TessaloomCore.dll", "new");
    UpdaterRun run(sandbox, L" " + sandbox.MainProgram());
    HWND window = run.WaitForWindow(L"Tessaloom UPDATES");
    if (window == nullptr) {
        ADD_FAILURE() << "no window at " << dpi << " DPI";
        return {};
    }
    Click(FindChild(window, L"Button", L"Update"));
    HWND box = run.WaitForMessageBox();
    if (box == nullptr) {
        ADD_FAILURE() << "no message at " << dpi << " DPI";
        return {};
    }
    SetWindowPos(box, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    Sleep(400);  // the uncovered part of the window repaints
    const std::wstring folder = std::wstring(TESSALOOM_BUILD_DIR) + L"\\ui-screenshots";
    CreateDirectoryW(folder.c_str(), nullptr);
    SaveScreenshot(window, folder + L"\\dpi_" + std::to_wstring(dpi) + L".bmp");
    Image shot = CaptureClient(window);
    DismissMessageBox(box);
    run.WaitForExit();
    return shot;
}

struct Region {
    const char* name;
    int left, top, width, height;  // in pixels at 96 DPI
};

// The scaled window's region brought back to 96-DPI pixels by averaging the
// area each 96-DPI pixel covers, one channel at a time.
std::vector<double> Reduced(const Image& image, const Region& region, double scale, int shift) {
    std::vector<double> out;
    for (int y = region.top; y < region.top + region.height; ++y) {
        for (int x = region.left; x < region.left + region.width; ++x) {
            double sum = 0;
            double area = 0;
            for (int sy = static_cast<int>(y * scale); sy < std::ceil((y + 1) * scale); ++sy) {
                const double h = std::min(sy + 1.0, (y + 1) * scale) - std::max<double>(sy, y * scale);
                for (int sx = static_cast<int>(x * scale); sx < std::ceil((x + 1) * scale); ++sx) {
                    const double w = std::min(sx + 1.0, (x + 1) * scale) - std::max<double>(sx, x * scale);
                    sum += w * h * image.Channel(sx, sy, shift);
                    area += w * h;
                }
            }
            out.push_back(sum / area);
        }
    }
    return out;
}

// The largest difference between the two windows' mean colours over blocks
// of 10 x 10 pixels at 96 DPI: text drawn at another size differs a little
// everywhere, a picture missing or in the wrong place differs a lot in a block.
double WorstBlock(const Image& at96, const Image& scaled, const Region& region, double scale) {
    constexpr int kBlock = 10;
    double worst = 0;
    for (const int shift : {0, 8, 16}) {
        const std::vector<double> expected = Reduced(at96, region, 1.0, shift);
        const std::vector<double> actual = Reduced(scaled, region, scale, shift);
        for (int by = 0; by < region.height; by += kBlock) {
            for (int bx = 0; bx < region.width; bx += kBlock) {
                double difference = 0;
                int count = 0;
                for (int y = by; y < std::min(by + kBlock, region.height); ++y) {
                    for (int x = bx; x < std::min(bx + kBlock, region.width); ++x) {
                        const std::size_t i = static_cast<std::size_t>(y) * region.width + x;
                        difference += actual[i] - expected[i];
                        ++count;
                    }
                }
                worst = std::max(worst, std::abs(difference / count));
            }
        }
    }
    return worst;
}

TEST(ScaledDisplay, At144And192DpiTheWindowIsThe96DpiWindowScaled) {
    const Image at96 = WindowWithAFullBar(96);
    ASSERT_EQ(at96.width, 392);
    ASSERT_EQ(at96.height, 396);
    const Region regions[] = {
        {"banner up to the white corner", 0, 0, 340, 96},
        {"title band", 0, 96, 392, 44},
        {"list heading", 7, 148, 202, 30},
        {"progress row with a full bar", 8, 324, 373, 17},
    };
    for (const DWORD dpi : {144U, 192U}) {
        const Image scaled = WindowWithAFullBar(dpi);
        const double scale = dpi / 96.0;
        ASSERT_EQ(scaled.width, static_cast<int>(std::lround(392 * scale))) << dpi;
        ASSERT_EQ(scaled.height, static_cast<int>(std::lround(396 * scale))) << dpi;
        for (const Region& region : regions) {
            const double worst = WorstBlock(at96, scaled, region, scale);
            std::printf("%lu DPI, %s: worst block differs by %.1f\n", dpi, region.name, worst);
            // Measured: at most about 42 when the pictures scale (text drawn at
            // another size), 76 and more when they keep their 96-DPI size.
            EXPECT_LT(worst, 60.0) << region.name << " at " << dpi << " DPI";
        }
    }
}

}  // namespace
}  // namespace tessaloom::test

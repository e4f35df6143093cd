#include "ui/layout.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "ui/resources/resource_ids.h"

namespace tessaloom::ui {
namespace {

constexpr std::wstring_view kForm = kFormName;
constexpr std::wstring_view kPanel = L"Frame1_up";
constexpr std::uint32_t kWhite = Rgb(255, 255, 255);

using enum ControlKind;

// A setting left out of a row takes the default of ControlRow.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
// Design-time colours of the window, the panel, the buttons and the outlines
// are the system's defaults; the theme replaces them while the window loads.
constexpr std::array kRows = std::to_array<ControlRow>({
    {.name = kForm, .kind = Window, .width = 5880, .height = 5940, .caption = L"Tessaloom UPDATES",
     .picture = IDI_WINDOW, .format = PictureFormat::Icon},

    // Placed directly on the window, front first.
    {.name = L"Command2", .kind = Button, .container = kForm, .left = 3105, .top = 5385, .width = 1260, .height = 480,
     .caption = L"Cancel", .font = FontStyle::Bold, .foreColour = kButtonText, .tabIndex = 5},
    {.name = L"Command1", .kind = Button, .container = kForm, .left = 1125, .top = 5385, .width = 1260, .height = 480,
     .caption = L"Update", .font = FontStyle::Bold, .foreColour = kButtonText, .tabIndex = 4},
    {.name = kPanel, .kind = Panel, .container = kForm, .left = 45, .top = 2160, .width = 5775, .height = 3090,
     .caption = L"Frame1", .tabIndex = 0},
    {.name = L"Shape2", .kind = Rectangle, .container = kForm, .left = 5100, .top = 60, .width = 795, .height = 915,
     .backColour = kWindowBackground, .opaque = true, .borderColour = kWhite, .borderPixels = 1},
    {.name = L"Image2", .kind = Picture, .container = kForm, .left = 1140, .top = 1545, .width = 3315, .height = 420,
     .picture = IDB_TITLE, .format = PictureFormat::Bitmap},
    {.name = L"Image9", .kind = Picture, .container = kForm, .left = 6555, .top = 3210, .width = 1350, .height = 1035,
     .picture = IDR_GLOBE_GIF, .format = PictureFormat::Gif},
    {.name = L"Shape1", .kind = Rectangle, .container = kForm, .left = -15, .top = 1440, .width = 5895, .height = 660,
     .backColour = kWindowBackground, .opaque = true},
    {.name = L"Image6", .kind = Picture, .container = kForm, .left = -30, .top = 0, .width = 5910, .height = 1440,
     .picture = IDB_BANNER, .format = PictureFormat::Bitmap},
    {.name = L"Image7", .kind = Picture, .container = kForm, .left = 5145, .top = 540, .width = 2250, .height = 285,
     .picture = IDB_WEB_ADDRESS, .format = PictureFormat::Bitmap, .toolTip = L"click to connect to web site"},
    {.name = L"Shape7", .kind = RoundedRectangle, .container = kForm, .left = 5430, .top = 585, .width = 2400,
     .height = 315, .backColour = kWhite, .opaque = true, .borderColour = kInactiveCaption, .borderPixels = 1},

    // Inside the panel, front first.
    {.name = L"List_up", .kind = ListBox, .container = kPanel, .left = 135, .top = 555, .width = 5520, .height = 1950,
     .font = FontStyle::Regular, .backColour = kWindowBackground, .tabIndex = 1},
    {.name = L"ShapeprogressWu", .kind = RoundedRectangle, .container = kPanel, .left = 3555, .top = 2745,
     .width = 1905, .height = 150, .borderPixels = 1, .visible = false},
    {.name = L"Image13", .kind = Picture, .container = kPanel, .left = 3555, .top = 2745, .width = 60, .height = 150,
     .visible = false, .picture = IDB_BAR_CAP, .format = PictureFormat::Bitmap},
    {.name = L"Shape1_up", .index = 0, .kind = Rectangle, .container = kPanel, .left = 60, .top = 495, .width = 5655,
     .height = 2130, .borderPixels = 2},
    {.name = L"Image3", .kind = Picture, .container = kPanel, .left = 510, .top = 90, .width = 1575, .height = 390,
     .picture = IDB_LIST_HEADING, .format = PictureFormat::Bitmap},
    {.name = L"Image1", .kind = Picture, .container = kPanel, .left = 195, .top = 180, .width = 240, .height = 240,
     .picture = IDI_HEADER, .format = PictureFormat::Icon},
    {.name = L"npercent_txt_up", .index = 0, .kind = Label, .container = kPanel, .left = 3060, .top = 2730,
     .width = 375, .height = 210, .caption = L"File: ", .font = FontStyle::Bold, .align = TextAlign::Right,
     .autoSize = true, .foreColour = Rgb(0, 0, 0), .tabIndex = 3},
    {.name = L"npercent_txt_up", .index = 3, .kind = Label, .container = kPanel, .left = 600, .top = 225,
     .width = 960, .height = 210, .caption = L"List of Files", .font = FontStyle::Bold, .autoSize = true,
     .foreColour = Rgb(0, 128, 128), .tabIndex = 2},
    {.name = L"Shape1_up", .index = 1, .kind = RoundedRectangle, .container = kPanel, .left = 75, .top = 2700,
     .width = 5595, .height = 255, .borderPixels = 1},
    {.name = L"Shape1_up", .index = 2, .kind = Rectangle, .container = kPanel, .left = 60, .top = 60, .width = 3030,
     .height = 450, .backColour = kWindowBackground, .opaque = true, .borderPixels = 2},
    {.name = L"ShapeprogressU", .index = 0, .kind = Picture, .container = kPanel, .left = 3555, .top = 2745,
     .width = 1905, .height = 150, .picture = IDB_BAR_FILL, .format = PictureFormat::Bitmap},
});
#pragma GCC diagnostic pop

}  // namespace

std::span<const ControlRow> FormLayout() { return kRows; }

int TwipsToPixels(double twips, int dpi) {
    constexpr double kLimit = 1 << 24;
    if (std::isnan(twips)) {
        return 0;
    }
    const double pixels = std::clamp(twips * dpi / kTwipsPerInch, -kLimit, kLimit);
    return static_cast<int>(std::lround(pixels));
}

float PixelsToTwips(int pixels, int dpi) {
    return static_cast<float>(static_cast<double>(pixels) * kTwipsPerInch / dpi);
}

}  // namespace tessaloom::ui

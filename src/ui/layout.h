#pragma once
// The window's layout as data: one row per control, with its kind, container,
// rectangle in twips and design-time settings. Portable: the model of the
// controls and the Win32 window are both built from this one table.

#include <cstdint>
#include <span>
#include <string_view>

namespace tessaloom::ui {

enum class ControlKind {
    Window,            // the top-level window itself
    Button,            // push button drawn in the graphical style (face in its back colour)
    Panel,             // borderless container
    ListBox,           // one column of text lines, unsorted, single selection
    Label,             // windowless text
    Picture,           // windowless picture at its natural size, clipped to the control
    Rectangle,         // windowless shape
    RoundedRectangle,  // windowless shape
};

// Buttons, the panel and the list box are real child windows; the rest is
// painted by its container.
constexpr bool IsWindowed(ControlKind kind) {
    return kind == ControlKind::Button || kind == ControlKind::Panel || kind == ControlKind::ListBox;
}

enum class PictureFormat { None, Bitmap, Icon, Gif };
enum class FontStyle { None, Regular, Bold };
enum class TextAlign { Left, Right };

// Colours: red in the lowest byte, then green, then blue. A value with the top
// bit set names a system colour by its index in the low byte.
inline constexpr std::uint32_t kSystemColourFlag = 0x80000000U;
constexpr std::uint32_t SystemColour(int index) { return kSystemColourFlag | static_cast<std::uint32_t>(index); }
constexpr std::uint32_t Rgb(int r, int g, int b) {
    return static_cast<std::uint32_t>(r) | (static_cast<std::uint32_t>(g) << 8) | (static_cast<std::uint32_t>(b) << 16);
}
inline constexpr std::uint32_t kInactiveCaption = SystemColour(3);
inline constexpr std::uint32_t kWindowBackground = SystemColour(5);
inline constexpr std::uint32_t kWindowText = SystemColour(8);
inline constexpr std::uint32_t kButtonFace = SystemColour(15);
inline constexpr std::uint32_t kButtonText = SystemColour(18);

// Every control's text uses this face at this size (in hundredths of a point).
inline constexpr std::wstring_view kFontFace = L"Arial";
inline constexpr int kFontHundredthsOfPoint = 825;

inline constexpr int kTwipsPerInch = 1440;

struct ControlRow {
    std::wstring_view name;
    int index = -1;  // element of an indexed group, or -1
    ControlKind kind = ControlKind::Label;
    std::wstring_view container;  // "Form1" or "Frame1_up"; empty for the window
    // Relative to the container's interior, in twips. For the window: its client area.
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    std::wstring_view caption;
    FontStyle font = FontStyle::None;
    TextAlign align = TextAlign::Left;
    bool autoSize = false;  // labels: the size follows the text
    std::uint32_t foreColour = kWindowText;
    std::uint32_t backColour = kButtonFace;
    bool opaque = false;  // shapes and labels: the interior is filled with backColour
    std::uint32_t borderColour = kWindowText;
    int borderPixels = 0;  // shapes: width of the outline in pixels, 0 for none
    bool visible = true;
    int tabIndex = -1;  // position in the tab order; -1 for a control that takes no focus
    int picture = 0;    // resource identifier
    PictureFormat format = PictureFormat::None;
};

// The window's row first, then the controls of the window and of the panel,
// each container's rows in stacking order, front first.
std::span<const ControlRow> FormLayout();

// The window's name; the container of the controls placed directly on it.
inline constexpr std::wstring_view kFormName = L"Form1";

// Twips to pixels at a DPI, rounded to the nearest pixel (halves away from
// zero, as MulDiv does). At 96 DPI a pixel is 15 twips. Clamped far outside
// any screen so that absurd positions cannot overflow.
int TwipsToPixels(double twips, int dpi);
// Pixels to twips at a DPI, as the single-precision values controls hold.
float PixelsToTwips(int pixels, int dpi);

}  // namespace tessaloom::ui

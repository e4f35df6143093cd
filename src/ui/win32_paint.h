#pragma once
// Painting the windowless controls (labels, pictures, shapes) and the
// graphical buttons from the model of the control states, with GDI.

#include <windows.h>

#include <map>
#include <string_view>

#include "ui/form_model.h"
#include "win32/handles.h"

namespace tessaloom::ui {

inline int RectWidth(const RECT& r) { return r.right - r.left; }
inline int RectHeight(const RECT& r) { return r.bottom - r.top; }

// A colour of the layout as GDI wants it: system colours looked up by index.
COLORREF ToColorRef(std::uint32_t colour);

// The version of the pictures drawn nearest a DPI: 0 for 100 % (96 DPI), 1
// for 125 %, up to 4 for 200 %; SCALED_PICTURE(id, step) is its identifier.
int PictureScaleStep(int dpi);

// A bitmap of the version nearest the DPI, and the size it is shown at: its
// size at 96 DPI scaled to the DPI.
struct ScaledBitmap {
    HBITMAP bitmap = nullptr;
    SIZE drawn{};
    SIZE shown{};
};

// A bitmap the pictures script packed (RCDATA holding a BMP file of 24 or 32
// bits a pixel) as a DIB section of the file's own format; throws when it is
// missing or malformed.
UniqueGdiObject LoadPackedBitmap(HMODULE module, int id);

// The fonts at one DPI and the pictures of the window at the scale nearest
// it: a scale's pictures are loaded when a DPI first needs them and dropped
// when the DPI moves to another scale.
class PaintResources {
public:
    // Where the pictures live; UseDpi loads them.
    void UsePictures(HMODULE module);
    // Creates the fonts for a DPI and loads every icon and bitmap the layout
    // names in the version nearest it (each when it changed); throws on
    // failure and then keeps what it had.
    void UseDpi(int dpi);
    [[nodiscard]] int Dpi() const { return dpi_; }
    [[nodiscard]] bool HasFonts() const { return regular_.Valid(); }
    [[nodiscard]] HFONT Font(FontStyle style) const;
    [[nodiscard]] ScaledBitmap Bitmap(int id) const;
    // The icon of the version nearest the DPI; its size shown is that of the control.
    [[nodiscard]] HICON Icon(int id) const;

private:
    struct LoadedBitmap {
        UniqueGdiObject bitmap;
        SIZE size{};
    };
    struct Pictures {
        std::map<int, LoadedBitmap> bitmaps;  // by the picture's 100 % identifier
        std::map<int, UniqueIcon> icons;
    };
    [[nodiscard]] Pictures LoadScale(int step);

    int dpi_ = 0;
    UniqueGdiObject regular_;
    UniqueGdiObject bold_;
    HMODULE module_ = nullptr;
    int step_ = -1;  // the scale of `pictures_`, -1 before the first
    Pictures pictures_;
    std::map<int, SIZE> natural_;  // bitmaps' sizes at 100 %, read once
};

// A control's rectangle in pixels within its container, at a DPI.
RECT PixelRect(const ControlState& state, int dpi);

// Paints the container's background and its visible windowless controls,
// back to front, so that a row earlier in the table lies in front.
void PaintContainer(HDC dc, const RECT& area, const FormModel& model, std::wstring_view container,
                    const PaintResources& resources);

// Answers WM_PAINT for a container window: its background and windowless
// controls, drawn off screen and copied in one step so nothing flickers.
void PaintWindow(HWND window, const FormModel& model, std::wstring_view container, const PaintResources& resources);

// A push button's face in its back colour, with a 3-D edge, its caption and,
// when it has the focus, a focus rectangle.
void DrawGraphicalButton(const DRAWITEMSTRUCT& item, const ControlState& state, const PaintResources& resources);

// The size of a caption in the control's font, in twips at the resources' DPI.
TextExtent MeasureText(const PaintResources& resources, const ControlRow& row, std::wstring_view text);

}  // namespace tessaloom::ui

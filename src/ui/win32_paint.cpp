#include "ui/win32_paint.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "ui/picture_codec.h"
#include "ui/resources/resource_ids.h"
#include "win32/win32_error.h"

namespace tessaloom::ui {
namespace {

// Selects a GDI object into a DC for one scope and puts the old one back.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) : dc_(dc), old_(SelectObject(dc, object)) {}
    ~Selection() { SelectObject(dc_, old_); }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;

private:
    HDC dc_;
    HGDIOBJ old_;
};

// Saves a DC's state (clipping, modes, colours) for one scope.
class SavedDc {
public:
    explicit SavedDc(HDC dc) : dc_(dc), saved_(SaveDC(dc)) {}
    ~SavedDc() { RestoreDC(dc_, saved_); }
    SavedDc(const SavedDc&) = delete;
    SavedDc& operator=(const SavedDc&) = delete;

private:
    HDC dc_;
    int saved_;
};

// BeginPaint and EndPaint around one WM_PAINT.
class PaintScope {
public:
    explicit PaintScope(HWND window) : window_(window), dc_(BeginPaint(window, &paint_)) {}
    ~PaintScope() { EndPaint(window_, &paint_); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;
    [[nodiscard]] HDC Dc() const { return dc_; }
    [[nodiscard]] const RECT& Area() const { return paint_.rcPaint; }

private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_;
};

// Fills a rectangle with a solid colour without creating a brush.
void FillSolid(HDC dc, const RECT& r, COLORREF colour) {
    SetBkColor(dc, colour);
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
}

// An RCDATA resource's bytes; throws when it is missing.
std::span<const std::uint8_t> ResourceBytes(HMODULE module, int id) {
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), RT_RCDATA);
    HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr) {
        throw LastError();
    }
    return {static_cast<const std::uint8_t*>(data), SizeofResource(module, found)};
}

int ScaledBorder(int pixels, int dpi) { return pixels > 0 ? std::max(1, MulDiv(pixels, dpi, 96)) : 0; }

void PaintRectangle(HDC dc, const RECT& r, const ControlState& state, int dpi) {
    if (state.row->opaque) {
        FillSolid(dc, r, ToColorRef(state.backColour));
    }
    // The outline lies inside the shape's rectangle.
    const int b = std::min({ScaledBorder(state.row->borderPixels, dpi), RectWidth(r) / 2 + 1, RectHeight(r) / 2 + 1});
    if (b > 0) {
        const COLORREF colour = ToColorRef(state.borderColour);
        FillSolid(dc, {r.left, r.top, r.right, r.top + b}, colour);
        FillSolid(dc, {r.left, r.bottom - b, r.right, r.bottom}, colour);
        FillSolid(dc, {r.left, r.top, r.left + b, r.bottom}, colour);
        FillSolid(dc, {r.right - b, r.top, r.right, r.bottom}, colour);
    }
}

void PaintRoundedRectangle(HDC dc, RECT r, const ControlState& state, int dpi) {
    const int border = ScaledBorder(state.row->borderPixels, dpi);
    UniqueGdiObject pen(border > 0 ? CreatePen(PS_INSIDEFRAME, border, ToColorRef(state.borderColour)) : nullptr);
    UniqueGdiObject brush(state.row->opaque ? CreateSolidBrush(ToColorRef(state.backColour)) : nullptr);
    Selection penSelection(dc, pen ? pen.Get() : GetStockObject(NULL_PEN));
    Selection brushSelection(dc, brush ? brush.Get() : GetStockObject(NULL_BRUSH));
    if (!pen) {
        // Without a pen GDI leaves out the right and bottom edges.
        ++r.right;
        ++r.bottom;
    }
    const int corner = std::min(RectWidth(r), RectHeight(r)) / 2;
    RoundRect(dc, r.left, r.top, r.right, r.bottom, corner, corner);
}

// Pictures keep their natural size, scaled with the DPI: a control smaller
// than its picture shows the picture's top-left part, never a shrunken picture.
// A version drawn for the DPI is copied as it is; between the drawn scales
// the nearest version is resampled smoothly to the exact size.
void PaintBitmap(HDC dc, const RECT& r, const ScaledBitmap& picture) {
    UniqueDc source(CreateCompatibleDC(dc));
    if (picture.bitmap == nullptr || !source) {
        return;
    }
    Selection selection(source.Get(), picture.bitmap);
    if (picture.drawn.cx == picture.shown.cx && picture.drawn.cy == picture.shown.cy) {
        const int width = std::min(static_cast<int>(picture.drawn.cx), RectWidth(r));
        const int height = std::min(static_cast<int>(picture.drawn.cy), RectHeight(r));
        if (width > 0 && height > 0) {
            BitBlt(dc, r.left, r.top, width, height, source.Get(), 0, 0, SRCCOPY);
        }
        return;
    }
    SavedDc saved(dc);
    IntersectClipRect(dc, r.left, r.top, r.right, r.bottom);
    SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);
    StretchBlt(dc, r.left, r.top, picture.shown.cx, picture.shown.cy, source.Get(), 0, 0, picture.drawn.cx,
               picture.drawn.cy, SRCCOPY);
}

void PaintPicture(HDC dc, const RECT& r, const ControlState& state, const PaintResources& resources) {
    switch (state.row->format) {
    case PictureFormat::Bitmap:
        PaintBitmap(dc, r, resources.Bitmap(state.row->picture));
        return;
    case PictureFormat::Icon: {
        HICON icon = resources.Icon(state.row->picture);
        if (icon == nullptr) {
            return;
        }
        SavedDc saved(dc);
        IntersectClipRect(dc, r.left, r.top, r.right, r.bottom);
        // The icons are square, as large as their controls were designed.
        const int size = TwipsToPixels(state.row->width, resources.Dpi());
        DrawIconEx(dc, r.left, r.top, icon, size, size, 0, nullptr, DI_NORMAL);
        return;
    }
    case PictureFormat::Gif:  // the only GIF lies outside the client area: carried, never drawn
    case PictureFormat::None:
        return;
    }
}

void PaintLabel(HDC dc, RECT r, const ControlState& state, const PaintResources& resources) {
    if (state.row->opaque) {
        FillSolid(dc, r, ToColorRef(state.backColour));
    }
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, ToColorRef(state.foreColour));
    Selection font(dc, resources.Font(state.row->font));
    const UINT align = state.row->align == TextAlign::Right ? DT_RIGHT : DT_LEFT;
    // File names are shown as they are: an ampersand is not a mnemonic.
    DrawTextW(dc, state.caption.c_str(), static_cast<int>(state.caption.size()), &r,
              DT_SINGLELINE | DT_NOPREFIX | DT_TOP | align);
}

UniqueGdiObject MakeFont(int dpi, bool bold) {
    LOGFONTW font{};
    font.lfHeight = -MulDiv(kFontHundredthsOfPoint, dpi, 72 * 100);
    font.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfOutPrecision = OUT_DEFAULT_PRECIS;
    font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    font.lfQuality = DEFAULT_QUALITY;
    // Where Arial is missing the system picks its nearest proportional sans-serif face.
    font.lfPitchAndFamily = VARIABLE_PITCH | FF_SWISS;
    kFontFace.copy(font.lfFaceName, LF_FACESIZE - 1);
    UniqueGdiObject handle(CreateFontIndirectW(&font));
    if (!handle) {
        throw LastError();
    }
    return handle;
}

}  // namespace

COLORREF ToColorRef(std::uint32_t colour) {
    if ((colour & kSystemColourFlag) != 0) {
        return GetSysColor(static_cast<int>(colour & 0xFFU));
    }
    return colour & 0x00FFFFFFU;
}

int PictureScaleStep(int dpi) { return std::clamp((dpi - 96 + 12) / 24, 0, PICTURE_SCALE_STEPS - 1); }

UniqueGdiObject LoadPackedBitmap(HMODULE module, int id) {
    const std::optional<std::vector<std::uint8_t>> file = UnpackPicture(ResourceBytes(module, id));
    const std::optional<BmpLayout> layout = file ? ReadBmp(*file) : std::nullopt;
    if (!layout) {
        throw SystemError(ERROR_INVALID_DATA);
    }
    BITMAPINFO info{};
    std::memcpy(&info.bmiHeader, file->data() + kBmpInfoOffset, sizeof info.bmiHeader);
    void* bits = nullptr;
    UniqueGdiObject bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || bits == nullptr) {
        throw LastError();
    }
    std::memcpy(bits, file->data() + layout->bits, layout->bitsSize);
    return bitmap;
}

void PaintResources::UsePictures(HMODULE module) {
    module_ = module;
    step_ = -1;
    pictures_ = {};
    natural_.clear();
}

PaintResources::Pictures PaintResources::LoadScale(int step) {
    Pictures pictures;
    for (const ControlRow& row : FormLayout()) {
        if (row.kind != ControlKind::Picture || row.picture == 0) {
            continue;
        }
        const int id = SCALED_PICTURE(row.picture, step);
        if (row.format == PictureFormat::Bitmap && !pictures.bitmaps.contains(row.picture)) {
            UniqueGdiObject bitmap = LoadPackedBitmap(module_, id);
            BITMAP info{};
            GetObjectW(bitmap.Get(), sizeof info, &info);
            pictures.bitmaps.emplace(row.picture, LoadedBitmap{std::move(bitmap), {info.bmWidth, info.bmHeight}});
            if (!natural_.contains(row.picture)) {
                // Only the 100 % file's header: its size at 96 DPI.
                const auto header = UnpackPicture(ResourceBytes(module_, row.picture), kBmpHeaderSize);
                const auto layout = header ? ReadBmp(*header, false) : std::nullopt;
                if (!layout) {
                    throw SystemError(ERROR_INVALID_DATA);
                }
                natural_.emplace(row.picture, SIZE{layout->width, std::abs(layout->height)});
            }
        } else if (row.format == PictureFormat::Icon && !pictures.icons.contains(row.picture)) {
            // Width and height 0: the icon's own size.
            UniqueIcon icon(static_cast<HICON>(LoadImageW(module_, MAKEINTRESOURCEW(id), IMAGE_ICON, 0, 0, 0)));
            if (!icon) {
                throw LastError();
            }
            pictures.icons.emplace(row.picture, std::move(icon));
        }
    }
    return pictures;
}

void PaintResources::UseDpi(int dpi) {
    const int step = PictureScaleStep(dpi);
    const bool newScale = module_ != nullptr && step != step_;
    Pictures pictures = newScale ? LoadScale(step) : Pictures{};
    if (dpi != dpi_ || !HasFonts()) {
        UniqueGdiObject regular = MakeFont(dpi, false);
        UniqueGdiObject bold = MakeFont(dpi, true);
        regular_ = std::move(regular);
        bold_ = std::move(bold);
    }
    dpi_ = dpi;
    if (newScale) {
        pictures_ = std::move(pictures);
        step_ = step;
    }
}

HFONT PaintResources::Font(FontStyle style) const {
    return static_cast<HFONT>(style == FontStyle::Bold ? bold_.Get() : regular_.Get());
}

ScaledBitmap PaintResources::Bitmap(int id) const {
    const auto drawn = pictures_.bitmaps.find(id);
    const auto natural = natural_.find(id);
    if (drawn == pictures_.bitmaps.end() || natural == natural_.end()) {
        return {};
    }
    // Twips at 96 DPI: 15 a pixel.
    const SIZE at96 = natural->second;
    return {static_cast<HBITMAP>(drawn->second.bitmap.Get()),
            drawn->second.size,
            {TwipsToPixels(at96.cx * 15.0, dpi_), TwipsToPixels(at96.cy * 15.0, dpi_)}};
}

HICON PaintResources::Icon(int id) const {
    const auto it = pictures_.icons.find(id);
    return it == pictures_.icons.end() ? nullptr : it->second.Get();
}

RECT PixelRect(const ControlState& state, int dpi) {
    const int left = TwipsToPixels(state.left, dpi);
    const int top = TwipsToPixels(state.top, dpi);
    return {left, top, left + TwipsToPixels(state.width, dpi), top + TwipsToPixels(state.height, dpi)};
}

void PaintContainer(HDC dc, const RECT& area, const FormModel& model, std::wstring_view container,
                    const PaintResources& resources) {
    SavedDc saved(dc);
    FillSolid(dc, area, ToColorRef(model.At({container}).backColour));
    const std::span<const ControlState> controls = model.Controls();
    for (auto it = controls.rbegin(); it != controls.rend(); ++it) {
        const ControlState& state = *it;
        if (state.row->container != container || IsWindowed(state.row->kind) || !state.visible) {
            continue;
        }
        const RECT r = PixelRect(state, resources.Dpi());
        RECT overlap{};
        if (!IntersectRect(&overlap, &r, &area)) {
            continue;
        }
        switch (state.row->kind) {
        case ControlKind::Label:
            PaintLabel(dc, r, state, resources);
            break;
        case ControlKind::Picture:
            PaintPicture(dc, r, state, resources);
            break;
        case ControlKind::Rectangle:
            PaintRectangle(dc, r, state, resources.Dpi());
            break;
        case ControlKind::RoundedRectangle:
            PaintRoundedRectangle(dc, r, state, resources.Dpi());
            break;
        default:
            break;
        }
    }
}

void PaintWindow(HWND window, const FormModel& model, std::wstring_view container, const PaintResources& resources) {
    PaintScope paint(window);
    if (paint.Dc() == nullptr) {
        return;
    }
    RECT client{};
    GetClientRect(window, &client);
    UniqueDc buffer(CreateCompatibleDC(paint.Dc()));
    UniqueGdiObject bitmap(
        CreateCompatibleBitmap(paint.Dc(), std::max(1, RectWidth(client)), std::max(1, RectHeight(client))));
    if (!buffer || !bitmap) {
        PaintContainer(paint.Dc(), client, model, container, resources);  // short of memory: straight to the screen
        return;
    }
    Selection selection(buffer.Get(), bitmap.Get());
    PaintContainer(buffer.Get(), client, model, container, resources);
    const RECT& area = paint.Area();
    BitBlt(paint.Dc(), area.left, area.top, RectWidth(area), RectHeight(area), buffer.Get(), area.left, area.top,
           SRCCOPY);
}

void DrawGraphicalButton(const DRAWITEMSTRUCT& item, const ControlState& state, const PaintResources& resources) {
    HDC dc = item.hDC;
    SavedDc saved(dc);
    RECT r = item.rcItem;
    const bool pressed = (item.itemState & ODS_SELECTED) != 0;
    const bool focused = (item.itemState & ODS_FOCUS) != 0;
    FillSolid(dc, r, ToColorRef(state.backColour));
    if (focused) {
        // The button that has the focus is framed in black, as push buttons are.
        FrameRect(dc, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        InflateRect(&r, -1, -1);
    }
    DrawEdge(dc, &r, pressed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT | BF_ADJUST);
    RECT text = r;
    if (pressed) {
        OffsetRect(&text, 1, 1);
    }
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, (item.itemState & ODS_DISABLED) != 0 ? GetSysColor(COLOR_GRAYTEXT) : ToColorRef(state.foreColour));
    Selection font(dc, resources.Font(state.row->font));
    DrawTextW(dc, state.caption.c_str(), static_cast<int>(state.caption.size()), &text,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    if (focused && (item.itemState & ODS_NOFOCUSRECT) == 0) {
        InflateRect(&r, -2, -2);
        DrawFocusRect(dc, &r);
    }
}

TextExtent MeasureText(const PaintResources& resources, const ControlRow& row, std::wstring_view text) {
    UniqueDc dc(CreateCompatibleDC(nullptr));
    if (!dc) {
        throw LastError();
    }
    Selection font(dc.Get(), resources.Font(row.font));
    SIZE size{};
    TEXTMETRICW metrics{};
    if (!GetTextExtentPoint32W(dc.Get(), text.data(), static_cast<int>(text.size()), &size) ||
        !GetTextMetricsW(dc.Get(), &metrics)) {
        throw LastError();
    }
    return {PixelsToTwips(size.cx, resources.Dpi()), PixelsToTwips(metrics.tmHeight, resources.Dpi())};
}

}  // namespace tessaloom::ui

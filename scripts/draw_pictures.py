#!/usr/bin/python3
"""Draws the pictures of the updater's window into src/ui/resources/.

Run it again after changing a drawing; the outputs are committed beside it
and embedded by src/ui/resources/app.rc. Needs Debian's python3-pil and
fonts-dejavu-core (both installed by scripts/install-deps.sh).

Every picture has the exact format and pixel size its control expects:
24-bit bitmaps, 16 x 16 icons of 256 colours with a transparency mask, and
one GIF with a 256-colour table. The bitmaps and icons are drawn again at
125, 150, 175 and 200 % (name_125.bmp, ...), each at the size its control
has at that scale, so the window picks the nearest and stays crisp. The
bitmaps are stored packed by picture_codec.py (name.bmp.lz): the window
unpacks the one scale it shows.
"""

import io
import math
import os
import struct
import sys

from PIL import Image, ImageDraw, ImageFont

import picture_codec

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "ui", "resources")
FONTS = "/usr/share/fonts/truetype/dejavu"

# The window's theme colours.
DARK = (0, 89, 131)
LIGHT = (194, 215, 225)
MEDIUM = (127, 172, 193)
WHITE = (255, 255, 255)
BLACK = (0, 0, 0)


# The scales every picture is drawn at, as percentages; 100 % is 96 DPI.
SCALES = (100, 125, 150, 175, 200)
TWIPS_PER_INCH = 1440


class Scale:
    """Lengths of the 100 % drawing at one scale, rounded as the window rounds."""

    def __init__(self, percent):
        self.percent = percent
        self.dpi = 96 * percent // 100

    def __call__(self, length):
        return int(math.floor(length * self.percent / 100 + 0.5))

    def twips(self, twips):
        """A control's length in twips, in pixels at this scale (halves away from zero)."""
        return int(math.floor(twips * self.dpi / TWIPS_PER_INCH + 0.5))

    def name(self, name):
        stem, extension = os.path.splitext(name)
        return name if self.percent == 100 else "%s_%d%s" % (stem, self.percent, extension)


def font(size, bold=True):
    name = "DejaVuSans-Bold.ttf" if bold else "DejaVuSans.ttf"
    return ImageFont.truetype(os.path.join(FONTS, name), size)


def mix(a, b, t):
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


def save_bmp(image, name, size):
    """Saves the BMP file's bytes packed (picture_codec.py), as name.lz."""
    assert image.size == size, (name, image.size, size)
    raw = io.BytesIO()
    image.convert("RGB").save(raw, "BMP")
    packed = picture_codec.encode(raw.getvalue())
    assert picture_codec.decode(packed) == raw.getvalue()
    with open(os.path.join(OUT, name + ".lz"), "wb") as f:
        f.write(packed)


def text_centred_y(draw, x, height, text, face, colour):
    top, bottom = face.getbbox(text)[1], face.getbbox(text)[3]
    draw.text((x, (height - (bottom - top)) // 2 - top), text, font=face, fill=colour)


# --- the banner across the top of the window ---------------------------------
def banner(s):
    width, height = s.twips(5910), s.twips(1440)
    image = Image.new("RGB", (width, height))
    draw = ImageDraw.Draw(image)
    for x in range(width):
        draw.line([(x, 0), (x, height)], fill=mix(DARK, (40, 140, 180), x / (width - 1)))
    # A woven motif: warp threads over and under weft threads. The top-right
    # corner is covered by a white box on the window, so it stays left of x=336.
    for i, y in enumerate(s(y) for y in range(14, 86, 12)):
        draw.line([(s(250), y), (s(332), y)], fill=mix(MEDIUM, WHITE, 0.25), width=s(3))
        for j, x in enumerate(s(x) for x in range(256, 332, 13)):
            over = (i + j) % 2 == 0
            colour = LIGHT if over else mix(DARK, MEDIUM, 0.5)
            draw.line([(x, y - s(5)), (x, y + s(5))], fill=colour, width=s(4))
    draw.text((s(14), s(14)), "Tessaloom", font=font(s(36)), fill=WHITE)
    draw.text((s(17), s(64)), "Software updates", font=font(s(13), bold=False), fill=LIGHT)
    draw.line([(0, height - s(2)), (width, height - s(2))], fill=MEDIUM, width=s(2))
    save_bmp(image, s.name("banner.bmp"), (width, height))


# --- text pictures -------------------------------------------------------------
def text_picture(s, name, twips, text, size, colour, x=2, bold=True, underline=False):
    size_px = (s.twips(twips[0]), s.twips(twips[1]))
    face = font(s(size), bold)
    image = Image.new("RGB", size_px, WHITE)
    draw = ImageDraw.Draw(image)
    text_centred_y(draw, s(x), size_px[1], text, face, colour)
    if underline:
        right = s(x) + round(draw.textlength(text, font=face))
        draw.line([(s(x), size_px[1] - s(3)), (right, size_px[1] - s(3))], fill=colour, width=s(1))
    save_bmp(image, s.name(name), size_px)


def title(s):
    text_picture(s, "title.bmp", (3315, 420), "Updates from server", 17, DARK, x=4)


def list_heading(s):
    text_picture(s, "list_heading.bmp", (1575, 390), "List of Files", 13, BLACK)


def web_address(s):
    text_picture(s, "web_address.bmp", (2250, 285), "www.tessaloom.example", 11, (0, 0, 200), x=1, bold=False,
                 underline=True)


# --- the GIF picture -----------------------------------------------------------
def globe(s):
    if s.percent != 100:
        return  # carried by the window, never shown: one size is enough
    width, height = 90, 69
    image = Image.new("RGB", (width, height), WHITE)
    pixels = image.load()
    cx, cy, r = 45, 34, 30
    for y in range(height):
        for x in range(width):
            d = ((x - cx) ** 2 + (y - cy) ** 2) ** 0.5
            if d <= r:
                # A shaded sphere, lit from the top left.
                light = max(0.0, 1 - (((x - cx + 10) ** 2 + (y - cy + 10) ** 2) ** 0.5) / (1.6 * r))
                pixels[x, y] = mix(DARK, (170, 220, 250), light)
            else:
                pixels[x, y] = mix(WHITE, LIGHT, min(1.0, (d - r) / 30))
    draw = ImageDraw.Draw(image)
    for dy in (-18, -6, 6, 18):
        half = (r * r - dy * dy) ** 0.5
        draw.line([(cx - half, cy + dy), (cx + half, cy + dy)], fill=WHITE)
    for rx in (10, 22):
        draw.ellipse([cx - rx, cy - r, cx + rx, cy + r], outline=WHITE)
    draw.line([(cx, cy - r), (cx, cy + r)], fill=WHITE)
    # One frame, one global table of 256 colours.
    indexed = image.quantize(colors=256, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
    palette = indexed.getpalette()[: 256 * 3]
    indexed.putpalette(palette + [0] * (256 * 3 - len(palette)))
    path = os.path.join(OUT, "globe.gif")
    indexed.save(path, "GIF", optimize=False)
    with open(path, "rb") as f:
        header = f.read(13)
    assert header[:6] == b"GIF89a" or header[:6] == b"GIF87a"
    assert struct.unpack("<HH", header[6:10]) == (width, height)
    assert header[10] & 0x80 and header[10] & 0x07 == 7, "the GIF must carry a 256-colour table"


# --- the progress bar ------------------------------------------------------------
def bar(s):
    """The fill (127 x 10 at 100 %) and its end cap, which is the fill's last 4 columns."""
    width, height, scale, radius = s.twips(1905), s.twips(150), 8, s(4)
    cap = s.twips(60)
    big = Image.new("RGB", (width * scale, height * scale), LIGHT)
    draw = ImageDraw.Draw(big)
    mask = Image.new("L", big.size, 0)
    ImageDraw.Draw(mask).rounded_rectangle([0, 0, big.size[0] - 1, big.size[1] - 1], radius * scale, fill=255)
    gradient = Image.new("RGB", big.size)
    stops = [(0.0, (185, 225, 250)), (0.45, (60, 150, 215)), (0.55, (30, 115, 190)), (1.0, (10, 70, 145))]
    gdraw = ImageDraw.Draw(gradient)
    for y in range(big.size[1]):
        t = y / (big.size[1] - 1)
        for (t0, c0), (t1, c1) in zip(stops, stops[1:]):
            if t0 <= t <= t1:
                gdraw.line([(0, y), (big.size[0], y)], fill=mix(c0, c1, (t - t0) / (t1 - t0)))
                break
    big.paste(gradient, (0, 0), mask)
    del draw
    fill = big.resize((width, height), Image.Resampling.BOX)
    save_bmp(fill, s.name("bar_fill.bmp"), (width, height))
    save_bmp(fill.crop((width - cap, 0, width, height)), s.name("bar_cap.bmp"), (cap, height))


# --- icons -----------------------------------------------------------------------
def save_ico(image, name):
    """A square icon of 256 colours: 8-bit colour image and a 1-bit mask."""
    size = image.size[0]
    assert image.size == (size, size) and image.mode == "RGBA"
    opaque = [image.getpixel((x, y))[3] >= 128 for y in range(size) for x in range(size)]
    rgb = Image.new("RGB", (size, size), BLACK)
    rgb.paste(image, (0, 0), image)
    indexed = rgb.quantize(colors=256, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
    palette = indexed.getpalette()[: 256 * 3]
    palette += [0] * (256 * 3 - len(palette))
    colour_stride = (size + 3) // 4 * 4
    rows = []
    for y in reversed(range(size)):  # bottom-up
        row = bytes(indexed.getpixel((x, y)) if opaque[y * size + x] else 0 for x in range(size))
        rows.append(row + b"\0" * (colour_stride - size))
    colour = b"".join(rows)
    mask_stride = (size + 31) // 32 * 4  # rows padded to 32 bits
    mask_rows = []
    for y in reversed(range(size)):
        bits = 0
        for x in range(size):
            if not opaque[y * size + x]:
                bits |= 1 << (mask_stride * 8 - 1 - x)
        mask_rows.append(bits.to_bytes(mask_stride, "big"))
    mask = b"".join(mask_rows)
    quad = b"".join(bytes((palette[i * 3 + 2], palette[i * 3 + 1], palette[i * 3], 0)) for i in range(256))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 8, 0, len(colour) + len(mask), 0, 0, 256, 0)
    data = header + quad + colour + mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", size, size, 0, 0, 1, 8, len(data), 22)
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(directory + data)


class PixelArt:
    """Draws a 16 x 16 pixel drawing at a scale. At 100 % the calls go straight
    to PIL; larger, every pixel of the drawing becomes a square of a picture
    four times the final size, which is then reduced smoothly."""

    def __init__(self, s):
        self.size = s(16)
        self.k = 1 if s.percent == 100 else 4 * s.percent / 100
        self.image = Image.new("RGBA", (round(16 * self.k),) * 2, (0, 0, 0, 0))
        self.draw = ImageDraw.Draw(self.image)

    def box(self, x0, y0, x1, y1):
        if self.k == 1:
            return [x0, y0, x1, y1]
        k = self.k
        return [round(x0 * k), round(y0 * k), round((x1 + 1) * k) - 1, round((y1 + 1) * k) - 1]

    def width(self):
        return round(self.k)

    def rectangle(self, box, fill, outline=None):
        self.draw.rectangle(self.box(*box), fill=fill, outline=outline, width=self.width())

    def ellipse(self, box, fill, outline):
        self.draw.ellipse(self.box(*box), fill=fill, outline=outline, width=self.width())

    def arc(self, box, start, end, fill):
        self.draw.arc(self.box(*box), start, end, fill=fill, width=self.width())

    def line(self, points, fill):
        """Horizontal or vertical lines only."""
        (x0, y0), (x1, y1) = points
        if self.k == 1:
            self.draw.line(points, fill=fill)
        else:
            self.rectangle([min(x0, x1), min(y0, y1), max(x0, x1), max(y0, y1)], fill)

    def points(self, points, fill):
        if self.k == 1:
            self.draw.point(points, fill=fill)
        else:
            for x, y in points:
                self.rectangle([x, y, x, y], fill)

    def result(self):
        if self.k == 1:
            return self.image
        return self.image.resize((self.size, self.size), Image.Resampling.LANCZOS)


def window_icon(s):
    """A window with a disc in front of its lower right corner."""
    art = PixelArt(s)
    art.rectangle([0, 1, 11, 11], fill=WHITE + (255,), outline=(40, 40, 40, 255))
    art.rectangle([1, 2, 10, 4], fill=DARK + (255,))
    art.points([(9, 3)], fill=WHITE + (255,))
    art.ellipse([6, 6, 15, 15], fill=(200, 200, 210, 255), outline=(70, 70, 90, 255))
    art.arc([7, 7, 14, 14], 200, 290, fill=(120, 200, 240, 255))
    art.arc([7, 7, 14, 14], 20, 110, fill=(240, 200, 120, 255))
    art.ellipse([9, 9, 12, 12], fill=(90, 90, 110, 255), outline=None)
    art.points([(10, 10), (11, 11), (10, 11), (11, 10)], fill=(0, 0, 0, 0))
    save_ico(art.result(), s.name("app.ico"))


def monitor_icon(s):
    """A monitor on its stand, its screen in the theme's blue."""
    art = PixelArt(s)
    art.rectangle([0, 1, 15, 11], fill=(192, 192, 192, 255), outline=(60, 60, 60, 255))
    art.rectangle([2, 3, 13, 9], fill=DARK + (255,))
    art.line([(3, 4), (7, 4)], fill=MEDIUM + (255,))
    art.line([(3, 6), (10, 6)], fill=LIGHT + (255,))
    art.rectangle([6, 12, 9, 13], fill=(128, 128, 128, 255))
    art.rectangle([3, 14, 12, 15], fill=(96, 96, 96, 255))
    save_ico(art.result(), s.name("header.ico"))


def main():
    os.makedirs(OUT, exist_ok=True)
    for percent in SCALES:
        s = Scale(percent)
        for draw_one in (banner, title, list_heading, web_address, globe, bar, window_icon, monitor_icon):
            draw_one(s)
    return 0


if __name__ == "__main__":
    sys.exit(main())

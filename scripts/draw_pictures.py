#!/usr/bin/python3
"""Draws the pictures of the updater's window into src/ui/resources/.

Run it again after changing a drawing; the outputs are committed beside it
and embedded by src/ui/resources/app.rc. Needs Debian's python3-pil and
fonts-dejavu-core (both installed by scripts/install-deps.sh).

Every picture has the exact format and pixel size its control expects:
24-bit bitmaps, 16 x 16 icons of 256 colours with a transparency mask, and
one GIF with a 256-colour table.
"""

import os
import struct
import sys

from PIL import Image, ImageDraw, ImageFont

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "ui", "resources")
FONTS = "/usr/share/fonts/truetype/dejavu"

# The window's theme colours.
DARK = (0, 89, 131)
LIGHT = (194, 215, 225)
MEDIUM = (127, 172, 193)
WHITE = (255, 255, 255)
BLACK = (0, 0, 0)


def font(size, bold=True):
    name = "DejaVuSans-Bold.ttf" if bold else "DejaVuSans.ttf"
    return ImageFont.truetype(os.path.join(FONTS, name), size)


def mix(a, b, t):
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


def save_bmp(image, name, size):
    assert image.size == size, (name, image.size, size)
    image.convert("RGB").save(os.path.join(OUT, name), "BMP")


def text_centred_y(draw, x, height, text, face, colour):
    top, bottom = face.getbbox(text)[1], face.getbbox(text)[3]
    draw.text((x, (height - (bottom - top)) // 2 - top), text, font=face, fill=colour)


# --- the banner across the top of the window ---------------------------------
def banner():
    width, height = 394, 96
    image = Image.new("RGB", (width, height))
    draw = ImageDraw.Draw(image)
    for x in range(width):
        draw.line([(x, 0), (x, height)], fill=mix(DARK, (40, 140, 180), x / (width - 1)))
    # A woven motif: warp threads over and under weft threads. The top-right
    # corner is covered by a white box on the window, so it stays left of x=336.
    for i, y in enumerate(range(14, 86, 12)):
        draw.line([(250, y), (332, y)], fill=mix(MEDIUM, WHITE, 0.25), width=3)
        for j, x in enumerate(range(256, 332, 13)):
            over = (i + j) % 2 == 0
            colour = LIGHT if over else mix(DARK, MEDIUM, 0.5)
            draw.line([(x, y - 5), (x, y + 5)], fill=colour, width=4)
    draw.text((14, 14), "Tessaloom", font=font(36), fill=WHITE)
    draw.text((17, 64), "Software updates", font=font(13, bold=False), fill=LIGHT)
    draw.line([(0, height - 2), (width, height - 2)], fill=MEDIUM, width=2)
    save_bmp(image, "banner.bmp", (width, height))


# --- text pictures -------------------------------------------------------------
def text_picture(name, size, text, face, colour, x=2, underline=False):
    image = Image.new("RGB", size, WHITE)
    draw = ImageDraw.Draw(image)
    text_centred_y(draw, x, size[1], text, face, colour)
    if underline:
        right = x + round(draw.textlength(text, font=face))
        draw.line([(x, size[1] - 3), (right, size[1] - 3)], fill=colour)
    save_bmp(image, name, size)


def title():
    text_picture("title.bmp", (221, 28), "Updates from server", font(17), DARK, x=4)


def list_heading():
    text_picture("list_heading.bmp", (105, 26), "List of Files", font(13), BLACK)


def web_address():
    text_picture("web_address.bmp", (150, 19), "www.tessaloom.example", font(11, bold=False), (0, 0, 200),
                 x=1, underline=True)


# --- the GIF picture -----------------------------------------------------------
def globe():
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
def bar():
    """The fill (127 x 10) and its end cap, which is the fill's last 4 columns."""
    width, height, scale, radius = 127, 10, 8, 4
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
    save_bmp(fill, "bar_fill.bmp", (width, height))
    save_bmp(fill.crop((width - 4, 0, width, height)), "bar_cap.bmp", (4, height))


# --- icons -----------------------------------------------------------------------
def save_ico(image, name):
    """A 16 x 16 icon of 256 colours: 8-bit colour image and a 1-bit mask."""
    assert image.size == (16, 16) and image.mode == "RGBA"
    size = 16
    opaque = [image.getpixel((x, y))[3] >= 128 for y in range(size) for x in range(size)]
    rgb = Image.new("RGB", (size, size), BLACK)
    rgb.paste(image, (0, 0), image)
    indexed = rgb.quantize(colors=256, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
    palette = indexed.getpalette()[: 256 * 3]
    palette += [0] * (256 * 3 - len(palette))
    rows = []
    for y in reversed(range(size)):  # bottom-up
        rows.append(bytes(indexed.getpixel((x, y)) if opaque[y * size + x] else 0 for x in range(size)))
    colour = b"".join(rows)
    mask_rows = []
    for y in reversed(range(size)):
        bits = 0
        for x in range(size):
            if not opaque[y * size + x]:
                bits |= 1 << (15 - x)
        mask_rows.append(struct.pack(">H", bits) + b"\0\0")  # rows padded to 32 bits
    mask = b"".join(mask_rows)
    quad = b"".join(bytes((palette[i * 3 + 2], palette[i * 3 + 1], palette[i * 3], 0)) for i in range(256))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 8, 0, len(colour) + len(mask), 0, 0, 256, 0)
    data = header + quad + colour + mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", size, size, 0, 0, 1, 8, len(data), 22)
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(directory + data)


def window_icon():
    """A window with a disc in front of its lower right corner."""
    image = Image.new("RGBA", (16, 16), (0, 0, 0, 0))
    draw = ImageDraw.Draw(image)
    draw.rectangle([0, 1, 11, 11], fill=WHITE + (255,), outline=(40, 40, 40, 255))
    draw.rectangle([1, 2, 10, 4], fill=DARK + (255,))
    draw.point([(9, 3)], fill=WHITE + (255,))
    draw.ellipse([6, 6, 15, 15], fill=(200, 200, 210, 255), outline=(70, 70, 90, 255))
    draw.arc([7, 7, 14, 14], 200, 290, fill=(120, 200, 240, 255))
    draw.arc([7, 7, 14, 14], 20, 110, fill=(240, 200, 120, 255))
    draw.ellipse([9, 9, 12, 12], fill=(90, 90, 110, 255))
    draw.point([(10, 10), (11, 11), (10, 11), (11, 10)], fill=(0, 0, 0, 0))
    save_ico(image, "app.ico")


def monitor_icon():
    """A monitor on its stand, its screen in the theme's blue."""
    image = Image.new("RGBA", (16, 16), (0, 0, 0, 0))
    draw = ImageDraw.Draw(image)
    draw.rectangle([0, 1, 15, 11], fill=(192, 192, 192, 255), outline=(60, 60, 60, 255))
    draw.rectangle([2, 3, 13, 9], fill=DARK + (255,))
    draw.line([(3, 4), (7, 4)], fill=MEDIUM + (255,))
    draw.line([(3, 6), (10, 6)], fill=LIGHT + (255,))
    draw.rectangle([6, 12, 9, 13], fill=(128, 128, 128, 255))
    draw.rectangle([3, 14, 12, 15], fill=(96, 96, 96, 255))
    save_ico(image, "header.ico")


def main():
    os.makedirs(OUT, exist_ok=True)
    for draw_one in (banner, title, list_heading, web_address, globe, bar, window_icon, monitor_icon):
        draw_one()
    return 0


if __name__ == "__main__":
    sys.exit(main())

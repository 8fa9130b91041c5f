#!/usr/bin/python3
"""Draws Quillmere's editor artwork into Resources/*.png.

Every image is drawn at twice the size at which the editor paints it, so all
coordinates below are image pixels (editor pixels x 2). Shapes are rendered
at SS times the image resolution and box-filtered down, which gives clean
anti-aliased edges; textures come from seeded random generators, so running
this program again reproduces the committed PNGs byte for byte.

Run it through Resources/artwork/regenerate.
"""

import math
import sys
import zlib
from pathlib import Path

import numpy as np
from PIL import Image, ImageDraw, ImageFont

HERE = Path(__file__).resolve().parent
RESOURCES = HERE.parent
FONTS = RESOURCES / "fonts"
INTERFACE_FONT = FONTS / "interface_font.ttf"
CHANNEL_FONT = FONTS / "channel_font.otf"

SS = 4  # supersampling factor for shapes and text

# Colours fixed by the editor's look-and-feels and the layout.
LILAC_FRAME = (180, 129, 208)  # 0xFFB481D0, the selector hover frames
LILAC_GLOW = (177, 124, 206)  # the glow band of the highlighted fader cap
CRIMSON_RING = (236, 50, 69)  # the CUT key's hover ring
CAP_INDEX_LINE = (58, 57, 57)
CAPTION_GREY = (158, 158, 155)

# Fader scale: label and centre row of each mark in the background. A mark is
# a pair of 4-pixel-high engraved lines (6 for "0"), centred where the cap's
# index line sits when the fader shows that level.
SCALE_MARKS = [
    ("+10", 409.5), ("+5", 499.5), ("0", 589.5), ("-5", 679.5),
    ("-10", 789.5), ("-20", 879.5), ("-30", 929.5), ("-40", 969.5),
    ("-50", 1009.5), ("-60", 1039.5), ("inf", 1059.5),
]

# Scale labels are drawn at LABEL_SIZE where the marks leave room. Where two
# marks lie closer than a label's height plus LABEL_GAP (the "-60" and
# infinity marks are only 20 pixels apart), the labels of both are drawn
# smaller, so that LABEL_GAP pixels of bare metal stay between their ink.
LABEL_SIZE = 25.0
LABEL_GAP = 7

# Selector frames in the background, where the editor puts the selectors
# (x0, y0, x1, y1 inclusive). The hover frame images are drawn at the
# selector bounds and must cover these outlines exactly.
FRAME_RADIUS = 10
FRAME_THICKNESS = 4
WIDE_FRAME_INSET = 5
SMALL_FRAME_INSET = 10
WIDE_SELECTORS_Y = (660, 810, 960)  # model, MIDI in, MIDI out; x 400, 360 x 60
CHANNEL_SELECTOR = (510, 480, 140, 120)  # x, y, w, h


# --------------------------------------------------------------------------
# Raster helpers. Images are float arrays: masks are H x W in 0..1, colour
# canvases H x W x 3 in 0..255, layered images premultiplied H x W x 4.

def box_blur(a, r, axis):
    if r <= 0:
        return a
    n = a.shape[axis]
    pad = [(0, 0)] * a.ndim
    pad[axis] = (r + 1, r)
    c = np.cumsum(np.pad(a, pad, mode="edge"), axis=axis)
    hi = np.take(c, np.arange(2 * r + 1, 2 * r + 1 + n), axis=axis)
    lo = np.take(c, np.arange(0, n), axis=axis)
    return (hi - lo) / (2 * r + 1)


def blur(a, rx, ry=None, passes=3):
    """Three box passes approximate a Gaussian."""
    ry = rx if ry is None else ry
    for _ in range(passes):
        a = box_blur(a, rx, 1)
        a = box_blur(a, ry, 0)
    return a


def shift(a, dx, dy):
    """Moves a mask by whole pixels, filling with zero."""
    out = np.zeros_like(a)
    h, w = a.shape[:2]
    xs0, xs1 = max(0, -dx), min(w, w - dx)
    ys0, ys1 = max(0, -dy), min(h, h - dy)
    out[ys0 + dy:ys1 + dy, xs0 + dx:xs1 + dx] = a[ys0:ys1, xs0:xs1]
    return out


def normalised(a):
    return (a - a.mean()) / (a.std() + 1e-9)


class HiRes:
    """A supersampled drawing surface that is reduced to a coverage mask."""

    def __init__(self, w, h):
        self.w, self.h = w, h
        self.image = Image.new("L", (w * SS, h * SS), 0)
        self.draw = ImageDraw.Draw(self.image)

    @staticmethod
    def pt(x, y):
        return (x * SS, y * SS)

    def rounded_rect(self, x0, y0, x1, y1, radius, fill=255):
        """Covers whole pixels x0..x1, y0..y1 (inclusive)."""
        self.draw.rounded_rectangle(
            [x0 * SS, y0 * SS, (x1 + 1) * SS - 1, (y1 + 1) * SS - 1],
            radius=max(0, radius * SS), fill=fill)

    def polygon(self, points, fill=255):
        self.draw.polygon([self.pt(x, y) for x, y in points], fill=fill)

    def ellipse(self, cx, cy, rx, ry, fill=255):
        self.draw.ellipse([(cx - rx) * SS, (cy - ry) * SS,
                           (cx + rx) * SS, (cy + ry) * SS], fill=fill)

    def line(self, points, width, fill=255):
        self.draw.line([self.pt(x, y) for x, y in points],
                       width=max(1, round(width * SS)), fill=fill, joint="curve")

    def mask(self):
        small = self.image.resize((self.w, self.h), Image.BOX)
        return np.asarray(small, np.float64) / 255.0


def rounded_rect_mask(w, h, x0, y0, x1, y1, radius):
    hr = HiRes(w, h)
    hr.rounded_rect(x0, y0, x1, y1, radius)
    return hr.mask()


def outline_mask(w, h, x0, y0, x1, y1, radius=FRAME_RADIUS, thickness=FRAME_THICKNESS):
    """A rounded-rectangle outline; the background's black frames and the
    lilac hover frames both come from here, so they coincide exactly."""
    hr = HiRes(w, h)
    hr.rounded_rect(x0, y0, x1, y1, radius)
    t = thickness
    hr.rounded_rect(x0 + t, y0 + t, x1 - t, y1 - t, radius - t, fill=0)
    return hr.mask()


def font(path, size):
    return ImageFont.truetype(str(path), max(1, int(round(size))))


def ink(text, path, size, tracking=0.0, stroke=0.0):
    """Renders text at SS times `size` and crops it to its ink. Tracking and
    stroke are in image pixels."""
    f = font(path, size * SS)
    stroke_hr = int(round(stroke * SS))
    pad = int(size * SS) + stroke_hr + 8
    if tracking:
        advance = sum(f.getlength(ch) for ch in text) + tracking * SS * (len(text) - 1)
    else:
        advance = f.getlength(text)
    img = Image.new("L", (int(advance) + 2 * pad, int(size * SS * 2) + 2 * pad), 0)
    d = ImageDraw.Draw(img)
    if tracking:
        x = pad
        for ch in text:
            d.text((x, pad), ch, font=f, fill=255, stroke_width=stroke_hr, stroke_fill=255)
            x += f.getlength(ch) + tracking * SS
    else:
        d.text((pad, pad), text, font=f, fill=255, stroke_width=stroke_hr, stroke_fill=255)
    return img.crop(img.getbbox())


def ink_size(img):
    """Size of a supersampled ink image in image pixels."""
    return img.width / SS, img.height / SS


def place(shape, img, x0, y0, w=None, h=None):
    """Coverage mask of `shape` with the supersampled ink `img` placed with
    its top-left corner at (x0, y0); if w and h are given the ink is scaled to
    fill exactly that many image pixels."""
    if w is not None:
        img = img.resize((int(round(w * SS)), int(round(h * SS))), Image.LANCZOS)
    ox, oy = int(math.floor(x0)), int(math.floor(y0))
    fx, fy = int(round((x0 - ox) * SS)), int(round((y0 - oy) * SS))
    pw = -(-(fx + img.width) // SS)
    ph = -(-(fy + img.height) // SS)
    patch = Image.new("L", (pw * SS, ph * SS), 0)
    patch.paste(img, (fx, fy))
    small = np.asarray(patch.resize((pw, ph), Image.BOX), np.float64) / 255.0
    out = np.zeros(shape[:2])
    H, W = shape[:2]
    x1, y1 = min(W, ox + pw), min(H, oy + ph)
    out[oy:y1, ox:x1] = small[: y1 - oy, : x1 - ox]
    return out


def fit_text(shape, text, path, box, tracking=0.0, stroke=0.0):
    """Text whose ink fills the inclusive pixel box (x0, y0, x1, y1).
    Tracking is given roughly in image pixels at the box's height."""
    x0, y0, x1, y1 = box
    img = ink(text, path, 64, tracking * 64 / max(1, (y1 - y0 + 1)), stroke)
    return place(shape, img, x0, y0, x1 - x0 + 1, y1 - y0 + 1)


def paint(canvas, mask, colour, opacity=1.0):
    """Paints `colour` (RGB triple or H x W x 3 array) through `mask`."""
    m = np.clip(mask * opacity, 0.0, 1.0)[..., None]
    canvas *= 1.0 - m
    canvas += m * np.asarray(colour, np.float64)


class Layers:
    """A premultiplied RGBA picture built bottom-up with the 'over' operator."""

    def __init__(self, w, h):
        self.rgb = np.zeros((h, w, 3))
        self.alpha = np.zeros((h, w))

    def over(self, colour, mask, opacity=1.0):
        a = np.clip(mask * opacity, 0.0, 1.0)
        c = np.broadcast_to(np.asarray(colour, np.float64), self.rgb.shape)
        self.rgb = c * a[..., None] + self.rgb * (1.0 - a[..., None])
        self.alpha = a + self.alpha * (1.0 - a)

    def image(self):
        a = self.alpha[..., None]
        rgb = np.where(a > 1e-6, self.rgb / np.maximum(a, 1e-6), 0.0)
        out = np.concatenate([rgb, a * 255.0], axis=2)
        return Image.fromarray(np.clip(np.rint(out), 0, 255).astype(np.uint8), "RGBA")


def to_rgb_image(canvas):
    return Image.fromarray(np.clip(np.rint(canvas), 0, 255).astype(np.uint8), "RGB")


def save_png(img, path):
    img.save(path, format="PNG", compress_level=9)


def lighting(height, light=(-0.55, -0.8), strength=1.0):
    """Directional light on a height field: positive where a slope faces the
    light (top-left by default)."""
    gy, gx = np.gradient(height)
    lx, ly = light
    return np.clip(-(gx * lx + gy * ly) * strength, -1.0, 1.0)


def seeded(name):
    """A generator per picture, so changing one picture leaves the others
    byte for byte as they were."""
    return np.random.default_rng(zlib.crc32(name.encode()))


# --------------------------------------------------------------------------
# Hover frames

def draw_frame(w, h, inset):
    m = outline_mask(w, h, inset, inset, w - 1 - inset, h - 1 - inset)
    layers = Layers(w, h)
    layers.over(LILAC_FRAME, m)
    return layers.image()


# --------------------------------------------------------------------------
# Fader cap: 240 x 260, body over x 74..165, y 54..204, index line 128..132.

CAP_W, CAP_H = 240, 260
CAP_BODY = (74, 54, 165, 204)
CAP_INDEX_ROWS = (128, 132)


def cap_body_colour():
    x0, y0, x1, y1 = CAP_BODY
    ys = np.arange(CAP_H, dtype=np.float64)[:, None]
    xs = np.arange(CAP_W, dtype=np.float64)[None, :]
    i0, i1 = CAP_INDEX_ROWS
    centre = (i0 + i1) / 2.0

    # Ribs across the cap, 6 pixels apart, counted away from the index line so
    # the two halves mirror each other. Each rib catches the light on its
    # crest (white) and falls to mid grey in its trough.
    d = np.abs(ys - centre) - (i1 - i0 + 1) / 2.0
    phase = np.mod(d, 6.0) / 6.0
    rib = 0.5 + 0.5 * np.cos(2 * np.pi * np.clip(phase * 1.15, 0, 1) ** 0.9)
    # The top face is dished: ribs near the index line sit deeper and darker.
    dish = np.clip(d / 70.0, 0.0, 1.0)
    shade = 138 + (112 - 30 * (1 - dish)) * rib
    # Polished sides: a cylinder-like sweep across x with a highlight left of centre.
    u = (xs - x0) / (x1 - x0)
    sweep = 0.82 + 0.2 * np.exp(-((u - 0.36) / 0.22) ** 2) - 0.16 * (np.abs(u - 0.5) * 2) ** 4
    grey = shade * sweep
    # The upper half faces the light a little more than the lower half.
    grey = grey + np.where(ys < centre, 6.0, -8.0)
    grey = np.clip(grey, 70, 252)
    rgb = np.stack([grey, grey, grey * 1.01], axis=2)

    # End caps: bevels at the top (lit) and bottom (in shade).
    top = np.clip(1 - (ys - y0) / 7.0, 0, 1) * (ys >= y0)
    bottom = np.clip(1 - (y1 - ys) / 7.0, 0, 1) * (ys <= y1)
    rgb = rgb * (1 - top[..., None]) + 248 * top[..., None]
    rgb = rgb * (1 - bottom[..., None]) + 92 * bottom[..., None]

    # The index line.
    line = ((ys >= i0) & (ys <= i1)).astype(np.float64)
    rgb = rgb * (1 - line[..., None]) + np.asarray(CAP_INDEX_LINE, np.float64) * line[..., None]
    # A sharp dark edge above and a lit edge below make the line read as a slot.
    edge_hi = (ys == i0 - 1).astype(np.float64) * 0.55
    edge_lo = (ys == i1 + 1).astype(np.float64) * 0.45
    rgb = rgb * (1 - edge_hi[..., None]) + 40 * edge_hi[..., None]
    rgb = rgb * (1 - edge_lo[..., None]) + 250 * edge_lo[..., None]
    return rgb


def draw_fader_cap(highlighted):
    x0, y0, x1, y1 = CAP_BODY
    body = rounded_rect_mask(CAP_W, CAP_H, x0, y0, x1, y1, 7)
    layers = Layers(CAP_W, CAP_H)

    # Soft shadow, thrown down and to the left, densest under the lower edge.
    hr = HiRes(CAP_W, CAP_H)
    hr.rounded_rect(x0 - 4, y0 + 10, x1 - 6, y1 + 10, 10)
    shadow = blur(hr.mask(), 5) * 0.78
    shadow = np.maximum(shadow, blur(shift(body, -3, 6), 3) * 0.9)
    layers.over((0, 0, 0), shadow)

    if highlighted:
        ring = rounded_rect_mask(CAP_W, CAP_H, x0 - 11, y0 - 11, x1 + 11, y1 + 11, 16)
        # Brighter next to the cap, a touch deeper at the rim: a glow, opaque.
        near = blur(body, 3)
        glow = np.asarray(LILAC_GLOW, np.float64) * (0.94 + 0.14 * near[..., None])
        layers.over(np.clip(glow, 0, 255), ring)

    rgb = cap_body_colour()
    # A thin darker rim gives the cap a crisp silhouette on any background.
    inner = rounded_rect_mask(CAP_W, CAP_H, x0 + 1, y0 + 1, x1 - 1, y1 - 1, 6)
    rim = np.clip(body - inner, 0, 1)
    rgb = rgb * (1 - 0.55 * rim[..., None]) + 60 * 0.55 * rim[..., None]
    layers.over(rgb, body)
    return layers.image()


# --------------------------------------------------------------------------
# CUT key: 180 x 180, body over x 45..134, y 44..131.

KEY_W, KEY_H = 180, 180
KEY_BODY = (45, 44, 134, 131)
KEY_RING = (35, 38, 144, 141)


def draw_cut_key(lit, highlighted):
    x0, y0, x1, y1 = KEY_BODY
    cx, cy = (x0 + x1) / 2.0, (y0 + y1) / 2.0
    body = rounded_rect_mask(KEY_W, KEY_H, x0, y0, x1, y1, 12)
    face = rounded_rect_mask(KEY_W, KEY_H, x0 + 7, y0 + 7, x1 - 7, y1 - 7, 7)
    layers = Layers(KEY_W, KEY_H)
    ys = np.arange(KEY_H, dtype=np.float64)[:, None]
    xs = np.arange(KEY_W, dtype=np.float64)[None, :]

    if lit:
        # The lamp behind the key spills a broad red glow around it.
        glow = blur(body, 7) * 0.5 + blur(body, 16) * 0.55 + blur(body, 30) * 0.6
        glow = np.clip(glow, 0, 0.9)
        layers.over((240, 16, 32), glow)

    shadow = blur(shift(body, 0, 6), 4) * (0.55 if lit else 0.85)
    layers.over((0, 0, 0), shadow)

    if highlighted:
        rx0, ry0, rx1, ry1 = KEY_RING
        ring = rounded_rect_mask(KEY_W, KEY_H, rx0, ry0, rx1, ry1, 18)
        layers.over(CRIMSON_RING, ring)

    # Rim: a bevel lit from the top left. Its height rises from the key's
    # outer edge to the face, so the slopes face outwards.
    height = blur(body, 2) * 6.0 - blur(face, 1) * 2.0
    light = lighting(height, strength=1.6)
    if lit:
        base = np.array([255, 97, 65], np.float64)
        rim_rgb = base * (0.86 + 0.32 * light[..., None])
        rim_rgb = np.minimum(rim_rgb + np.clip(light, 0, 1)[..., None] * np.array([0, 60, 50]), 255)
    else:
        grey = 196 + 62 * light - 10 * ((ys - cy) / 45.0)
        brushed = blur(seeded("key-rim").normal(size=(KEY_H, KEY_W)), 3, 0, 2) * 6
        grey = grey + brushed
        rim_rgb = np.stack([grey, grey, grey * 1.01], axis=2)
    rim_rgb = np.clip(rim_rgb, 0, 255)

    # Face: slightly concave, a little lighter towards the top.
    v = (ys - (y0 + 7)) / ((y1 - 7) - (y0 + 7))
    r2 = ((xs - cx) / 40.0) ** 2 + ((ys - cy) / 40.0) ** 2
    if lit:
        top = np.array([108, 30, 20], np.float64)
        low = np.array([70, 16, 12], np.float64)
        face_rgb = top * (1 - v[..., None]) + low * v[..., None]
        face_rgb = face_rgb * (1.0 + 0.25 * np.exp(-r2 * 1.6))[..., None]
    else:
        g = 47 - 12 * v + 4 * np.exp(-r2 * 1.5)
        face_rgb = np.stack([g, g, g * 0.975], axis=2) * np.ones((1, KEY_W, 1))

    layers.over(rim_rgb, body)
    # The face sits a little below the rim: a dark seam around it.
    seam = np.clip(rounded_rect_mask(KEY_W, KEY_H, x0 + 6, y0 + 6, x1 - 6, y1 - 6, 8) - face, 0, 1)
    layers.over((20, 8, 6) if lit else (22, 22, 22), seam, 0.8)
    layers.over(face_rgb, face)
    # Inner shadow along the face's top edge, where the rim overhangs it.
    inner_shadow = np.clip(face - shift(face, 0, 3), 0, 1)
    layers.over((0, 0, 0), blur(inner_shadow, 1) * face, 0.45)

    legend_img = ink("CUT", INTERFACE_FONT, 33, tracking=1.5, stroke=1.1)
    lw, lh = ink_size(legend_img)
    legend = place((KEY_H, KEY_W), legend_img, cx - lw / 2 + 0.5, cy - lh / 2 + 0.5)
    if lit:
        layers.over((255, 60, 50), blur(legend, 2) * face, 0.55)
        layers.over((255, 132, 113), legend)
    else:
        layers.over((0, 0, 0), shift(legend, 0, 1) * face, 0.6)
        layers.over((255, 255, 255), legend)
    return layers.image()


# --------------------------------------------------------------------------
# Background: 800 x 1340, opaque, stored with a 128-colour palette.

BG_W, BG_H = 800, 1340


def grain(rng, h, w, fine=1.0, mottle=0.0, mottle_radius=18):
    n = normalised(blur(rng.normal(size=(h, w)), 1, 1, 1)) * fine
    if mottle:
        n = n + normalised(blur(rng.normal(size=(h, w)), mottle_radius)) * mottle
    return n


def grey_canvas(value, tint=(1.0, 1.0, 1.0)):
    v = np.asarray(value, np.float64)
    return np.stack([v * tint[0], v * tint[1], v * tint[2]], axis=2)


def brushed_aluminium(rng, h, w):
    """Brushing runs along the fader's travel: fine vertical streaks of
    varying brightness, a faint grain, and a soft sheen across the plate."""
    streaks = normalised(blur(rng.normal(size=(h, w)), 0, 40, 3))
    fibres = normalised(blur(rng.normal(size=(h, w)), 0, 6, 2))
    grit = rng.normal(size=(h, w))
    xs = np.linspace(0, 1, w)[None, :]
    ys = np.linspace(0, 1, h)[:, None]
    sheen = 7 * np.exp(-((xs - 0.3) / 0.35) ** 2) - 6 * xs ** 3 + 4 * (1 - ys)
    value = 210 + sheen + 3.6 * streaks + 2.2 * fibres + 1.3 * grit
    return grey_canvas(value, (1.0, 1.0, 209 / 212))


def wood_grain(rng, h, w):
    ys = np.arange(h, dtype=np.float64)[:, None]
    xs = np.arange(w, dtype=np.float64)[None, :]
    warp = normalised(blur(rng.normal(size=(h, w)), 30, 6)) * 5.0
    rings = np.sin((ys + 3.5 * np.sin(xs / 97.0) + 2.0 * np.sin(xs / 23.0 + 1.3) + warp) * 0.9)
    fibres = normalised(blur(rng.normal(size=(h, w)), 25, 0, 2))
    value = 19 + 3.0 * rings + 2.2 * fibres + 0.8 * rng.normal(size=(h, w))
    return grey_canvas(value, (1.06, 1.0, 0.93))


def bevel_rows(rows):
    """A horizontal bevel, from a list of (grey) values, top to bottom."""
    return np.array(rows, np.float64)[:, None, None] * np.ones((1, BG_W, 3))


def engrave(canvas, mask, colour=(64, 64, 62), highlight=0.75, shadow=0.25):
    """Cut into the metal: a fine white highlight on the lower lip, a
    shadow on the upper lip, and the dark cut itself."""
    paint(canvas, np.clip(shift(mask, 0, 1) - mask, 0, 1), (255, 255, 255), highlight)
    paint(canvas, np.clip(shift(mask, 1, 1) - mask, 0, 1), (255, 255, 255), highlight * 0.5)
    paint(canvas, np.clip(shift(mask, 0, -1) - mask, 0, 1), (0, 0, 0), shadow)
    paint(canvas, mask, colour)


def emboss(canvas, mask, colour=(0, 0, 0)):
    """Raised from the panel: lit edges at the top left, a soft shadow at
    the bottom right."""
    paint(canvas, blur(shift(mask, 2, 3), 2) * (1 - mask), (0, 0, 0), 0.55)
    paint(canvas, mask, colour)
    edge = np.clip(mask - shift(mask, 1, 1), 0, 1)
    paint(canvas, edge, (118, 118, 116), 0.85)
    paint(canvas, np.clip(mask - shift(mask, -1, -1), 0, 1), (0, 0, 0), 0.5)


def logo_mask(shape, box, cap_fraction, stroke):
    """The VELMORA maker's mark: a shallow arch over widely spaced capitals,
    filling the box (x0, y0, x1, y1 inclusive)."""
    x0, y0, x1, y1 = box
    w, h = x1 - x0 + 1, y1 - y0 + 1
    text_h = h * cap_fraction
    text_img = ink("VELMORA", INTERFACE_FONT, 64, tracking=14, stroke=2.2)
    text = place(shape, text_img, x0, y1 + 1 - text_h, w, text_h)
    # Arch: a band between two circles whose chord spans the box width.
    arch_h = h - text_h - max(2.0, h * 0.1)
    hr = HiRes(shape[1], shape[0])
    sagitta = arch_h - stroke
    chord = w * 0.92
    radius = (chord / 2) ** 2 / (2 * sagitta) + sagitta / 2
    ccx = x0 + w / 2.0
    ccy = y0 + stroke + radius
    hr.ellipse(ccx, ccy, radius + stroke / 2, radius + stroke / 2)
    hr.ellipse(ccx, ccy, radius - stroke / 2, radius - stroke / 2, fill=0)
    arch = hr.mask()
    ys = np.arange(shape[0])[:, None]
    arch = arch * (ys <= y0 + arch_h)
    # The arch ends in clean vertical cuts at the chord's ends.
    xs = np.arange(shape[1])[None, :]
    arch = arch * ((xs >= x0 + (w - chord) / 2) & (xs <= x0 + (w + chord) / 2 - 1))
    return np.clip(text + arch, 0, 1)


def quill_mask(shape, box):
    """The QUILLMERE emblem: a quill feather lying across the box, its nib
    to the right."""
    x0, y0, x1, y1 = box
    w, h = x1 - x0 + 1, y1 - y0 + 1
    hr = HiRes(shape[1], shape[0])

    def spine(t):
        x = x0 + t * w
        y = y0 + h * (0.72 - 0.44 * t) - h * 0.22 * math.sin(math.pi * t)
        return x, y

    def normal(t):
        ax, ay = spine(max(0, t - 0.01))
        bx, by = spine(min(1, t + 0.01))
        dx, dy = bx - ax, by - ay
        n = math.hypot(dx, dy)
        return -dy / n, dx / n  # points up-left of the direction of travel

    vane_end = 0.74
    upper, lower = [], []
    steps = 90
    for i in range(steps + 1):
        t = vane_end * i / steps
        s = math.sin(math.pi * min(1.0, (t / vane_end) ** 0.8)) ** 0.75
        hu = h * 0.36 * s
        hd = h * 0.2 * s
        px, py = spine(t)
        nx, ny = normal(t)
        upper.append((px + nx * hu, py + ny * hu))
        lower.append((px - nx * hd, py - ny * hd))
    hr.polygon(upper + lower[::-1])

    # Barbs split apart: slanted notches cut into both vanes.
    for t, side, depth in ((0.2, 1, 0.9), (0.41, 1, 0.8), (0.3, -1, 0.85), (0.55, -1, 0.7)):
        px, py = spine(t)
        nx, ny = normal(t)
        tx, ty = spine(t - 0.06)
        reach = h * (0.4 if side > 0 else 0.24)
        ex, ey = tx + side * nx * reach, ty + side * ny * reach
        sx, sy = px + side * nx * reach * (1 - depth), py + side * ny * reach * (1 - depth)
        hr.line([(sx, sy), (ex, ey)], 2.2, fill=0)

    # Rachis along the vane, then the bare shaft and the nib.
    hr.line([spine(vane_end * i / 40) for i in range(2, 41)], 1.6, fill=0)
    nib_start = 0.87
    hr.line([spine(vane_end + (nib_start + 0.01 - vane_end) * i / 20) for i in range(21)], 2.8)
    # The nib: a shoulder a little wider than the shaft, tapering to the tip,
    # with its slit and breather hole cut out.
    left, right = [], []
    for i in range(31):
        s = i / 30.0
        t = nib_start + (1.0 - nib_start) * s
        half = 3.6 * (1.0 - s) ** 0.75 + 0.2
        px, py = spine(t)
        nx, ny = normal(t)
        left.append((px + nx * half, py + ny * half))
        right.append((px - nx * half, py - ny * half))
    hr.polygon(left + right[::-1])
    hole_x, hole_y = spine(nib_start + (1.0 - nib_start) * 0.3)
    hr.ellipse(hole_x, hole_y, 1.1, 1.1, fill=0)
    hr.line([spine(nib_start + (1.0 - nib_start) * 0.3), spine(nib_start + (1.0 - nib_start) * 0.88)],
            0.7, fill=0)
    return hr.mask()


def draw_background():
    rng = seeded("background")
    shape = (BG_H, BG_W)
    canvas = np.zeros((BG_H, BG_W, 3))

    # Top-left panel, where the CUT key sits.
    dark = grey_canvas(60 + grain(rng, 238, 360, 2.4, 1.6), (1.0, 1.0, 0.985))
    ys = np.arange(238, dtype=np.float64)[:, None]
    dark += (4 - 8 * ys / 237)[..., None]
    canvas[0:238, 0:360] = dark

    # Top-right band: pure black, carrying the wordmark.
    canvas[0:234, 360:800] = 0.0

    # Left plate, seam and right panel.
    canvas[242:1230, 0:359] = brushed_aluminium(rng, 988, 359)
    panel = grey_canvas(45 + grain(rng, 988, 439, 2.0, 1.3, 24), (1.0, 1.0, 44 / 45))
    ys = np.arange(988, dtype=np.float64)[:, None]
    xs = np.arange(439, dtype=np.float64)[None, :]
    panel += (3.5 * (1 - ys / 988) - 2.5 * ((xs / 438) ** 2))[..., None]
    canvas[242:1230, 361:800] = panel
    canvas[242:1230, 359] = 24.0
    canvas[242:1230, 360] = 12.0
    # Plate edge: rolled off towards the seam.
    for i, k in enumerate((0.93, 0.86, 0.78)):
        canvas[242:1230, 358 - i] *= k
    canvas[242:1230, 0] *= 0.9
    canvas[242:1230, 361] = canvas[242:1230, 361] * 0.6 + 80 * 0.4

    # Separator under the top row, and the bevel above the wooden end cheek.
    canvas[234:242] = bevel_rows([70, 232, 246, 214, 178, 140, 96, 40])
    canvas[1230:1238] = bevel_rows([40, 168, 226, 238, 200, 150, 88, 30])
    canvas[1238:1340] = wood_grain(rng, 102, BG_W)
    canvas[1238:1242] *= np.array([0.4, 0.6, 0.8, 0.9])[:, None, None]

    draw_top_left(canvas, shape)
    draw_band(canvas, shape)
    draw_plate(canvas, shape)
    draw_right_panel(canvas, shape)

    return to_palette_image(to_rgb_image(canvas))


def to_palette_image(img, colours=128, ramp=32):
    """Indexed colour with a fixed-size palette: median cut finds the
    textures' colours, and an even grey ramp keeps anti-aliased edges (white
    on black, black on metal) free of stray steps. Every pixel takes its
    nearest palette colour."""
    cut = img.quantize(colors=colours - ramp, method=Image.Quantize.MEDIANCUT,
                       dither=Image.Dither.NONE)
    palette = np.array(cut.getpalette()[: 3 * (colours - ramp)], np.float64).reshape(-1, 3)
    greys = np.rint(np.linspace(0, 255, ramp))
    palette = np.concatenate([palette, np.stack([greys] * 3, axis=1)])
    rgb = np.asarray(img, np.float64)
    index = np.empty(rgb.shape[:2], np.uint8)
    for y in range(0, rgb.shape[0], 64):
        block = rgb[y:y + 64, :, None, :] - palette[None, None, :, :]
        index[y:y + 64] = np.argmin((block ** 2).sum(axis=3), axis=2)
    out = Image.fromarray(index, "P")
    out.putpalette(palette.astype(np.uint8).flatten().tolist())
    return out


def draw_top_left(canvas, shape):
    # A shallow well the CUT key sits in (the key image is drawn at 90, 30).
    x0, y0, x1, y1 = 90 + 33, 30 + 35, 90 + 146, 30 + 144
    well = rounded_rect_mask(shape[1], shape[0], x0, y0, x1, y1, 18)
    paint(canvas, well, (34, 34, 33), 0.55)
    paint(canvas, np.clip(well - shift(well, 0, 2), 0, 1), (0, 0, 0), 0.5)
    paint(canvas, np.clip(shift(well, 0, 2) - well, 0, 1), (150, 150, 148), 0.55)
    paint(canvas, np.clip(shift(well, 1, 0) - well, 0, 1), (120, 120, 118), 0.3)
    # Panel edges.
    canvas[0:234, 357:360] *= np.array([0.85, 0.7, 0.5])[None, :, None]
    canvas[0, 0:360] = canvas[0, 0:360] * 0.5 + 110 * 0.5


def draw_band(canvas, shape):
    emblem = quill_mask(shape, (430, 54, 729, 118))
    paint(canvas, emblem, (255, 255, 255))
    word = fit_text(shape, "QUILLMERE", INTERFACE_FONT, (430, 131, 729, 171), tracking=10, stroke=1.0)
    paint(canvas, word, (255, 255, 255))
    banner_img = ink("MOTOR FADER  \u00b7  CUT  \u00b7  SCRIBBLE STRIP", INTERFACE_FONT, 17, tracking=1.6)
    bw, bh = ink_size(banner_img)
    banner = place(shape, banner_img, 579.5 - bw / 2 + 0.5, 196)
    paint(canvas, banner, (255, 255, 255))


def draw_screw(canvas, shape, cx, cy, angle):
    r = 13.0
    hr = HiRes(shape[1], shape[0])
    hr.ellipse(cx + 0.5, cy + 0.5, r + 2.5, r + 2.5)
    countersink = hr.mask()
    hr = HiRes(shape[1], shape[0])
    hr.ellipse(cx + 0.5, cy + 0.5, r, r)
    head = hr.mask()
    paint(canvas, countersink, (70, 70, 68), 0.7)
    paint(canvas, np.clip(shift(countersink, 0, 1) - countersink, 0, 1), (255, 255, 255), 0.6)
    ys = np.arange(shape[0], dtype=np.float64)[:, None] - cy
    xs = np.arange(shape[1], dtype=np.float64)[None, :] - cx
    dome = np.clip(1 - (xs ** 2 + ys ** 2) / r ** 2, 0, 1)
    light = lighting(np.sqrt(dome) * 10, strength=1.2)
    g = 176 + 60 * light
    paint(canvas, head, np.stack([g, g, g * 0.985], axis=2))
    hr = HiRes(shape[1], shape[0])
    for a in (angle, angle + math.pi / 2):
        dx, dy = math.cos(a) * (r - 3), math.sin(a) * (r - 3)
        hr.line([(cx + 0.5 - dx, cy + 0.5 - dy), (cx + 0.5 + dx, cy + 0.5 + dy)], 3.4)
    slot = hr.mask() * head
    paint(canvas, np.clip(shift(slot, 1, 1) - slot, 0, 1) * head, (255, 255, 255), 0.7)
    paint(canvas, slot, (48, 48, 47))


def draw_plate(canvas, shape):
    draw_screw(canvas, shape, 181, 330, math.radians(22))
    draw_screw(canvas, shape, 181, 1138, math.radians(61))

    # Fader slot.
    groove = rounded_rect_mask(shape[1], shape[0], 174, 386, 185, 1085, 6)
    paint(canvas, np.clip(shift(groove, 1, 1) + shift(groove, 0, 2) - 2 * groove, 0, 1),
          (255, 255, 255), 0.55)
    paint(canvas, np.clip(shift(groove, -1, -1) - groove, 0, 1), (0, 0, 0), 0.35)
    xs = np.arange(shape[1], dtype=np.float64)[None, :]
    depth = 9 + 12 * np.exp(-((xs - 180.5) / 3.0) ** 2) * np.ones((shape[0], 1))
    paint(canvas, groove, np.stack([depth, depth, depth], axis=2))

    # Scale marks and labels, engraved.
    marks = np.zeros(shape)
    for label, centre in SCALE_MARKS:
        height = 6 if label == "0" else 4
        top = int(round(centre - (height - 1) / 2.0))
        marks[top:top + height, 55:155] = 1.0
        marks[top:top + height, 203:252] = 1.0
    labels = np.zeros(shape)
    for (label, centre), size in zip(SCALE_MARKS, scale_label_sizes()):
        if label == "inf":
            img = infinity_ink(size)
        else:
            img = ink(label.replace("-", "\u2013"), INTERFACE_FONT, size)
        _, h = ink_size(img)
        labels = np.maximum(labels, place(shape, img, 264, centre + 0.5 - h / 2))
    engrave(canvas, marks)
    engrave(canvas, labels, colour=(58, 58, 57))

    # Maker's mark, small, engraved into the foot of the plate.
    engrave(canvas, logo_mask(shape, (120, 1184, 239, 1205), 0.62, 1.8), colour=(66, 66, 64),
            highlight=0.6)


def scale_label_sizes():
    """The size of each scale label: LABEL_SIZE, or smaller where the nearest
    neighbouring mark is too close for a digit's height and LABEL_GAP."""
    digit_h = ink_size(ink("0", INTERFACE_FONT, LABEL_SIZE))[1]
    centres = [centre for _, centre in SCALE_MARKS]
    sizes = []
    for i, centre in enumerate(centres):
        room = min(abs(centre - other) for j, other in enumerate(centres) if j != i)
        sizes.append(LABEL_SIZE * min(1.0, (room - LABEL_GAP) / digit_h))
    return sizes


def infinity_ink(size):
    """The infinity label, drawn as a lemniscate: the interface face's own
    sign is too small next to its digits."""
    digit_h = ink_size(ink("0", INTERFACE_FONT, size))[1]
    a = digit_h * 0.82  # half the width
    stroke = 2.5
    w, h = int(2 * a + 2 * stroke + 2), int(a + 2 * stroke + 2)
    hr = HiRes(w, h)
    points = []
    for i in range(241):
        t = 2 * math.pi * i / 240
        d = 1 + math.sin(t) ** 2
        points.append((w / 2 + a * math.cos(t) / d, h / 2 + a * 1.1 * math.sin(t) * math.cos(t) / d))
    hr.line(points, stroke)
    return hr.image.crop(hr.image.getbbox())


def draw_right_panel(canvas, shape):
    emboss(canvas, logo_mask(shape, (431, 281, 785, 403), 0.45, 7.0))

    caption_boxes = [
        ("CH:", (558, 454, 596, 473)),
        ("DEVICE:", (535, 627, 624, 646)),
        ("MIDI IN:", (534, 778, 625, 796)),
        ("MIDI OUT:", (521, 927, 638, 946)),
    ]
    for text, box in caption_boxes:
        paint(canvas, fit_text(shape, text, INTERFACE_FONT, box, tracking=1.0), CAPTION_GREY)

    # Selector frames: black outlines the hover frames replace exactly.
    t = FRAME_THICKNESS
    boxes = [(400 + WIDE_FRAME_INSET, y + WIDE_FRAME_INSET,
              400 + 359 - WIDE_FRAME_INSET, y + 59 - WIDE_FRAME_INSET) for y in WIDE_SELECTORS_Y]
    x, y, w, h = CHANNEL_SELECTOR
    boxes.append((x + SMALL_FRAME_INSET, y + SMALL_FRAME_INSET,
                  x + w - 1 - SMALL_FRAME_INSET, y + h - 1 - SMALL_FRAME_INSET))
    for x0, y0, x1, y1 in boxes:
        outline = outline_mask(BG_W, BG_H, x0, y0, x1, y1)
        # The window inside each frame is a shade darker than the panel, and
        # the panel catches a little light just below the frame.
        window = rounded_rect_mask(BG_W, BG_H, x0 + t, y0 + t, x1 - t, y1 - t, FRAME_RADIUS - t)
        paint(canvas, window, (28, 28, 27), 0.35)
        outer = rounded_rect_mask(BG_W, BG_H, x0, y0, x1, y1, FRAME_RADIUS)
        paint(canvas, np.clip(shift(outer, 0, 2) - outer, 0, 1), (120, 120, 118), 0.35)
        paint(canvas, outline, (0, 0, 0))

    # Scribble strip: a light panel with a black outline.
    strip = rounded_rect_mask(BG_W, BG_H, 405, 1090, 754, 1189, FRAME_RADIUS)
    rng = seeded("scribble")
    fill = 217 + grain(rng, BG_H, BG_W, 1.3, 0.8, 12)
    ys = np.arange(BG_H, dtype=np.float64)[:, None]
    fill = fill + np.clip((1100 - ys) / 10.0, 0, 1) * -10
    paint(canvas, np.clip(shift(strip, 0, 2) - strip, 0, 1), (120, 120, 118), 0.35)
    paint(canvas, strip, grey_canvas(fill))
    paint(canvas, outline_mask(BG_W, BG_H, 405, 1090, 754, 1189), (0, 0, 0))


IMAGES = {
    "cut_off.png": lambda: draw_cut_key(lit=False, highlighted=False),
    "cut_off_highlighted.png": lambda: draw_cut_key(lit=False, highlighted=True),
    "cut_on.png": lambda: draw_cut_key(lit=True, highlighted=False),
    "cut_on_highlighted.png": lambda: draw_cut_key(lit=True, highlighted=True),
    "fader_cap.png": lambda: draw_fader_cap(highlighted=False),
    "fader_cap_highlighted.png": lambda: draw_fader_cap(highlighted=True),
    "frame_wide.png": lambda: draw_frame(360, 60, WIDE_FRAME_INSET),
    "frame_small.png": lambda: draw_frame(140, 120, SMALL_FRAME_INSET),
    "background.png": draw_background,
}


def main(argv):
    """Writes the images into Resources/, or into the folder given."""
    out = Path(argv[1]) if len(argv) > 1 else RESOURCES
    out.mkdir(parents=True, exist_ok=True)
    for name, draw in IMAGES.items():
        save_png(draw(), out / name)


if __name__ == "__main__":
    main(sys.argv)

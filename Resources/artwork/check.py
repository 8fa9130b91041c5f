#!/usr/bin/python3
"""Checks the editor artwork in Resources/ against the layout the editor
relies on: image sizes and PNG colour types, the background's palette, the
hover frames lying exactly over the background's black frames, the fader
scale marks where the cap's index line stops, the opaque extents of the cap
and key images, and that generate.py reproduces the committed files.

Run: /usr/bin/python3 Resources/artwork/check.py [--skip-regenerate]
"""

import struct
import subprocess
import sys
import tempfile
from pathlib import Path

import numpy as np
from PIL import Image

HERE = Path(__file__).resolve().parent
RESOURCES = HERE.parent
FONTS = RESOURCES / "fonts"

RGBA, INDEXED = 6, 3
EXPECTED = {  # name: (width, height, PNG colour type)
    "cut_off.png": (180, 180, RGBA),
    "cut_off_highlighted.png": (180, 180, RGBA),
    "cut_on.png": (180, 180, RGBA),
    "cut_on_highlighted.png": (180, 180, RGBA),
    "fader_cap.png": (240, 260, RGBA),
    "fader_cap_highlighted.png": (240, 260, RGBA),
    "background.png": (800, 1340, INDEXED),
    "frame_wide.png": (360, 60, RGBA),
    "frame_small.png": (140, 120, RGBA),
}

LILAC = (180, 129, 208)
# Selector bounds in the editor, doubled to background pixels: (x, y, w, h).
WIDE_SELECTORS = [(400, 660, 360, 60), (400, 810, 360, 60), (400, 960, 360, 60)]
CHANNEL_SELECTOR = (510, 480, 140, 120)
# Fader scale: (label, mark centre row, line height).
MARKS = [("+10", 409.5, 4), ("+5", 499.5, 4), ("0", 589.5, 6), ("-5", 679.5, 4),
         ("-10", 789.5, 4), ("-20", 879.5, 4), ("-30", 929.5, 4), ("-40", 969.5, 4),
         ("-50", 1009.5, 4), ("-60", 1039.5, 4), ("inf", 1059.5, 4)]

failures = []
passes = 0


def check(condition, what):
    global passes
    if condition:
        passes += 1
    else:
        failures.append(what)
        print("FAIL:", what)


def png_chunks(path):
    data = path.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", path
    chunks, i = [], 8
    while i < len(data):
        (n,) = struct.unpack(">I", data[i:i + 4])
        chunks.append((data[i + 4:i + 8], data[i + 8:i + 8 + n]))
        i += 12 + n
    return chunks


def check_formats():
    for name, (w, h, colour_type) in EXPECTED.items():
        path = RESOURCES / name
        check(path.exists(), f"{name} exists")
        if not path.exists():
            continue
        chunks = png_chunks(path)
        ihdr = dict(chunks)[b"IHDR"]
        width, height, depth, ctype = struct.unpack(">IIBB", ihdr[:10])
        check((width, height) == (w, h), f"{name} is {w} x {h} (is {width} x {height})")
        check(depth == 8, f"{name} has 8 bits per sample (has {depth})")
        check(ctype == colour_type, f"{name} has PNG colour type {colour_type} (has {ctype})")
        if colour_type == INDEXED:
            plte = dict(chunks).get(b"PLTE", b"")
            check(len(plte) == 128 * 3, f"{name} has a 128-entry palette (has {len(plte) // 3})")
            check(b"tRNS" not in dict(chunks), f"{name} is opaque (no tRNS chunk)")
            check(path.stat().st_size < 1_000_000, f"{name} is under 1 MB")


def load(name):
    return np.asarray(Image.open(RESOURCES / name).convert("RGBA"), np.float64)


def luminance(rgb):
    return rgb[..., :3] @ np.array([0.299, 0.587, 0.114])


def check_frame_overlay(frame_name, selector, inset):
    """The hover frame, drawn at the selector's bounds, must cover the black
    outline exactly: black under every opaque frame pixel, no black under
    any transparent one, and edge pixels as dark as their coverage."""
    frame = load(frame_name)
    bg = load("background.png")
    x, y, w, h = selector
    under = luminance(bg[y:y + h, x:x + w])
    alpha = frame[..., 3] / 255.0
    opaque = alpha >= 1.0
    clear = alpha <= 0.0
    edge = ~opaque & ~clear
    where = f"{frame_name} at {x},{y}"
    check(opaque.sum() > 0, f"{where}: has opaque pixels")
    check(np.all(under[opaque] < 8), f"{where}: black under every opaque frame pixel "
          f"({int((under[opaque] >= 8).sum())} are not)")
    check(np.all(under[clear] > 20), f"{where}: no black outside the frame "
          f"({int((under[clear] <= 20).sum())} black pixels show)")
    darkness = 1.0 - under[edge] / 60.0
    check(np.all(np.abs(darkness - alpha[edge]) < 0.45),
          f"{where}: anti-aliased corners agree with the background")
    colour = frame[..., :3][alpha > 0]
    check(np.all(np.abs(colour - LILAC).max(axis=1) <= 1), f"{frame_name}: outline is lilac B481D0")
    rows = np.nonzero(opaque.any(axis=1))[0]
    cols = np.nonzero(opaque.any(axis=0))[0]
    check((rows[0], cols[0], h - 1 - rows[-1], w - 1 - cols[-1]) == (inset,) * 4,
          f"{frame_name}: outline starts {inset} pixels inside the edge")
    thickness = opaque[h // 2, : w // 2].sum()
    check(thickness == 4, f"{frame_name}: outline is 4 pixels thick (is {thickness})")


def runs(column):
    """(start, length) of each run of True in a boolean column."""
    out, start = [], None
    for i, v in enumerate(list(column) + [False]):
        if v and start is None:
            start = i
        elif not v and start is not None:
            out.append((start, i - start))
            start = None
    return out


def check_scale():
    bg = load("background.png")
    lum = luminance(bg)
    for x, side in ((100, "left"), (228, "right")):
        found = runs(lum[380:1080, x] < 120)
        centres = [(380 + s + (n - 1) / 2.0, n) for s, n in found]
        expected = [(c, n) for _, c, n in MARKS]
        check(centres == expected, f"{side} scale marks at {expected} (found {centres})")
    for label, centre, _ in MARKS:
        rows = slice(int(centre) - 9, int(centre) + 10)
        ink = lum[rows, 264:306] < 120
        check(ink.any(), f"label {label} printed right of its mark")
        ys = np.nonzero(ink.any(axis=1))[0] + int(centre) - 9
        check(abs((ys[0] + ys[-1]) / 2.0 - centre) <= 1.5, f"label {label} centred on its mark")
    check(np.all(lum[420:1070, 179] < 40), "fader groove runs dark from above +10 to below infinity")

    # Neighbouring labels stay apart at the editor's half size: between the
    # engraving of one (its dark cut and its white lip) and the next lie at
    # least 5 rows (2.5 editor pixels) of bare metal.
    column = lum[380:1080, 264:306]
    engraved = runs(((column < 120) | (column > 230)).any(axis=1))
    check(len(engraved) == len(MARKS), f"one engraved run of rows per label ({len(engraved)} found)")
    for (label, _, _), (above, below) in zip(MARKS[1:], zip(engraved, engraved[1:])):
        gap = below[0] - (above[0] + above[1])
        check(gap >= 5, f"label {label} keeps 5 rows clear of the label above it (keeps {gap})")


def opaque_box(name):
    a = load(name)[..., 3] >= 255
    rows = np.nonzero(a.any(axis=1))[0]
    cols = np.nonzero(a.any(axis=0))[0]
    return cols[0], rows[0], cols[-1], rows[-1]


def near(box, expected, tolerance):
    return all(abs(a - b) <= tolerance for a, b in zip(box, expected))


def check_cap_and_keys():
    for name, box, tol in (("fader_cap.png", (74, 54, 165, 204), 1),
                           ("fader_cap_highlighted.png", (63, 43, 176, 215), 2),
                           ("cut_off.png", (45, 44, 134, 131), 1),
                           ("cut_on.png", (45, 44, 134, 131), 1),
                           ("cut_off_highlighted.png", (35, 38, 144, 141), 2),
                           ("cut_on_highlighted.png", (35, 38, 144, 141), 2)):
        found = opaque_box(name)
        check(near(found, box, tol), f"{name}: opaque over {box} (is {tuple(map(int, found))})")

    for name in ("fader_cap.png", "fader_cap_highlighted.png"):
        cap = load(name)
        line = cap[128:133, 80:160, :3]
        check(np.all(np.abs(line - (58, 57, 57)).max(axis=2) <= 2),
              f"{name}: index line RGB 58,57,57 over rows 128..132")
        check(np.all(luminance(cap[[120, 140], 80:160]) > 100), f"{name}: chrome ribs either side of the line")
        check(cap[250, 10, 3] == 0 and cap[5, 230, 3] == 0, f"{name}: transparent far from the cap")
        check(cap[210, 110, 3] > 60, f"{name}: shadow under the cap's lower edge")
    glow = load("fader_cap_highlighted.png")[130, 68]
    check(np.abs(glow[:3] - (177, 124, 206)).max() <= 12 and glow[3] == 255, "cap glow band is opaque lilac")

    # The layout's cap placement: top = travel - travel * value, truncated,
    # travel = 455 - 130, the slider's top at editor y 140; image = 2 x editor.
    travel = np.float32(325.0)
    top = int(travel - travel * np.float32(0.72))
    index_centre = 2 * (140 + top) + 130
    check(587 <= index_centre <= 592, f"at 0.72 the index line ({index_centre}) lands on the 0 mark")

    for name, lit in (("cut_off.png", False), ("cut_on.png", True), ("cut_on_highlighted.png", True)):
        key = load(name)
        face = key[100, 60, :3]
        if lit:
            check(key[20, 90, 3] > 0 and key[20, 90, 0] > 200 > key[20, 90, 1] * 3,
                  f"{name}: red glow around the key")
            check(face[0] > face[1] * 2 and face[0] < 160, f"{name}: dark red-brown face")
        else:
            check(np.abs(face - 40).max() < 14, f"{name}: dark charcoal face")
            check(luminance(key[45, 89]) > 180, f"{name}: bright silver rim")
    for name in ("cut_off_highlighted.png", "cut_on_highlighted.png"):
        ring = load(name)[88, 38]
        check(np.abs(ring[:3] - (236, 50, 69)).max() <= 3 and ring[3] == 255, f"{name}: crimson ring")


def check_background_regions():
    bg = load("background.png")
    mean = lambda x0, y0, x1, y1: bg[y0:y1 + 1, x0:x1 + 1, :3].reshape(-1, 3).mean(axis=0)
    for what, box, colour, tol in (
            ("top-left panel", (5, 5, 80, 230), (60, 60, 60), 8),
            ("left plate", (20, 260, 50, 1220), (212, 212, 209), 8),
            ("right panel", (370, 420, 500, 620), (45, 45, 44), 6),
            ("scribble panel", (420, 1100, 740, 1180), (217, 217, 217), 6),
            ("wood strip", (0, 1250, 799, 1339), (19, 19, 19), 6)):
        m = mean(*box)
        check(np.abs(m - colour).max() <= tol, f"{what} about RGB {colour} (is {np.round(m).astype(int)})")
    band = bg[0:234, 360:800, :3]
    letters = (band.max(axis=2) > 0).mean()
    check(band[0:50].max() == 0 and 0.02 < letters < 0.3, "black band carrying white lettering")
    check(luminance(bg[237:240, 10:790]).mean() > 150, "bright separator line across the top")
    for cx, cy in ((181, 330), (181, 1138)):
        check(luminance(bg[cy - 8:cy + 9, cx - 8:cx + 9]).std() > 20, f"screw at {cx},{cy}")


def check_fonts():
    for name, magic in (("interface_font.ttf", b"\x00\x01\x00\x00"),
                        ("channel_font.otf", b"OTTO"),
                        ("marker_font.ttf", b"\x00\x01\x00\x00")):
        path = FONTS / name
        check(path.exists() and path.read_bytes()[:4] == magic,
              f"fonts/{name} is {'CFF OpenType' if magic == b'OTTO' else 'TrueType'}")
        licence = FONTS / (path.stem + ".LICENSE.txt")
        check(licence.exists() and "Font License" in licence.read_text(errors="replace"),
              f"fonts/{licence.name} carries the font's licence")


def check_reproducible():
    with tempfile.TemporaryDirectory() as out:
        subprocess.run([sys.executable, str(HERE / "generate.py"), out], check=True)
        for name in EXPECTED:
            same = (Path(out) / name).read_bytes() == (RESOURCES / name).read_bytes()
            check(same, f"generate.py reproduces {name} byte for byte")


def main():
    check_formats()
    if not failures:
        check_frame_overlay("frame_wide.png", WIDE_SELECTORS[0], 5)
        for selector in WIDE_SELECTORS[1:]:
            check_frame_overlay("frame_wide.png", selector, 5)
        check_frame_overlay("frame_small.png", CHANNEL_SELECTOR, 10)
        check_scale()
        check_cap_and_keys()
        check_background_regions()
    check_fonts()
    if "--skip-regenerate" not in sys.argv:
        check_reproducible()
    print(f"{passes} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

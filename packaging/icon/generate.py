#!/usr/bin/python3
"""Draws Quillmere's program icon: the quill emblem of the editor's right
panel, lilac on a dark rounded square, lit from the top left as the panel is.

Writes quillmere.png (256 x 256, for the Debian package's desktop entry) and
quillmere.ico (16 to 256 pixels, for the Windows installer, its uninstaller
and the entry Windows lists installed programs with). The emblem comes from
the editor artwork's own drawing code, so the two never drift apart.

Run it through packaging/icon/regenerate.
"""

import sys

sys.dont_write_bytecode = True  # no cache folder beside the artwork code it imports
from pathlib import Path

import numpy as np

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent.parent / "Resources" / "artwork"))
import generate as artwork  # noqa: E402  (the editor artwork's drawing code)

SIZE = 256
ICO_SIZES = [16, 24, 32, 48, 64, 128, 256]
PANEL_TOP, PANEL_BOTTOM = 72.0, 34.0  # grey of the square at its top and bottom edge


def draw_icon():
    shape = (SIZE, SIZE)
    layers = artwork.Layers(SIZE, SIZE)

    # The square: a rounded plate with a vertical gradient and a light rim
    # along its top-left edges.
    plate = artwork.rounded_rect_mask(SIZE, SIZE, 8, 8, SIZE - 9, SIZE - 9, 46)
    ys = np.linspace(0.0, 1.0, SIZE)[:, None, None]
    grey = PANEL_TOP + (PANEL_BOTTOM - PANEL_TOP) * ys
    layers.over(np.broadcast_to(grey, (SIZE, SIZE, 3)), plate)
    rim = np.clip(plate - artwork.shift(plate, 3, 3), 0, 1)
    layers.over((150, 150, 146), rim, 0.6)

    # The emblem, with a soft shadow under it.
    quill = artwork.quill_mask(shape, (38, 46, 218, 214))
    layers.over((0, 0, 0), artwork.blur(artwork.shift(quill, 3, 4), 4) * plate, 0.55)
    layers.over(artwork.LILAC_FRAME, quill)
    return layers.image()


def main(argv):
    """Writes the icon files into this folder, or into the folder given."""
    out = Path(argv[1]) if len(argv) > 1 else HERE
    out.mkdir(parents=True, exist_ok=True)
    icon = draw_icon()
    artwork.save_png(icon, out / "quillmere.png")
    icon.save(out / "quillmere.ico", format="ICO", sizes=[(s, s) for s in ICO_SIZES])


if __name__ == "__main__":
    main(sys.argv)

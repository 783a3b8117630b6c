#!/usr/bin/env python3
"""Draws the pictures of Kelvo's own skin, "Kelvo Light", as 24-bit BMP files.

The pictures are committed beside this script; run it again after changing a
drawing (python3 make_pictures.py [OUTPUT_DIR]). Frames of a picture lie side
by side, in the state order normal, mouse over, pressed, disabled, focused.
Standard library only.
"""
import os
import struct
import sys

# A light, quiet palette for a card program: paper white, soft greys, one blue.
PAPER = (250, 251, 252)
FACE = (241, 243, 246)
FACE_HOVER = (232, 240, 252)
FACE_PRESSED = (214, 227, 247)
FACE_DISABLED = (236, 237, 239)
LINE = (196, 202, 212)
LINE_DARK = (160, 168, 180)
ACCENT = (58, 118, 210)
ACCENT_DARK = (40, 92, 176)
ACCENT_LIGHT = (120, 166, 234)
INK = (60, 66, 76)
INK_DISABLED = (170, 174, 180)
TITLE_TOP = (248, 250, 253)
TITLE_BOTTOM = (226, 233, 244)
INACTIVE_TOP = (246, 246, 247)
INACTIVE_BOTTOM = (234, 235, 237)
KEY = (255, 0, 255)  # the transparent colour of pictures drawn with Trans=1


class Picture:
    def __init__(self, width, height, fill=PAPER):
        self.width = width
        self.height = height
        self.pixels = [[fill] * width for _ in range(height)]

    def put(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = colour

    def rect(self, x0, y0, w, h, colour):
        for y in range(y0, y0 + h):
            for x in range(x0, x0 + w):
                self.put(x, y, colour)

    def gradient(self, x0, y0, w, h, top, bottom):
        for y in range(h):
            t = y / max(h - 1, 1)
            c = tuple(round(a + (b - a) * t) for a, b in zip(top, bottom))
            self.rect(x0, y0 + y, w, 1, c)

    def frame(self, x0, y0, w, h, colour, rounded=True):
        for x in range(x0 + (1 if rounded else 0), x0 + w - (1 if rounded else 0)):
            self.put(x, y0, colour)
            self.put(x, y0 + h - 1, colour)
        for y in range(y0 + (1 if rounded else 0), y0 + h - (1 if rounded else 0)):
            self.put(x0, y, colour)
            self.put(x0 + w - 1, y, colour)

    def triangle(self, cx, cy, direction, size, colour):
        """A filled arrow head pointing up, down, left or right."""
        for i in range(size):
            for j in range(-i, i + 1):
                if direction == "down":
                    self.put(cx + j, cy - size // 2 + (size - 1 - i), colour)
                elif direction == "up":
                    self.put(cx + j, cy - size // 2 + i, colour)
                elif direction == "right":
                    self.put(cx - size // 2 + (size - 1 - i), cy + j, colour)
                else:
                    self.put(cx - size // 2 + i, cy + j, colour)

    def disc(self, cx, cy, r, colour):
        for y in range(-r, r + 1):
            for x in range(-r, r + 1):
                if x * x + y * y <= r * r + r:
                    self.put(cx + x, cy + y, colour)

    def save(self, path):
        stride = (self.width * 3 + 3) & ~3
        image_size = stride * self.height
        with open(path, "wb") as f:
            f.write(b"BM")
            f.write(struct.pack("<IHHI", 54 + image_size, 0, 0, 54))
            f.write(struct.pack("<IiiHHIIiiII", 40, self.width, self.height, 1, 24, 0, image_size, 2835, 2835, 0, 0))
            for row in reversed(self.pixels):
                line = b"".join(bytes((b, g, r)) for r, g, b in row)
                f.write(line + b"\0" * (stride - len(line)))


STATES = [
    (FACE, LINE, INK),  # normal
    (FACE_HOVER, ACCENT_LIGHT, INK),  # mouse over
    (FACE_PRESSED, ACCENT, INK),  # pressed
    (FACE_DISABLED, LINE, INK_DISABLED),  # disabled
    (FACE, ACCENT, INK),  # focused
]


def button_frames(w, h, count=5, gradient=True):
    p = Picture(w * count, h)
    for i in range(count):
        face, line, _ = STATES[i % len(STATES)]
        x0 = i * w
        if gradient and i != 2:
            lighter = tuple(min(255, c + 8) for c in face)
            p.gradient(x0, 0, w, h, lighter, face)
        else:
            p.rect(x0, 0, w, h, face)
        p.frame(x0, 0, w, h, line)
        for corner in ((x0, 0), (x0 + w - 1, 0), (x0, h - 1), (x0 + w - 1, h - 1)):
            p.put(*corner, PAPER)
    return p


def title():
    p = Picture(40 * 2, 28)
    for i, (top, bottom) in enumerate(((TITLE_TOP, TITLE_BOTTOM), (INACTIVE_TOP, INACTIVE_BOTTOM))):
        p.gradient(i * 40, 0, 40, 28, top, bottom)
        p.rect(i * 40, 0, 40, 1, LINE_DARK if i else ACCENT)
        p.rect(i * 40, 27, 40, 1, LINE)
    return p


def frame_edge(w, h):
    p = Picture(w * 2, h)
    for i in range(2):
        p.rect(i * w, 0, w, h, TITLE_BOTTOM if i == 0 else INACTIVE_BOTTOM)
        p.frame(i * w, 0, w, h, LINE_DARK, rounded=False)
    return p


def menubar():
    p = Picture(8 * 2, 22)
    p.gradient(0, 0, 8, 22, PAPER, FACE)
    p.gradient(8, 0, 8, 22, FACE_HOVER, FACE_PRESSED)
    p.rect(0, 21, 16, 1, LINE)
    return p


def progress():
    p = Picture(20 * 2, 14)
    p.rect(0, 0, 20, 14, PAPER)
    p.frame(0, 0, 20, 14, LINE)
    p.gradient(20, 0, 20, 14, ACCENT_LIGHT, ACCENT)
    p.frame(20, 0, 20, 14, ACCENT_DARK)
    return p


def group_box():
    p = Picture(16 * 2, 16)
    for i, line in enumerate((LINE, LINE_DARK)):
        p.rect(i * 16, 0, 16, 16, PAPER)
        p.frame(i * 16, 0, 16, 16, line)
    return p


def status_edges():
    p = Picture(12 * 3, 22)
    for i in range(3):
        p.gradient(i * 12, 0, 12, 22, FACE, FACE_DISABLED)
        p.rect(i * 12, 0, 12, 1, LINE)
        if i == 1:
            p.rect(i * 12 + 11, 3, 1, 16, LINE)
    return p


def combo():
    p = button_frames(17, 20, 4)
    for i in range(4):
        p.triangle(i * 17 + 8, 10, "down", 4, STATES[i][2])
    return p


def sunken():
    p = Picture(12 * 4, 12)
    for i in range(4):
        face, line, _ = STATES[i]
        p.rect(i * 12, 0, 12, 12, PAPER if i != 3 else FACE_DISABLED)
        p.frame(i * 12, 0, 12, 12, ACCENT if i in (1, 2) else LINE_DARK, rounded=False)
    return p


def extra_images():
    p = button_frames(16, 16)
    glyphs = ["up", "down", "left", "right", "down"]
    for i, g in enumerate(glyphs):
        p.triangle(i * 16 + 8, 8, g, 4, INK)
    return p


def menu_item():
    p = Picture(16 * 5, 20)
    for i in range(5):
        if i in (1, 2, 4):
            p.rect(i * 16, 0, 16, 20, FACE_HOVER if i != 2 else FACE_PRESSED)
            p.frame(i * 16, 0, 16, 20, ACCENT_LIGHT)
        else:
            p.rect(i * 16, 0, 16, 20, PAPER)
    return p


def scroll_arrows():
    # 23 frames: for each of up, down, left, right the four states, then the
    # size grip and six spare frames in the plain face.
    p = Picture(16 * 23, 16)
    n = 0
    for direction in ("up", "down", "left", "right"):
        for state in range(4):
            face, line, ink = STATES[state]
            p.rect(n * 16, 0, 16, 16, face)
            p.frame(n * 16, 0, 16, 16, line)
            p.triangle(n * 16 + 8, 8, direction, 4, ink)
            n += 1
    for spare in range(7):
        p.rect(n * 16, 0, 16, 16, FACE)
        if spare == 0:
            for d in range(3):
                p.rect(n * 16 + 12 - 4 * d, 12, 2, 2, LINE_DARK)
                p.rect(n * 16 + 12, 12 - 4 * d, 2, 2, LINE_DARK)
        n += 1
    return p


def scroll_back(vertical):
    p = Picture(16 * 4, 16)
    for i in range(4):
        p.rect(i * 16, 0, 16, 16, (246, 247, 249) if i != 2 else FACE_PRESSED)
        if vertical:
            p.rect(i * 16, 0, 1, 16, LINE)
        else:
            p.rect(i * 16, 0, 16, 1, LINE)
    return p


def scroll_thumb(vertical):
    p = Picture(16 * 3, 16)
    for i, colour in enumerate(((200, 206, 216), (170, 186, 212), ACCENT_LIGHT)):
        p.rect(i * 16, 0, 16, 16, (246, 247, 249))
        if vertical:
            p.rect(i * 16 + 3, 1, 10, 14, colour)
        else:
            p.rect(i * 16 + 1, 3, 14, 10, colour)
    return p


def check_box():
    # 8 frames of 13 x 13: unchecked and checked, each normal, mouse over,
    # pressed and disabled.
    p = Picture(13 * 8, 13, KEY)
    for i in range(8):
        face, line, ink = STATES[i % 4]
        x0 = i * 13
        p.rect(x0, 0, 13, 13, PAPER if i % 4 != 3 else FACE_DISABLED)
        p.frame(x0, 0, 13, 13, ACCENT if i % 4 in (1, 2) else LINE_DARK, rounded=False)
        if i >= 4:
            mark = ACCENT_DARK if i % 4 != 3 else INK_DISABLED
            for k, (x, y) in enumerate(((3, 6), (4, 7), (5, 8), (6, 7), (7, 6), (8, 5), (9, 4))):
                p.put(x0 + x, y, mark)
                p.put(x0 + x, y + 1, mark)
    return p


def radio_button():
    p = Picture(13 * 8, 13, KEY)
    for i in range(8):
        x0 = i * 13
        p.disc(x0 + 6, 6, 6, ACCENT if i % 4 in (1, 2) else LINE_DARK)
        p.disc(x0 + 6, 6, 5, PAPER if i % 4 != 3 else FACE_DISABLED)
        if i >= 4:
            p.disc(x0 + 6, 6, 2, ACCENT_DARK if i % 4 != 3 else INK_DISABLED)
    return p


def tab_border():
    p = Picture(16, 16)
    p.rect(0, 0, 16, 16, PAPER)
    p.frame(0, 0, 16, 16, LINE, rounded=False)
    return p


def tabs():
    p = Picture(24 * 5, 22)
    for i in range(5):
        face, line, _ = STATES[i]
        x0 = i * 24
        p.rect(x0, 0, 24, 22, PAPER if i in (2, 4) else face)
        p.frame(x0, 0, 24, 23, line)
        if i in (2, 4):
            p.rect(x0 + 1, 0, 22, 2, ACCENT)
    return p


PICTURES = {
    "title.bmp": title,
    "frame-bottom.bmp": lambda: frame_edge(8, 4),
    "frame-left.bmp": lambda: frame_edge(4, 8),
    "frame-right.bmp": lambda: frame_edge(4, 8),
    "menubar.bmp": menubar,
    "progress.bmp": progress,
    "groupbox.bmp": group_box,
    "toolbar.bmp": lambda: button_frames(16, 22),
    "tabs.bmp": tabs,
    "tabborder.bmp": tab_border,
    "status.bmp": status_edges,
    "combo.bmp": combo,
    "sunkedge.bmp": sunken,
    "extra.bmp": extra_images,
    "header.bmp": lambda: button_frames(16, 20, gradient=True),
    "menuitem.bmp": menu_item,
    "menubg.bmp": lambda: Picture(16, 16, PAPER),
    "arrows.bmp": scroll_arrows,
    "hscroll.bmp": lambda: scroll_back(False),
    "vscroll.bmp": lambda: scroll_back(True),
    "hthumb.bmp": lambda: scroll_thumb(False),
    "vthumb.bmp": lambda: scroll_thumb(True),
    "button.bmp": lambda: button_frames(24, 22),
    "checkbox.bmp": check_box,
    "radio.bmp": radio_button,
}


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for name, draw in PICTURES.items():
        draw().save(os.path.join(out, name))


if __name__ == "__main__":
    main()

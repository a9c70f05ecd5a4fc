#!/usr/bin/env python3
"""Draws the plug-in's PNG artwork (check boxes, panel and toolbar icons) into this folder.

Only the standard library is used (zlib + struct). Every image is 32-bit RGBA, made to read on
the dark button face #464646 of the skin. Shapes are rasterised with 4x4 supersampling so edges
are smooth; colours are straight (not premultiplied) alpha.

The check boxes and the panel's button images are drawn without their alpha channel (copied as
they are, or greyed for disabled buttons, where face-coloured pixels are kept), so they are
composited here onto the face colour of their scheme and stored opaque. The toolbar images go
through 32-bit image lists and keep their transparency.

    python3 resources/plugin/png/make-pngs.py
"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SS = 4  # supersampling per axis


def write_png(path, w, h, px):
    """px: list of rows, each a list of (r, g, b, a)."""
    raw = bytearray()
    for row in px:
        raw.append(0)
        for r, g, b, a in row:
            raw += bytes((r, g, b, a))

    def chunk(tag, data):
        c = struct.pack(">I", len(data)) + tag + data
        return c + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def hexc(s):
    s = s.lstrip("#")
    return (int(s[0:2], 16), int(s[2:4], 16), int(s[4:6], 16))


class Canvas:
    def __init__(self, w, h):
        self.w, self.h = w, h
        self.px = [[(0, 0, 0, 0) for _ in range(w)] for _ in range(h)]

    def put(self, x, y, colour, alpha):
        if alpha <= 0 or not (0 <= x < self.w and 0 <= y < self.h):
            return
        r, g, b = colour
        dr, dg, db, da = self.px[y][x]
        a = alpha
        da_f = da / 255.0
        out_a = a + da_f * (1 - a)
        if out_a <= 0:
            return
        nr = (r * a + dr * da_f * (1 - a)) / out_a
        ng = (g * a + dg * da_f * (1 - a)) / out_a
        nb = (b * a + db * da_f * (1 - a)) / out_a
        self.px[y][x] = (int(round(nr)), int(round(ng)), int(round(nb)), int(round(out_a * 255)))

    def shape(self, inside, colour, opacity=1.0, box=None):
        """Fills the pixels whose supersampled points satisfy inside(x, y)."""
        x0, y0, x1, y1 = box if box else (0, 0, self.w, self.h)
        for y in range(max(0, int(y0)), min(self.h, int(math.ceil(y1)) + 1)):
            for x in range(max(0, int(x0)), min(self.w, int(math.ceil(x1)) + 1)):
                hits = 0
                for sy in range(SS):
                    for sx in range(SS):
                        if inside(x + (sx + 0.5) / SS, y + (sy + 0.5) / SS):
                            hits += 1
                if hits:
                    self.put(x, y, colour, opacity * hits / (SS * SS))

    # primitives (coordinates in pixels, continuous)
    def rect(self, x0, y0, x1, y1, colour, opacity=1.0):
        self.shape(lambda x, y: x0 <= x < x1 and y0 <= y < y1, colour, opacity, (x0, y0, x1, y1))

    def rrect(self, x0, y0, x1, y1, r, colour, opacity=1.0):
        def inside(x, y):
            if not (x0 <= x < x1 and y0 <= y < y1):
                return False
            cx = min(max(x, x0 + r), x1 - r)
            cy = min(max(y, y0 + r), y1 - r)
            return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
        self.shape(inside, colour, opacity, (x0, y0, x1, y1))

    def frame(self, x0, y0, x1, y1, t, colour, r=0.0):
        def inside(x, y):
            def in_rr(ax0, ay0, ax1, ay1, rr):
                if not (ax0 <= x < ax1 and ay0 <= y < ay1):
                    return False
                if rr <= 0:
                    return True
                cx = min(max(x, ax0 + rr), ax1 - rr)
                cy = min(max(y, ay0 + rr), ay1 - rr)
                return (x - cx) ** 2 + (y - cy) ** 2 <= rr * rr
            return in_rr(x0, y0, x1, y1, r) and not in_rr(x0 + t, y0 + t, x1 - t, y1 - t, max(0.0, r - t))
        self.shape(inside, colour, 1.0, (x0, y0, x1, y1))

    def circle(self, cx, cy, rad, colour, opacity=1.0):
        self.shape(lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= rad * rad, colour, opacity,
                   (cx - rad, cy - rad, cx + rad, cy + rad))

    def ring(self, cx, cy, rad, t, colour):
        self.shape(lambda x, y: (rad - t) ** 2 <= (x - cx) ** 2 + (y - cy) ** 2 <= rad * rad, colour, 1.0,
                   (cx - rad, cy - rad, cx + rad, cy + rad))

    def line(self, ax, ay, bx, by, t, colour, opacity=1.0):
        dx, dy = bx - ax, by - ay
        ll = dx * dx + dy * dy

        def inside(x, y):
            u = 0.0 if ll == 0 else max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / ll))
            px, py = ax + u * dx, ay + u * dy
            return (x - px) ** 2 + (y - py) ** 2 <= (t / 2.0) ** 2
        pad = t
        self.shape(inside, colour, opacity, (min(ax, bx) - pad, min(ay, by) - pad, max(ax, bx) + pad, max(ay, by) + pad))

    def polygon(self, pts, colour, opacity=1.0):
        def inside(x, y):
            c = False
            n = len(pts)
            for i in range(n):
                x1, y1 = pts[i]
                x2, y2 = pts[(i + 1) % n]
                if (y1 > y) != (y2 > y) and x < (x2 - x1) * (y - y1) / (y2 - y1) + x1:
                    c = not c
            return c
        xs = [p[0] for p in pts]
        ys = [p[1] for p in pts]
        self.shape(inside, colour, opacity, (min(xs), min(ys), max(xs), max(ys)))

    def flatten(self, background):
        """Composites the image onto an opaque background colour."""
        br, bg, bb = background
        for y in range(self.h):
            for x in range(self.w):
                r, g, b, a = self.px[y][x]
                f = a / 255.0
                self.px[y][x] = (int(round(r * f + br * (1 - f))), int(round(g * f + bg * (1 - f))),
                                 int(round(b * f + bb * (1 - f))), 255)
        return self

    def save(self, name):
        write_png(os.path.join(HERE, name + ".png"), self.w, self.h, self.px)


LIGHT = hexc("#E6E6E6")
MID = hexc("#A8A8A8")
DIM = hexc("#7C7C7C")
DARK = hexc("#232323")
BLUE = hexc("#6587A8")
SKY = hexc("#9CC3EA")
GOLD = hexc("#E8B84A")
GOLD_D = hexc("#B8862A")
RED = hexc("#E0554E")
GREEN = hexc("#7FC67A")
FACE_DARK = hexc("#464646")   # button face of the dark schemes' default (scheme 2)
FACE_LIGHT = hexc("#D2D2D2")  # button face of the light scheme


# ---- check boxes, 13 x 13 -----------------------------------------------------------------------

def check_box(dark, state, enabled):
    c = Canvas(13, 13)
    if dark:
        border = hexc("#B4B4B4") if enabled else hexc("#6E6E6E")
        fill = hexc("#2B2B2B") if enabled else hexc("#3A3A3A")
        mark = SKY if enabled else hexc("#8A8A8A")
    else:
        border = hexc("#333333") if enabled else hexc("#A0A0A0")
        fill = hexc("#FFFFFF") if enabled else hexc("#E6E6E6")
        mark = hexc("#1E1E1E") if enabled else hexc("#9A9A9A")
    c.rrect(0, 0, 13, 13, 2.0, border)
    c.rrect(1, 1, 12, 12, 1.2, fill)
    if state == "SEL":
        c.line(3.0, 6.8, 5.4, 9.2, 1.9, mark)
        c.line(5.4, 9.2, 10.0, 3.6, 1.9, mark)
    elif state == "SEMI":
        c.rect(3.5, 3.5, 9.5, 9.5, mark)
    return c.flatten(FACE_DARK if dark else FACE_LIGHT)


# ---- 32 x 32 icons ------------------------------------------------------------------------------

def magnifier(c):
    c.ring(13, 13, 9.5, 2.6, LIGHT)
    c.circle(13, 13, 7.0, SKY, 0.22)
    c.line(20.0, 20.0, 28.0, 28.0, 4.2, LIGHT)


def icon_folder():
    c = Canvas(32, 32)
    c.rrect(3, 7, 14, 12, 1.5, GOLD_D)
    c.rrect(3, 10, 29, 26, 2.0, GOLD_D)
    c.rrect(4, 12, 28, 25, 1.5, GOLD)
    c.line(5, 14.5, 27, 14.5, 1.0, hexc("#F6D88C"))
    return c


def icon_denoise_batch():
    c = Canvas(32, 32)
    # three photos stacked toward the front
    for i, shade in enumerate((DIM, MID, LIGHT)):
        x0, y0 = 3 + i * 4, 3 + i * 4
        c.rrect(x0, y0, x0 + 17, y0 + 14, 1.2, shade)
        c.rect(x0 + 1.5, y0 + 1.5, x0 + 15.5, y0 + 12.5, DARK)
    # the front photo: a clean landscape
    x0, y0 = 11, 11
    c.rect(x0 + 1.5, y0 + 1.5, x0 + 15.5, y0 + 12.5, hexc("#35506B"))
    c.polygon([(x0 + 1.5, y0 + 12.5), (x0 + 6.5, y0 + 6), (x0 + 10, y0 + 10), (x0 + 12, y0 + 8),
               (x0 + 15.5, y0 + 12.5)], GREEN)
    c.circle(x0 + 12.2, y0 + 4.5, 1.8, GOLD)
    # grain on the two back photos, fading away toward the front
    for (x, y) in ((5, 5), (8, 7), (12, 6), (6, 10), (10, 9), (14, 10), (9, 13), (16, 8)):
        c.rect(x, y, x + 1, y + 1, MID, 0.9)
    return c


def icon_zoom_in():
    c = Canvas(32, 32)
    magnifier(c)
    c.line(8.5, 13, 17.5, 13, 2.4, LIGHT)
    c.line(13, 8.5, 13, 17.5, 2.4, LIGHT)
    return c


def icon_zoom_out():
    c = Canvas(32, 32)
    magnifier(c)
    c.line(8.5, 13, 17.5, 13, 2.4, LIGHT)
    return c


def icon_zoom_100():
    c = Canvas(32, 32)
    c.frame(2, 5, 30, 27, 2.0, LIGHT, r=3.0)
    # "1:1" in block strokes
    for x in (8.0, 21.0):
        c.line(x, 10.5, x, 22.5, 2.6, LIGHT)
        c.line(x - 2.6, 12.6, x, 10.5, 2.2, LIGHT)
    c.rect(14.6, 13.0, 17.4, 15.8, SKY)
    c.rect(14.6, 18.6, 17.4, 21.4, SKY)
    return c


def icon_zoom_fit():
    c = Canvas(32, 32)
    c.frame(9, 9, 23, 23, 1.8, MID, r=1.0)
    c.rect(10.8, 10.8, 21.2, 21.2, SKY, 0.25)
    # four arrows from the middle toward the corners
    for sx, sy in ((-1, -1), (1, -1), (-1, 1), (1, 1)):
        tipx, tipy = 16 + sx * 13, 16 + sy * 13
        c.line(16 + sx * 8.5, 16 + sy * 8.5, tipx - sx * 1.2, tipy - sy * 1.2, 2.2, LIGHT)
        c.polygon([(tipx, tipy), (tipx - sx * 7.0, tipy), (tipx, tipy - sy * 7.0)], LIGHT)
    return c


def icon_picker():
    c = Canvas(32, 32)
    for y in (9, 16, 23):
        c.line(6, y, 20, y, 3.0, LIGHT)
    c.polygon([(22.5, 13.5), (30.0, 13.5), (26.25, 18.5)], SKY)
    return c


def icon_settings_save():
    c = Canvas(32, 32)
    c.polygon([(4, 4), (24, 4), (28, 8), (28, 28), (4, 28)], hexc("#5B7FA6"))
    c.polygon([(5.5, 5.5), (23.4, 5.5), (26.5, 8.6), (26.5, 26.5), (5.5, 26.5)], hexc("#7FA3CA"))
    c.rect(9, 5.5, 22, 13, hexc("#2F4156"))
    c.rect(18, 7, 20.5, 11.5, LIGHT)
    c.rect(8, 17, 24, 26.5, hexc("#F2F2F2"))
    c.line(10, 20, 22, 20, 1.2, DIM)
    c.line(10, 23, 22, 23, 1.2, DIM)
    return c


def icon_settings_delete():
    c = Canvas(32, 32)
    # trash can
    c.rrect(7, 6, 25, 9.5, 1.2, LIGHT)
    c.rect(13, 3.5, 19, 6.5, LIGHT)
    c.polygon([(8.5, 10.5), (23.5, 10.5), (22, 28.5), (10, 28.5)], LIGHT)
    for x in (12.5, 16.0, 19.5):
        c.line(x, 13.5, x, 25.5, 1.6, DIM)
    # red cross over it
    c.line(17, 15, 29, 27, 3.2, RED)
    c.line(29, 15, 17, 27, 3.2, RED)
    return c


def sliders(c):
    for y, knob in ((8, 20.0), (16, 10.0), (24, 16.0)):
        c.line(4, y, 22, y, 2.0, MID)
        c.rrect(knob - 2.5, y - 4, knob + 2.5, y + 4, 1.2, LIGHT)


def icon_settings_show():
    c = Canvas(32, 32)
    sliders(c)
    c.polygon([(23.5, 13), (31, 13), (27.25, 19)], SKY)  # chevron down: show the controls
    return c


def icon_settings_hide():
    c = Canvas(32, 32)
    sliders(c)
    c.polygon([(23.5, 19), (31, 19), (27.25, 13)], SKY)  # chevron up: hide the controls
    return c


def main():
    for dark, prefix in ((False, "CHECK_"), (True, "CHECKD_")):
        for state in ("SEL", "SEMI", "DES"):
            for enabled, suffix in ((True, "ON"), (False, "OFF")):
                check_box(dark, state, enabled).save(prefix + state + suffix)
    icons = {
        "IDP_FOLDER": icon_folder,
        "IDP_DENOISEBATCH": icon_denoise_batch,
        "IDP_ZOOMIN": icon_zoom_in,
        "IDP_ZOOMOUT": icon_zoom_out,
        "IDP_ZOOM100": icon_zoom_100,
        "IDP_ZOOMFIT": icon_zoom_fit,
        "IDP_PICKER": icon_picker,
        "SETTINGS_SAVE": icon_settings_save,
        "SETTINGS_DELETE": icon_settings_delete,
        "SETTINGS_SHOW": icon_settings_show,
        "SETTINGS_HIDE": icon_settings_hide,
    }
    for name, fn in icons.items():
        c = fn()
        if name.startswith("SETTINGS_"):
            c.flatten(FACE_DARK)
        c.save(name)


if __name__ == "__main__":
    main()

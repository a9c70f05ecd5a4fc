#!/usr/bin/env python3
"""Writes the plug-in window's icon hushpix.ico (32x32 and 16x16, 32-bit BGRA): a dark tile
with a soft grey-to-green gradient disc. Run from this folder; the .ico is committed beside it."""
import struct


def image(size):
    rows = []
    c = (size - 1) / 2.0
    r = size * 0.42
    for y in range(size - 1, -1, -1):          # bottom-up rows
        for x in range(size):
            d = ((x - c) ** 2 + (y - c) ** 2) ** 0.5
            if d <= r:
                t = y / (size - 1)
                b, g, r8 = int(0x50 + 0x30 * t), int(0x80 + 0x60 * t), int(0x50 + 0x20 * t)
                rows.append(struct.pack('BBBB', b, g, r8, 255))
            elif d <= r + 1.5:
                rows.append(struct.pack('BBBB', 0x30, 0x30, 0x30, 255))
            else:
                rows.append(struct.pack('BBBB', 0, 0, 0, 0))
    xor = b''.join(rows)
    mask = b'\0' * (((size + 31) // 32) * 4 * size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return header + xor + mask


images = [image(32), image(16)]
out = struct.pack('<HHH', 0, 1, len(images))
offset = 6 + 16 * len(images)
for size, data in zip((32, 16), images):
    out += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(data), offset)
    offset += len(data)
with open('hushpix.ico', 'wb') as f:
    f.write(out + b''.join(images))

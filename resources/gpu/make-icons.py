#!/usr/bin/env python3
"""Writes the two icons of HPXProcessGPU.exe (32x32 and 16x16, 32-bit BGRA): a dark tile with a
green chip outline. Run from this folder; the .ico files are committed beside it."""
import struct


def icon(size):
    pixels = []
    for y in range(size - 1, -1, -1):          # bottom-up rows
        for x in range(size):
            edge = size // 8
            inner = edge <= x < size - edge and edge <= y < size - edge
            border = inner and (x in (edge, size - edge - 1) or y in (edge, size - edge - 1))
            pin = not inner and (x % 4 == 1) and (y < edge or y >= size - edge)
            if border or pin:
                b, g, r = 0x40, 0xC0, 0x50
            elif inner:
                b, g, r = 0x30, 0x28, 0x24
            else:
                b, g, r = 0, 0, 0
            a = 255 if (inner or pin) else 0
            pixels.append(struct.pack('BBBB', b, g, r, a))
    xor = b''.join(pixels)
    and_row = ((size + 31) // 32) * 4
    mask = b'\0' * (and_row * size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return header + xor + mask


def write(name, size):
    image = icon(size)
    with open(name, 'wb') as f:
        f.write(struct.pack('<HHH', 0, 1, 1))
        f.write(struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(image), 22))
        f.write(image)


write('hpxgpu-large.ico', 32)
write('hpxgpu-small.ico', 16)

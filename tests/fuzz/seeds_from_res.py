#!/usr/bin/env python3
"""Makes the seed corpora of fuzz_dialog_template and fuzz_icon_group from the program's own
compiled resources (the build's res/tallowlamp.res):
  fuzz_dialog_template/dialog_100   the main dialog's template, as windres wrote it;
  fuzz_icon_group/meter             a .res image holding the meter's icon group and its image;
  fuzz_icon_group/<kind>            the same group over an image of another kind, made here
                                    from the meter's pixels: 1, 4, 24 and 32 bits (with alpha),
                                    a PNG, one too big for an icon (257x257), and a group
                                    of three images to choose from.
Usage: seeds_from_res.py BUILD/res/tallowlamp.res tests/fuzz/corpus"""
import os
import struct
import sys
import zlib

IDD_MAIN, IDI_METER = 100, 148
RT_ICON, RT_DIALOG, RT_GROUP_ICON = 3, 5, 14


def entries(res):
    """(type, name, data) of each entry with numeric type and name."""
    at = 0
    while at + 32 <= len(res):
        size, header = struct.unpack_from('<II', res, at)
        kind = struct.unpack_from('<HH', res, at + 8)
        name = struct.unpack_from('<HH', res, at + 12)
        if kind[0] == 0xFFFF and name[0] == 0xFFFF:
            yield kind[1], name[1], res[at + header:at + header + size]
        at += (header + size + 3) & ~3


def entry(kind, name, data):
    header = struct.pack('<IIHHHHIHHII', len(data), 32, 0xFFFF, kind, 0xFFFF, name, 0, 0x1030, 0x409, 0, 0)
    return header + data + b'\0' * (-len(data) % 4)


def res_image(group, images):
    """A .res as windres writes one: the empty first entry, the images, the group."""
    out = entry(0, 0, b'')
    for number, image in images:
        out += entry(RT_ICON, number, image)
    return out + entry(RT_GROUP_ICON, IDI_METER, group)


def group_of(images):
    """GRPICONDIR for (number, width, height, bits, image) items."""
    out = struct.pack('<HHH', 0, 1, len(images))
    for number, width, height, bits, image in images:
        out += struct.pack('<BBBBHHIH', width & 0xFF, height & 0xFF, 0, 0, 1, bits, len(image), number)
    return out


def pixels_of(image):
    """The meter's 8-bit icon image as rows (top first) of (r, g, b, opaque)."""
    header, width, height, _, bits = struct.unpack_from('<IiiHH', image)
    height //= 2
    assert bits == 8
    palette = [image[header + 4 * i:header + 4 * i + 4] for i in range(256)]
    xor = header + 1024
    stride = (width * 8 + 31) // 32 * 4
    mask = xor + stride * height
    mask_stride = (width + 31) // 32 * 4
    rows = []
    for y in range(height - 1, -1, -1):
        row = []
        for x in range(width):
            b, g, r, _ = palette[image[xor + stride * y + x]]
            transparent = image[mask + mask_stride * y + x // 8] >> (7 - x % 8) & 1
            row.append((r, g, b, not transparent))
        rows.append(row)
    return rows


def scaled(rows, size):
    return [[rows[y * len(rows) // size][x * len(rows[0]) // size] for x in range(size)] for y in range(size)]


def bmp_icon(rows, bits):
    """BITMAPINFOHEADER, palette, XOR rows bottom-up, AND mask."""
    height, width = len(rows), len(rows[0])
    palette = []
    if bits <= 8:
        # The colours present, as many as there is room for; the rest take the first.
        for row in rows:
            for r, g, b, _ in row:
                if (r, g, b) not in palette and len(palette) < 1 << bits:
                    palette.append((r, g, b))
    out = struct.pack('<IiiHHIIiiII', 40, width, 2 * height, 1, bits, 0, 0, 0, 0, len(palette) if bits <= 8 else 0, 0)
    for r, g, b in palette:
        out += bytes((b, g, r, 0))
    for row in reversed(rows):
        line = bytearray()
        if bits <= 8:
            accumulator = number = 0
            for r, g, b, _ in row:
                accumulator = accumulator << bits | palette.index((r, g, b)) if (r, g, b) in palette else accumulator << bits
                number += bits
                if number == 8:
                    line.append(accumulator)
                    accumulator = number = 0
            if number:
                line.append(accumulator << (8 - number))
        else:
            for r, g, b, opaque in row:
                line += bytes((b, g, r)) + (bytes((255 if opaque else 0,)) if bits == 32 else b'')
        out += bytes(line) + b'\0' * (-len(line) % 4)
    for row in reversed(rows):
        line = bytearray((width + 7) // 8)
        for x, (_, _, _, opaque) in enumerate(row):
            if not opaque:
                line[x // 8] |= 0x80 >> (x % 8)
        out += bytes(line) + b'\0' * (-len(line) % 4)
    return out


def png_icon(rows):
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
    raw = b''.join(b'\0' + bytes(v for r, g, b, opaque in row for v in (r, g, b, 255 if opaque else 0)) for row in rows)
    header = struct.pack('>IIBBBBB', len(rows[0]), len(rows), 8, 6, 0, 0, 0)
    return b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b'')


def main(res_path, corpus):
    res = open(res_path, 'rb').read()
    found = {(kind, name): data for kind, name, data in entries(res)}

    def put(target, name, data):
        os.makedirs(os.path.join(corpus, target), exist_ok=True)
        with open(os.path.join(corpus, target, name), 'wb') as out:
            out.write(data)

    put('fuzz_dialog_template', 'dialog_100', found[(RT_DIALOG, IDD_MAIN)])

    group = found[(RT_GROUP_ICON, IDI_METER)]
    number = struct.unpack_from('<H', group, 6 + 12)[0]
    meter = found[(RT_ICON, number)]
    put('fuzz_icon_group', 'meter', res_image(group, [(number, meter)]))

    rows = pixels_of(meter)
    small = scaled(rows, 16)
    for name, size, bits, image in [('bits_1', 32, 1, bmp_icon(rows, 1)), ('bits_4', 16, 4, bmp_icon(small, 4)),
                                    ('bits_24', 16, 24, bmp_icon(small, 24)), ('bits_32', 16, 32, bmp_icon(small, 32)),
                                    ('png', 16, 32, png_icon(small)),
                                    ('png_257', 0, 32, png_icon(scaled(rows, 257)))]:
        put('fuzz_icon_group', name, res_image(group_of([(1, size, size, bits, image)]), [(1, image)]))
    # The 32x32 one with the most colours is the one to take.
    three = [(1, 16, 16, 4, bmp_icon(small, 4)), (2, 32, 32, 1, bmp_icon(rows, 1)), (3, 32, 32, 8, meter)]
    put('fuzz_icon_group', 'three_images', res_image(group_of(three), [(n, image) for n, _, _, _, image in three]))


if __name__ == '__main__':
    main(*sys.argv[1:])

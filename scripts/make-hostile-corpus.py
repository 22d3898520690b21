#!/usr/bin/env python3
"""Writes a corpus of damaged and hostile image files into the directory given
as the only argument (which it empties first): valid seed images in 15 formats
(work files, OpenRaster archives, among them), made here from scratch
(no outside file is involved), and mutations of each: bit flips, overwritten
runs, truncations, header sizes that are huge, zero or negative, and bogus
palettes. Every run with the same Pillow writes the same files: the
mutations come from a random generator seeded with the seed's name.

The seeds are small, so that an accepted mutation stays quick to paint and to
save; the huge sizes are either beyond any allocation limit in both
directions, or huge in one direction only."""
import io
import random
import re
import shutil
import struct
import sys
import warnings
import zipfile
import zlib
from pathlib import Path

from PIL import Image, ImageDraw

W, H = 48, 32


def picture(mode="RGB", w=W, h=H):
    """A few shapes on a gradient, so that every encoder has structure to
    compress and every mutation lands on real data."""
    img = Image.new("RGB", (w, h))
    px = img.load()
    for y in range(h):
        for x in range(w):
            px[x, y] = (x * 255 // max(1, w - 1), y * 255 // max(1, h - 1), (x * y) % 256)
    d = ImageDraw.Draw(img)
    d.ellipse((w // 8, h // 8, w // 2, h * 3 // 4), fill=(240, 240, 240))
    d.rectangle((w // 2, h // 3, w - 4, h - 4), fill=(20, 60, 200))
    d.line((0, h - 1, w - 1, 0), fill=(0, 0, 0), width=2)
    if mode == "RGBA":
        img.putalpha(Image.linear_gradient("L").resize((w, h)))
        return img
    if mode == "P":
        return img.quantize(16)
    if mode == "I;16":
        return img.convert("L").point(lambda v: v * 257, "I").convert("I;16")
    return img.convert(mode)


def pil_bytes(img, fmt, **options):
    out = io.BytesIO()
    img.save(out, fmt, **options)
    return out.getvalue()


def frames(mode="RGB", count=3):
    return [picture(mode).rotate(30 * i) for i in range(count)]


def topdown_bmp():
    """A BMP stored top to bottom, which its header marks by a negative height."""
    data = bytearray(pil_bytes(picture(), "BMP"))
    offset, = struct.unpack_from("<I", data, 10)
    stride = (W * 3 + 3) // 4 * 4
    rows = [data[offset + i * stride:offset + (i + 1) * stride] for i in range(H)]
    data[offset:] = b"".join(reversed(rows))
    struct.pack_into("<i", data, 22, -H)
    return bytes(data)


def bmp_icon():
    """An ICO whose one image is a 32-bit bitmap with its AND mask."""
    img = picture("RGBA", 32, 32)
    header = struct.pack("<IiiHHIIiiII", 40, 32, 64, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(
        bytes((b, g, r, a)) for y in reversed(range(32)) for x in range(32)
        for r, g, b, a in [img.getpixel((x, y))])
    mask = bytes(4 * 32)
    body = header + pixels + mask
    return struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 32, 32, 0, 0, 1, 32, len(body), 22) + body


def ascii_pnm(magic, mode, maxval):
    img = picture(mode)
    values = []
    for y in range(H):
        for x in range(W):
            v = img.getpixel((x, y))
            if magic == "P1":
                values.append(0 if v else 1)
            elif magic == "P2":
                values.append(v * maxval // 255)
            else:
                values.extend(v)
    head = f"{magic}\n# made by the corpus script\n{W} {H}\n" + ("" if magic == "P1" else f"{maxval}\n")
    return (head + " ".join(map(str, values)) + "\n").encode()


def xpm(chars_per_pixel):
    img = picture("P")
    palette = img.getpalette()[:16 * 3]
    codes = [(chr(ord("a") + i) * chars_per_pixel) for i in range(16)]
    lines = ["/* XPM */", "static char *seed[] = {", f'"{W} {H} 16 {chars_per_pixel}",']
    for i in range(16):
        r, g, b = palette[3 * i:3 * i + 3]
        lines.append(f'"{codes[i]} c #{r:02X}{g:02X}{b:02X}",')
    for y in range(H):
        lines.append('"' + "".join(codes[img.getpixel((x, y))] for x in range(W)) + '",')
    lines.append("};")
    return ("\n".join(lines) + "\n").encode()


def wbmp():
    img = picture("1")
    rows = b"".join(
        bytes(sum((1 << (7 - b)) for b in range(8) if x + b < W and img.getpixel((x + b, y)))
              for x in range(0, W, 8)) for y in range(H))
    return bytes((0, 0, W, H)) + rows


def zip_of(entries, compress=zipfile.ZIP_DEFLATED):
    """A zip of (name, bytes) entries in order; "mimetype" is stored, as
    OpenRaster asks."""
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as z:
        for name, data in entries:
            info = zipfile.ZipInfo(name, date_time=(2020, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_STORED if name == "mimetype" else compress
            z.writestr(info, data)
    return out.getvalue()


def stack_xml(w, h, body):
    return (f'<?xml version="1.0" encoding="UTF-8"?>\n<image version="0.0.5" w="{w}" h="{h}">'
            f"<stack>{body}</stack></image>").encode()


OWN_STACK = ('<layer name="Colour" src="data/colour.png" x="0" y="0" opacity="1.0" visibility="visible"/>'
             '<layer name="Photo" src="data/photo.png" x="0" y="0" opacity="1.0" visibility="visible"/>')


def own_work_file(photo=None, colour=None, stack=None, extra=()):
    """A work file as Brivela writes it: the photo, the colour layer above it
    and the marks."""
    photo = photo if photo is not None else pil_bytes(picture("L"), "PNG")
    colour = colour if colour is not None else pil_bytes(picture("RGBA"), "PNG")
    merged = pil_bytes(picture(), "PNG")
    return zip_of([("mimetype", b"image/openraster"), ("stack.xml", stack or stack_xml(W, H, OWN_STACK)),
                   ("data/photo.png", photo), ("data/colour.png", colour), ("mergedimage.png", merged),
                   ("Thumbnails/thumbnail.png", merged), ("brivela/marks", bytes(range(256)) * 4)] + list(extra))


def foreign_work_file():
    """Another program's file: nested stacks, offsets, opacity, a hidden layer."""
    small = pil_bytes(picture("RGBA", 16, 12), "PNG")
    body = ('<layer name="hidden" src="data/a.png" visibility="hidden"/>'
            '<stack x="4" y="3" opacity="0.5"><layer name="dab" src="data/b.png" x="2" y="2"/></stack>'
            '<layer name="wash" src="data/c.png" opacity="0.7" composite-op="svg:multiply"/>'
            '<layer name="background" src="data/d.png"/>')
    return zip_of([("mimetype", b"image/openraster"), ("stack.xml", stack_xml(W, H, body)),
                   ("data/a.png", small), ("data/b.png", small), ("data/c.png", pil_bytes(picture("RGBA"), "PNG")),
                   ("data/d.png", pil_bytes(picture(), "PNG"))])


def ora_variants(data):
    """Archives that are damaged or hostile in the ways a work file can be."""
    png_l = pil_bytes(picture("L"), "PNG")
    entries = lambda skip: [(n, d) for n, d in zipfile_entries(data) if n != skip]
    huge_png = png_edit(png_l, b"IHDR", lambda b: struct.pack(">II", 0x7FFFFFFF, 0x7FFFFFFF) + b[8:])
    nested = "<layer src=\"data/photo.png\"/>"
    for _ in range(200):
        nested = f"<stack>{nested}</stack>"
    bomb = zip_of([("mimetype", b"image/openraster"), ("stack.xml", stack_xml(W, H, OWN_STACK)),
                   ("data/photo.png", bytes(64 << 20)), ("data/colour.png", b""), ("brivela/marks", b"")])
    out = [
        ("no-stack", zip_of(entries("stack.xml"))),
        ("no-mimetype", zip_of(entries("mimetype"))),
        ("other-mimetype", zip_of([("mimetype", b"application/zip")] + entries("mimetype"))),
        ("colour-other-size", own_work_file(colour=pil_bytes(picture("RGBA", 20, 20), "PNG"))),
        ("photo-other-size", own_work_file(photo=pil_bytes(picture("L", W + 1, H), "PNG"))),
        ("huge-picture", own_work_file(stack=stack_xml(0x7FFFFFFF, 0x7FFFFFFF, OWN_STACK))),
        ("zero-picture", own_work_file(stack=stack_xml(0, H, OWN_STACK))),
        ("huge-layer", own_work_file(photo=huge_png)),
        ("dotdot-src", own_work_file(stack=stack_xml(W, H, '<layer src="../../etc/passwd"/>'))),
        ("absolute-src", own_work_file(stack=stack_xml(W, H, '<layer src="/etc/passwd"/>'))),
        ("dotdot-entry", own_work_file(extra=[("../outside.png", png_l)])),
        ("bomb", bomb),
        ("not-png", own_work_file(photo=pil_bytes(picture("L"), "JPEG"))),
        ("nested", own_work_file(stack=stack_xml(W, H, nested))),
        ("xml-damaged", own_work_file(stack=b"<image w='48' h='32'><stack><layer src=")),
        ("xml-entities", own_work_file(stack=b'<?xml version="1.0"?><!DOCTYPE i [<!ENTITY a "aaaaaaaaaa">'
                                          b'<!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;">'
                                          b'<!ENTITY c "&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;">]>'
                                          b'<image w="48" h="32" name="&c;&c;&c;"><stack/></image>')),
    ]
    # The bomb again, its entry declaring 1000 bytes in both its headers.
    lying = bytearray(zip_of([("mimetype", b"image/openraster"), ("stack.xml", stack_xml(W, H, OWN_STACK)),
                              ("data/photo.png", bytes(8 << 20)), ("data/colour.png", b""), ("brivela/marks", b"")]))
    local = lying.find(b"data/photo.png") - 30
    central = lying.rfind(b"data/photo.png") - 46
    struct.pack_into("<I", lying, local + 22, 1000)
    struct.pack_into("<I", lying, central + 24, 1000)
    out.append(("bomb-lying", bytes(lying)))
    return out


def zipfile_entries(data):
    with zipfile.ZipFile(io.BytesIO(data)) as z:
        return [(info.filename, z.read(info)) for info in z.infolist()]


def seeds():
    """(name, suffix, bytes) of every valid seed."""
    s = [
        ("png-grey", "png", pil_bytes(picture("L"), "PNG")),
        ("png-rgb", "png", pil_bytes(picture(), "PNG")),
        ("png-rgba", "png", pil_bytes(picture("RGBA"), "PNG")),
        ("png-palette", "png", pil_bytes(picture("P"), "PNG")),
        ("png-1bit", "png", pil_bytes(picture("1"), "PNG")),
        ("png-grey16", "png", pil_bytes(picture("I;16"), "PNG")),
        ("png-interlaced", "png", pil_bytes(picture(), "PNG", interlace=1)),
        ("jpeg-grey", "jpg", pil_bytes(picture("L"), "JPEG", quality=90)),
        ("jpeg-rgb", "jpg", pil_bytes(picture(), "JPEG", quality=90)),
        ("jpeg-progressive", "jpg", pil_bytes(picture(), "JPEG", progressive=True)),
        ("jpeg-cmyk", "jpg", pil_bytes(picture("CMYK"), "JPEG")),
        ("jpeg-444", "jpeg", pil_bytes(picture(), "JPEG", subsampling=0, optimize=True)),
        ("bmp-rgb", "bmp", pil_bytes(picture(), "BMP")),
        ("bmp-palette", "bmp", pil_bytes(picture("P"), "BMP")),
        ("bmp-1bit", "bmp", pil_bytes(picture("1"), "BMP")),
        ("bmp-rgba", "bmp", pil_bytes(picture("RGBA"), "BMP")),
        ("bmp-topdown", "bmp", topdown_bmp()),
        ("tiff-rgb", "tif", pil_bytes(picture(), "TIFF")),
        ("tiff-lzw", "tiff", pil_bytes(picture(), "TIFF", compression="tiff_lzw")),
        ("tiff-deflate", "tif", pil_bytes(picture("RGBA"), "TIFF", compression="tiff_adobe_deflate")),
        ("tiff-group4", "tif", pil_bytes(picture("1"), "TIFF", compression="group4")),
        ("tiff-palette", "tif", pil_bytes(picture("P"), "TIFF", compression="packbits")),
        ("tiff-cmyk", "tif", pil_bytes(picture("CMYK"), "TIFF")),
        ("tiff-grey16", "tif", pil_bytes(picture("I;16"), "TIFF")),
        ("tiff-multipage", "tif", pil_bytes(frames()[0], "TIFF", save_all=True, append_images=frames()[1:])),
        ("gif-static", "gif", pil_bytes(picture("P"), "GIF")),
        ("gif-interlaced", "gif", pil_bytes(picture("P"), "GIF", interlace=True)),
        ("gif-animated", "gif", pil_bytes(frames("P")[0], "GIF", save_all=True,
                                          append_images=frames("P")[1:], duration=100, loop=0)),
        ("webp-lossy", "webp", pil_bytes(picture(), "WEBP", quality=80)),
        ("webp-lossless", "webp", pil_bytes(picture("RGBA"), "WEBP", lossless=True)),
        ("webp-animated", "webp", pil_bytes(frames()[0], "WEBP", save_all=True,
                                            append_images=frames()[1:], duration=100)),
        ("ico-png", "ico", pil_bytes(picture("RGBA", 48, 48), "ICO", sizes=[(16, 16), (32, 32), (48, 48)])),
        ("ico-bmp", "ico", bmp_icon()),
        ("pbm", "pbm", pil_bytes(picture("1"), "PPM")),
        ("pgm", "pgm", pil_bytes(picture("L"), "PPM")),
        ("pgm-16bit", "pgm", pil_bytes(picture("I;16").convert("I"), "PPM")),
        ("ppm", "ppm", pil_bytes(picture(), "PPM")),
        ("pbm-ascii", "pbm", ascii_pnm("P1", "1", 1)),
        ("pgm-ascii", "pgm", ascii_pnm("P2", "L", 1000)),
        ("ppm-ascii", "ppm", ascii_pnm("P3", "RGB", 255)),
        ("xbm", "xbm", pil_bytes(picture("1"), "XBM")),
        ("xpm", "xpm", xpm(1)),
        ("xpm-2chars", "xpm", xpm(2)),
        ("tga-rgb", "tga", pil_bytes(picture(), "TGA")),
        ("tga-rgba", "tga", pil_bytes(picture("RGBA"), "TGA")),
        ("wbmp", "wbmp", wbmp()),
        ("ora-brivela", "ora", own_work_file()),
        ("ora-foreign", "ora", foreign_work_file()),
    ]
    return s


# Header sizes: zero, huge in both directions (the field's largest value,
# beyond any allocation), long in one direction only (a strip of a quarter of a
# megapixel that a reader may accept, with data for a tiny part of it), and
# merely wrong. Negative ones are added where the field is signed. Longer
# strips only lengthen the run: the toolkit's TGA reader reads past the end of
# a short file a byte at a time, seconds per megapixel.
LONG = 8192


def size_pairs(limit):
    return [(0, H), (W, 0), (0, 0), (limit, limit), (min(limit, LONG), H), (W, min(limit, LONG)),
            (W * 2, H * 2), (1, 1)]


def png_chunks(data):
    pos, chunks = 8, []
    while pos + 8 <= len(data):
        length, kind = struct.unpack_from(">I4s", data, pos)
        chunks.append([kind, data[pos + 8:pos + 8 + length]])
        pos += 12 + length
    return chunks


def png_join(chunks):
    out = b"\x89PNG\r\n\x1a\n"
    for kind, body in chunks:
        out += struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    return out


def png_edit(data, kind, edit):
    chunks = png_chunks(data)
    for c in chunks:
        if c[0] == kind:
            c[1] = edit(bytearray(c[1]))
    return png_join(chunks)


def header_variants(name, data):
    """Mutations that a format's own header makes possible: sizes and palettes."""
    fmt = name.split("-")[0]
    out = []

    def put(offset, spec, values):
        d = bytearray(data)
        for i, v in enumerate(values):
            struct.pack_into(spec, d, offset + i * struct.calcsize(spec), v)
        return bytes(d)

    if fmt == "png":
        for w, h in size_pairs(0x7FFFFFFF) + [(0xFFFFFFFF, 0xFFFFFFFF)]:
            out.append(("size", png_edit(data, b"IHDR", lambda b: struct.pack(">II", w, h) + b[8:])))
        out.append(("depth", png_edit(data, b"IHDR", lambda b: b[:8] + bytes((16, 3)) + b[10:])))
        out.append(("palette-short", png_edit(data, b"PLTE", lambda b: b[:3])))
        out.append(("palette-long", png_edit(data, b"PLTE", lambda b: b * 40)))
        out.append(("no-idat", png_join([c for c in png_chunks(data) if c[0] != b"IDAT"])))
    elif fmt == "jpeg":
        sof = max(data.find(b"\xff\xc0"), data.find(b"\xff\xc2"))
        for w, h in size_pairs(0xFFFF):
            out.append(("size", put(sof + 5, ">H", (h, w))))
        out.append(("components", put(sof + 9, "B", (7,))))
    elif fmt == "bmp":
        for w, h in size_pairs(0x7FFFFFFF) + [(W, -0x7FFFFFFF), (-W, H)]:
            out.append(("size", put(18, "<i", (w, h))))
        for used in (1, 300, 0xFFFFFFFF):
            out.append(("palette", put(46, "<I", (used,))))
        out.append(("depth", put(28, "<H", (7,))))
        out.append(("offset", put(10, "<I", (0xFFFFFFF0,))))
    elif fmt == "tiff":
        ifd, = struct.unpack_from("<I", data, 4)
        count, = struct.unpack_from("<H", data, ifd)
        entries = {struct.unpack_from("<H", data, ifd + 2 + 12 * i)[0]: ifd + 2 + 12 * i for i in range(count)}
        for w, h in size_pairs(0xFFFFFFFF):
            d = bytearray(data)
            for tag, v in ((256, w), (257, h)):
                struct.pack_into("<HII", d, entries[tag] + 2, 4, 1, v)
            out.append(("size", bytes(d)))
        for tag, v in ((258, 0xFFFF), (273, 0xFFFFFF00), (279, 0xFFFFFF00), (320, 0)):
            if tag in entries:
                out.append((f"tag{tag}", put(entries[tag] + 4, "<I", (v,))))
    elif fmt == "gif":
        for w, h in size_pairs(0xFFFF):
            out.append(("screen", put(6, "<H", (w, h))))
        image = data.find(b"\x2c", 13 + 3 * 2 ** ((data[10] & 7) + 1))
        for w, h in size_pairs(0xFFFF):
            out.append(("frame", put(image + 5, "<H", (w, h))))
        out.append(("frame-outside", put(image + 1, "<H", (0xFFF0, 0xFFF0))))
        out.append(("palette", put(10, "B", (data[10] & 0xF8,))))
        out.append(("no-palette", put(10, "B", (data[10] & 0x7F,))))
    elif fmt == "webp":
        d = data
        if b"VP8X" in d:
            at = d.find(b"VP8X") + 12
            for w, h in size_pairs(0xFFFFFF):
                out.append(("canvas", d[:at] + (max(w, 1) - 1).to_bytes(3, "little")
                            + (max(h, 1) - 1).to_bytes(3, "little") + d[at + 6:]))
        if b"VP8L" in d:
            at = d.find(b"VP8L") + 9
            for w, h in size_pairs(0x4000):
                bits = ((max(w, 1) - 1) & 0x3FFF) | (((max(h, 1) - 1) & 0x3FFF) << 14) | (d[at + 3] >> 4 << 28)
                out.append(("size", d[:at] + struct.pack("<I", bits) + d[at + 4:]))
        if b"VP8 " in d:
            at = d.find(b"\x9d\x01\x2a") + 3
            for w, h in size_pairs(0x3FFF):
                out.append(("size", put(at, "<H", (w, h))))
        out.append(("riff-size", put(4, "<I", (0xFFFFFFF0,))))
    elif fmt == "ico":
        out.append(("count", put(4, "<H", (0xFFFF,))))
        out.append(("entry-size", put(6 + 8, "<I", (0x7FFFFFFF,))))
        out.append(("entry-offset", put(6 + 12, "<I", (0xFFFFFFF0,))))
        out.append(("entry-zero", put(6, "B", (0, 0))))
        first, = struct.unpack_from("<I", data, 18)
        if data[first:first + 4] == struct.pack("<I", 40):
            for w, h in size_pairs(0x7FFFFFFF):
                out.append(("bitmap-size", put(first + 4, "<i", (w, h))))
            out.append(("bitmap-depth", put(first + 14, "<H", (3,))))
    elif fmt == "tga":
        for w, h in size_pairs(0xFFFF):
            out.append(("size", put(12, "<H", (w, h))))
        out.append(("depth", put(16, "B", (7,))))
        out.append(("flipped", put(17, "B", (data[17] ^ 0x30,))))
        # Valid files in the encodings the reader refuses.
        out.append(("rle", pil_bytes(picture("RGBA"), "TGA", compression="tga_rle")))
        out.append(("grey", pil_bytes(picture("L"), "TGA")))
        palette = bytearray(pil_bytes(picture("P"), "TGA"))
        for length in (0, 1, 0xFFFF):
            struct.pack_into("<H", palette, 5, length)
            out.append(("palette", bytes(palette)))
    elif fmt == "ora":
        out = ora_variants(data)
    elif fmt == "wbmp":
        for w, h in ((0, H), (W, 0), (b"\xff\xff\xff\xff\x7f", b"\xff\xff\xff\xff\x7f"), (b"\x84\x00", H)):
            enc = lambda v: v if isinstance(v, bytes) else bytes((v,))
            out.append(("size", data[:2] + enc(w) + enc(h) + data[4:]))
    else:
        # The text formats: the numbers of the header rewritten.
        text = data.decode("latin-1")
        pairs = [(str(w), str(h)) for w, h in size_pairs(99999999)] + [("-5", "-5"), ("x", "y"), ("4294967297", "1")]
        for w, h in pairs:
            if fmt == "xbm":
                edited = text.replace(f"_width {W}", f"_width {w}").replace(f"_height {H}", f"_height {h}")
            elif fmt == "xpm":
                edited = text.replace(f'"{W} {H} ', f'"{w} {h} ')
            else:
                edited = text.replace(f"{W} {H}", f"{w} {h}", 1)
            out.append(("size", edited.encode("latin-1")))
        if fmt == "xpm":
            head = text.split("\n")[2]
            w, h, n, cpp = head.strip('",').split()
            for bad in (f"{w} {h} 200 {cpp}", f"{w} {h} 0 {cpp}", f"{w} {h} {n} 9", f"{w} {h} {n} 0"):
                out.append(("palette", text.replace(head, f'"{bad}",').encode("latin-1")))
            out.append(("colour", re.sub(r"c #[0-9A-F]{6}", "c #GGGGGGG", text).encode("latin-1")))
        if fmt in ("pgm", "ppm"):
            for maxval in ("0", "65536", "-1"):
                out.append(("maxval", re.sub(r"\n(255|1000|65535)\n", f"\n{maxval}\n", text, count=1).encode("latin-1")))
    return out


def claimed_pixels(data):
    Image.MAX_IMAGE_PIXELS = None
    warnings.simplefilter("ignore")
    try:
        w, h = Image.open(io.BytesIO(data)).size
        return w * h
    except Exception:
        return 0


def modest(mutate):
    """A random mutation, drawn again while its header claims a photo of more
    than 4 megapixels: such a photo is slow to colour and save by nature (the
    benchmarks measure that), and a flipped high bit in a size field would make
    it common here. The deliberate huge sizes above cover those headers."""
    while True:
        d = mutate()
        if claimed_pixels(d) <= 4_000_000:
            return d


def generic_variants(rng, data):
    """Mutations that know nothing of the format."""
    out = []
    n = len(data)

    def flip(k, within):
        d = bytearray(data)
        for _ in range(k):
            d[rng.randrange(within)] ^= 1 << rng.randrange(8)
        return bytes(d)

    def overwrite(fill):
        d = bytearray(data)
        i = rng.randrange(n)
        run = min(n - i, rng.randrange(4, 64))
        d[i:i + run] = fill * run if fill else bytes(rng.randrange(256) for _ in range(run))
        return bytes(d)

    def insert():
        i = rng.randrange(n)
        return data[:i] + bytes(rng.randrange(256) for _ in range(rng.randrange(1, 200))) + data[i:]

    for k in (1, 1, 2, 4, 8, 16):
        out.append(("flip", modest(lambda: flip(k, n))))
    for _ in range(3):
        out.append(("flip-header", modest(lambda: flip(1, min(n, 64)))))
    for fill in (b"\x00", b"\xff", None):
        out.append(("run", modest(lambda: overwrite(fill))))
    for cut in (0, 1, 8, n // 10, n // 3, n // 2, n - n // 10, n - 1, rng.randrange(n)):
        out.append(("truncated", data[:cut]))
    out.append(("inserted", modest(insert)))
    out.append(("doubled", data + data))
    return out


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make-hostile-corpus.py OUTPUT-DIRECTORY")
    root = Path(sys.argv[1])
    shutil.rmtree(root, ignore_errors=True)
    total = 0
    for name, suffix, data in seeds():
        rng = random.Random(name)
        folder = root / name
        folder.mkdir(parents=True, exist_ok=True)
        (folder / f"{name}.{suffix}").write_bytes(data)
        variants = header_variants(name, data) + generic_variants(rng, data)
        for i, (kind, bytes_) in enumerate(variants):
            (folder / f"{name}-{i:02d}-{kind}.{suffix}").write_bytes(bytes_)
        total += 1 + len(variants)
    print(f"{total} files in {root}")


if __name__ == "__main__":
    main()

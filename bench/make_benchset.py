"""Generates the GIF decoding benchmark set with ImageMagick and Pillow.

The set covers the shapes of work a decoder meets: large dithered 256-colour
frames (short LZW strings, many codes per pixel), smooth 256-colour frames,
hundreds of small frames (per-image overhead), interlaced frames, and
4-colour images (long strings), and two files as Pillow writes them (its
encoder clears the dictionary in its own rhythm): uniform noise, the LZW
worst case, and a flat cartoon. Every file carries one global colour table
and no local ones, so that every decoder compared reads the same indices.

Output is deterministic for given ImageMagick and Pillow versions: every random source
is seeded. Usage: make_benchset.py OUTPUT_DIR
"""

import os
import random
import shutil
import subprocess
import sys
import tempfile
from typing import List, NamedTuple


class Structure(NamedTuple):
    global_table: bool
    frames: int
    local_tables: int
    interlaced: int
    pixels: int


def read_structure(data: bytes) -> Structure:
    """Walks the block structure far enough to count frames and tables."""
    packed = data[10]
    global_table = bool(packed & 0x80)
    pos = 13 + (3 << ((packed & 7) + 1) if global_table else 0)
    frames = local_tables = interlaced = pixels = 0
    while pos < len(data):
        introducer = data[pos]
        pos += 1
        if introducer == 0x21:
            pos += 1  # label
        elif introducer == 0x2C:
            width = data[pos + 4] | data[pos + 5] << 8
            height = data[pos + 6] | data[pos + 7] << 8
            flags = data[pos + 8]
            pos += 9
            frames += 1
            pixels += width * height
            if flags & 0x40:
                interlaced += 1
            if flags & 0x80:
                local_tables += 1
                pos += 3 << ((flags & 7) + 1)
            pos += 1  # minimum code size
        else:
            break
        while data[pos] != 0:
            pos += data[pos] + 1
        pos += 1
    return Structure(global_table, frames, local_tables, interlaced, pixels)


def convert(*args: str) -> None:
    subprocess.run(["convert", *args], check=True)


def plasma(seed: int, size: str) -> List[str]:
    return ["-seed", str(seed), "-size", size, "plasma:fractal"]


def plasmas(seeds: range, size: str) -> List[str]:
    args: List[str] = []
    for seed in seeds:
        args += plasma(seed, size)
    return args


def build_set(out: str, work: str) -> None:
    def gif(name: str, frames: List[str], colours: int, *options: str) -> None:
        """Quantises all frames to one shared palette, so that the writer
        stores it once as the global table and no frame needs its own."""
        source = os.path.join(work, "frames.miff")
        palette = os.path.join(work, "palette.gif")
        convert(*frames, source)
        convert(source, "-append", "-colors", str(colours), "-unique-colors", palette)
        convert(source, *options, "-remap", palette, "-delay", "10", os.path.join(out, name))

    # Dithered photographic frames: the hardest case, short strings.
    gif("photo-plasma-1024x768x8.gif", plasmas(range(1, 9), "1024x768"), 256)
    gif("photo-plasma-1600x1200x3.gif", plasmas(range(11, 14), "1600x1200"), 256)

    # Gradients under noise, like a photographed sky.
    frames: List[str] = []
    for seed, (a, b) in enumerate([("navy", "orange"), ("darkgreen", "khaki"),
                                   ("maroon", "skyblue"), ("black", "white"),
                                   ("purple", "yellow"), ("teal", "salmon")], 21):
        frames += ["(", "-size", "800x600", f"gradient:{a}-{b}", "-seed", str(seed),
                   "-attenuate", "0.6", "+noise", "Gaussian", ")"]
    gif("photo-gradient-noise-800x600x6.gif", frames, 256)

    # Undithered quantisation: flat areas, longer strings.
    gif("smooth-plasma-1024x768x4.gif", plasmas(range(31, 35), "1024x768"), 256, "+dither")

    # Hundreds of small frames: per-image start-up and sub-block overhead.
    tiles = os.path.join(work, "tiles.png")
    convert(*plasma(41, "640x640"), tiles)
    gif("small-frames-32x32x400.gif", [tiles, "-crop", "32x32", "+repage"], 256)

    # Interlaced, four-pass row order.
    gif("interlaced-plasma-1024x768x4.gif", plasmas(range(51, 55), "1024x768"), 256,
        "-interlace", "GIF")

    # Four colours, dithered and flat.
    gif("four-colour-dithered-1024x768x4.gif", plasmas(range(61, 65), "1024x768"), 4)
    gif("four-colour-flat-1024x768x4.gif", plasmas(range(71, 75), "1024x768"), 4, "+dither")

    # The widest line the decoder takes.
    gif("wide-plasma-2048x512x2.gif", plasmas(range(81, 83), "2048x512"), 256)

    # Uniform noise: nearly every code is a literal, the LZW worst case. One
    # frame, since the writer gives further noise frames tables of their own.
    gif("noise-uniform-2048x1536x1.gif",
        ["-size", "2048x1536", "-seed", "91", "xc:gray", "+noise", "Random"], 256)

    # A flat cartoon: a few colours in large shapes, long strings; most of
    # the work is writing them into the rows.
    frames = []
    for step in range(4):
        x = 150 + 120 * step
        frames += ["(", "-size", "1024x768", "xc:skyblue",
                   "-fill", "forestgreen", "-draw", "rectangle 0,560 1023,767",
                   "-fill", "gold", "-draw", f"circle {x},160 {x + 70},160",
                   "-fill", "firebrick", "-draw", f"rectangle {600 - x // 2},380 {760 - x // 2},560",
                   "-fill", "white", "-draw", f"ellipse {300 + x},120 90,35 0,360", ")"]
    gif("flat-cartoon-1024x768x4.gif", frames, 16, "+dither")

    pillow_noise(os.path.join(out, "pillow-noise-640x480x30.gif"))
    pillow_cartoon(os.path.join(out, "pillow-cartoon-640x480x60.gif"))


def pillow_palette(colours: List[tuple]) -> List[int]:
    return [v for colour in colours for v in colour] + [0] * (3 * (256 - len(colours)))


def save_with_pillow(path: str, frames: list, palette: List[int]) -> None:
    """Given the palette, Pillow writes it once as the global table and no
    frame a table of its own; it stores each later frame as the rectangle
    that changed."""
    frames[0].save(path, save_all=True, append_images=frames[1:], duration=40, loop=0,
                   palette=bytes(palette))


def pillow_noise(path: str) -> None:
    """Uniform random indices over 256 colours as Pillow's encoder writes
    them: nearly every code a literal, a clear code every few thousand
    codes; LZW's worst case."""
    from PIL import Image
    rng = random.Random(101)
    palette = pillow_palette([(rng.randrange(256), rng.randrange(256), rng.randrange(256))
                              for _ in range(256)])
    frames = []
    for _ in range(30):
        frame = Image.frombytes("P", (640, 480), rng.randbytes(640 * 480))
        frame.putpalette(palette)
        frames.append(frame)
    save_with_pillow(path, frames, palette)


def pillow_cartoon(path: str) -> None:
    """A flat cartoon as Pillow writes it: sky, ground and a sprite that
    moves, in a few colours; long strings and changed rectangles."""
    from PIL import Image, ImageDraw
    palette = pillow_palette([(135, 206, 235), (34, 139, 34), (255, 215, 0), (178, 34, 34),
                              (255, 255, 255), (40, 40, 40)])
    frames = []
    for step in range(60):
        frame = Image.new("P", (640, 480), 0)
        frame.putpalette(palette)
        draw = ImageDraw.Draw(frame)
        draw.rectangle((0, 360, 639, 479), fill=1)
        draw.ellipse((500, 30, 580, 110), fill=2)
        x = 20 + step * 9
        draw.ellipse((120 + step * 3, 60, 260 + step * 3, 110), fill=4)
        draw.rectangle((x, 280, x + 60, 360), fill=3)
        draw.ellipse((x + 10, 250, x + 50, 290), fill=5)
        frames.append(frame)
    save_with_pillow(path, frames, palette)


def check_set(out: str) -> bool:
    good = True
    for name in sorted(os.listdir(out)):
        if not name.endswith(".gif"):
            continue
        with open(os.path.join(out, name), "rb") as f:
            s = read_structure(f.read())
        print(f"  {name}: {s.frames} frames, {s.pixels / 1e6:.2f} Mpixels, "
              f"{s.interlaced} interlaced, {s.local_tables} local tables")
        if not s.global_table or s.local_tables or s.frames == 0:
            print(f"  {name}: needs a global colour table and no local ones", file=sys.stderr)
            good = False
    return good


def main() -> int:
    if len(sys.argv) != 2:
        print("usage: make_benchset.py OUTPUT_DIR", file=sys.stderr)
        return 2
    out = sys.argv[1]
    partial = out + ".partial"
    shutil.rmtree(partial, ignore_errors=True)
    os.makedirs(partial)
    with tempfile.TemporaryDirectory() as work:
        build_set(partial, work)
    if not check_set(partial):
        return 1
    shutil.rmtree(out, ignore_errors=True)
    os.rename(partial, out)
    return 0


if __name__ == "__main__":
    sys.exit(main())

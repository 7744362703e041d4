#!/usr/bin/env python3
"""Builds the evaluation set for `animpack flatten`: the GIFs that people
actually have, as optimisers write them.

  corpus/           every GIF of tests/data/gif, unchanged
  gifsicle-O3/      each corpus animation through gifsicle -O3
  im-optimize/      ... through ImageMagick -coalesce -layers Optimize
  im-optimizeplus/  ... -layers OptimizePlus (disposal to previous)
  im-transparency/  ... -layers OptimizeTransparency
  im-local-colours/ ... each frame quantised on its own (-colors 32), so
                    later frames carry local colour tables
  im-zero-delays/   ... every other frame given delay 0, then -layers Optimize
  photo/            photographic animations panned and zoomed out of the
                    corpus's photographs, every frame quantised to 256
                    colours of its own (more than 256 colours in all),
                    plain and optimised; and pans that keep the photograph's
                    own colours (256 or fewer in all)
  synthetic/        drawn here with numpy and Pillow from a seeded landscape:
                    scattered-changes-1000x175.gif, 259 full-screen frames
                    each with its own 256-colour table and all but about
                    0.6 % of its pixels transparent, the changes scattered
                    over the screen (the changed rectangle is nearly the
                    whole screen); clip-1280x720.gif, 150 frames of a
                    zooming, panning view, each quantised to 256 colours of
                    its own

The output is the same on every run for given ImageMagick, gifsicle, Pillow
and numpy versions (the synthetic files use fixed seeds); their versions go
to MANIFEST.txt with the command behind every file.

usage: make_animpack_set.py OUTPUT_DIR
"""

import io
import itertools
import os
import shutil
import struct
import subprocess
import sys

# Pillow and numpy come with the system's Python (python3-pil,
# python3-numpy); another python3 first on PATH may lack them.
try:
    import numpy as np
    from PIL import Image
except ImportError:
    if sys.executable != "/usr/bin/python3" and os.path.exists("/usr/bin/python3"):
        os.execv("/usr/bin/python3", ["/usr/bin/python3"] + sys.argv)
    raise

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.normpath(os.path.join(HERE, "..", "tests", "data", "gif"))
CONVERT = "/usr/bin/convert" if os.path.exists("/usr/bin/convert") else "convert"

# Optimiser runs over each corpus animation: folder, command before the
# output path ({src} is the input).
OPTIMISERS = [
    ("gifsicle-O3", ["gifsicle", "-O3", "{src}", "-o"]),
    ("im-optimize", [CONVERT, "{src}", "-coalesce", "-layers", "Optimize"]),
    ("im-optimizeplus", [CONVERT, "{src}", "-coalesce", "-layers", "OptimizePlus"]),
    ("im-transparency", [CONVERT, "{src}", "-coalesce", "-layers", "OptimizeTransparency"]),
    ("im-local-colours", [CONVERT, "{src}", "-coalesce", "-colors", "32"]),
    # Every other frame of delay 0, which the tool may fold into the next.
    ("im-zero-delays", [CONVERT, "{src}", "-coalesce", "-set", "delay", "%[fx:t%2?0:20]",
                        "-layers", "Optimize"]),
]

# Photographic animations: (name, source photograph, frame geometry steps,
# extra ImageMagick options for the whole sequence). Each step is a crop
# (width, height, x, y) of the photograph, resized to the animation's size.
PHOTO_SIZE = "200x150"


def pan(width, height, x0, y0, x1, y1, count):
    return [(width, height, x0 + (x1 - x0) * i // (count - 1), y0 + (y1 - y0) * i // (count - 1))
            for i in range(count)]


def zoom(full_width, full_height, count, ratio):
    steps = []
    for i in range(count):
        scale = 1 - (1 - ratio) * i / (count - 1)
        w, h = int(full_width * scale), int(full_height * scale)
        steps.append((w, h, (full_width - w) // 2, (full_height - h) // 2))
    return steps


PHOTOS = [
    ("harvesters-pan", "wuffs/harvesters.gif", pan(400, 300, 0, 100, 760, 500, 12), []),
    ("harvesters-zoom", "wuffs/harvesters.gif", zoom(1165, 859, 10, 0.3), []),
    ("hibiscus-zoom", "wuffs/hibiscus.regular.gif", zoom(312, 442, 10, 0.4), ["+dither"]),
    ("bricks-pan", "wuffs/bricks-dither.gif", pan(80, 60, 0, 0, 80, 60, 9), []),
]

# Pans cut straight out of a photograph: its own colours, 256 or fewer.
OWN_COLOUR_PANS = [
    ("hibiscus-pan-own-colours", "wuffs/hibiscus.regular.gif", pan(200, 150, 0, 0, 112, 292, 10)),
    ("harvesters-pan-own-colours", "wuffs/harvesters.gif", pan(240, 180, 200, 200, 600, 400, 8)),
]


def run(command, manifest, output, out_dir):
    """Runs one generating command. A file an optimiser cannot take (one
    with frames outside the screen, say) is left out and said so."""
    result = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    shown = " ".join(os.path.relpath(c, CORPUS) if c.startswith(CORPUS + os.sep) else
                     os.path.relpath(c, out_dir) if c.startswith(out_dir + os.sep) else
                     os.path.basename(c) if c == CONVERT else c for c in command)
    if result.returncode != 0:
        target = os.path.join(out_dir, output)
        if os.path.exists(target):
            os.remove(target)
        reason = result.stderr.strip().splitlines()[-1] if result.stderr.strip() else ""
        manifest.append(f"left out {output}: {shown} failed: {reason}")
        return
    manifest.append(f"{output}: {shown}")


def frame_count(path):
    out = subprocess.run(["identify", path], stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, text=True).stdout
    return len(out.splitlines())


def corpus_files():
    found = []
    for folder, _, files in os.walk(CORPUS):
        found += [os.path.join(folder, f) for f in files if f.endswith(".gif")]
    return sorted(found)


def build_corpus(out, manifest):
    animations = []
    os.makedirs(os.path.join(out, "corpus"), exist_ok=True)
    for path in corpus_files():
        name = os.path.basename(path)
        shutil.copyfile(path, os.path.join(out, "corpus", name))
        manifest.append(f"corpus/{name}: copy of {os.path.relpath(path, CORPUS)}")
        # The deliberately broken files are no material for optimisers.
        if not name.startswith("artificial-") and frame_count(path) >= 2:
            animations.append(path)
    return animations


def build_optimised(out, animations, manifest):
    for folder, command in OPTIMISERS:
        os.makedirs(os.path.join(out, folder), exist_ok=True)
        for path in animations:
            target = os.path.join(folder, os.path.basename(path))
            full = [c.replace("{src}", path) for c in command] + [os.path.join(out, target)]
            run(full, manifest, target, out)


def crops(source, steps, size=None):
    """ImageMagick options making one frame per crop step of `source` (read
    once), each resized to `size` when given."""
    options = [source, "-write", "mpr:photo", "+delete"]
    for width, height, x, y in steps:
        options += ["(", "mpr:photo", "-crop", f"{width}x{height}+{x}+{y}", "+repage"]
        options += ["-resize", f"{size}!", ")"] if size else [")"]
    return options


def build_photos(out, manifest):
    os.makedirs(os.path.join(out, "photo"), exist_ok=True)
    for name, source, steps, extra in PHOTOS:
        source = os.path.join(CORPUS, source)
        # -colors after the sequence quantises every frame on its own.
        base = [CONVERT, "-delay", "8", "-loop", "0"] + crops(source, steps, PHOTO_SIZE) + extra + \
               ["-colors", "256"]
        run(base + [os.path.join(out, "photo", f"{name}.gif")], manifest, f"photo/{name}.gif", out)
        run(base + ["-layers", "Optimize", os.path.join(out, "photo", f"{name}-optimized.gif")],
            manifest, f"photo/{name}-optimized.gif", out)
    for name, source, steps in OWN_COLOUR_PANS:
        source = os.path.join(CORPUS, source)
        base = [CONVERT, "-delay", "12", "-loop", "0"] + crops(source, steps)
        run(base + [os.path.join(out, "photo", f"{name}.gif")], manifest, f"photo/{name}.gif", out)
        optimised = os.path.join(out, "photo", f"{name}-optimizeplus.gif")
        run(base + ["-layers", "OptimizePlus", optimised],
            manifest, f"photo/{name}-optimizeplus.gif", out)


# ---------------------------------------------------------------- synthetic

SPARSE_SIZE = (1000, 175)
SPARSE_FRAMES = 259
SPARSE_SHARE = 0.006          # of the screen changed by each later frame
SPARSE_DELAY = 8
CLIP_SIZE = (1280, 720)
CLIP_FRAMES = 150
CLIP_DELAY = 4


def value_noise(rs, width, height, cells, octaves):
    """Fractal noise in 0..1: random grids of doubling density, each scaled
    smoothly to the picture and weighted less the finer it is."""
    total = np.zeros((height, width), np.float32)
    amplitude, weight = 1.0, 0.0
    for octave in range(octaves):
        across = cells << octave
        grid = rs.rand(max(2, across * height // width), across).astype(np.float32)
        total += amplitude * np.asarray(Image.fromarray(grid, "F").resize((width, height),
                                                                          Image.BICUBIC))
        weight += amplitude
        amplitude *= 0.55
    return np.clip(total / weight, 0, 1)


def landscape(seed, width, height):
    """A photograph-like RGB scene as float32: a sky fading to the horizon
    with clouds and a sun, before three textured ranges of hills."""
    rs = np.random.RandomState(seed)
    y = np.linspace(0, 1, height, dtype=np.float32)[:, None]
    x = np.linspace(0, 1, width, dtype=np.float32)[None, :]
    fade = np.clip(y / 0.55, 0, 1)[..., None]
    zenith, horizon = np.array([40, 80, 160], np.float32), np.array([250, 180, 120], np.float32)
    image = zenith * (1 - fade) + horizon * fade + np.zeros((1, width, 1), np.float32)
    cover = (np.clip((value_noise(rs, width, height, 6, 6) - 0.5) * 4, 0, 1)[..., None]
             * (1 - fade) * 0.8)
    image = image * (1 - cover) + np.array([245, 240, 235], np.float32) * cover
    glow = np.exp(-(((x - 0.7) * width / height) ** 2 + (y - 0.42) ** 2) / 0.004)[..., None]
    image += np.array([255, 220, 150], np.float32) * glow
    for far, (base, colour) in enumerate([(0.50, (110, 120, 150)), (0.62, (70, 110, 60)),
                                          (0.78, (50, 80, 30))]):
        ridge = base + 0.12 * (value_noise(rs, width, 1, 4 + 3 * far, 5)[0] - 0.5)
        texture = value_noise(rs, width, height, 40 + 60 * far, 5)[..., None]
        depth = 1.0 - 0.4 * np.clip(y - ridge, 0, 1)[..., None]
        image = np.where((y > ridge)[..., None],
                         np.array(colour, np.float32) * (0.6 + 0.8 * texture) * depth, image)
    return image


def to_rgb(image):
    return Image.fromarray(np.clip(image + 0.5, 0, 255).astype(np.uint8), "RGB")


def image_data(indices):
    """LZW image data (code size byte, sub-blocks, terminator) for an index
    picture, cut out of the one-frame GIF that Pillow's encoder writes."""
    picture = Image.fromarray(indices, "P")
    picture.putpalette(bytes(range(256)) * 3)
    buffer = io.BytesIO()
    picture.save(buffer, "GIF", optimize=False, interlace=False)
    data = buffer.getvalue()
    pos = 13 + (3 << ((data[10] & 7) + 1) if data[10] & 0x80 else 0)
    while data[pos] == 0x21:
        pos += 2
        while data[pos]:
            pos += data[pos] + 1
        pos += 1
    pos += 10 + (3 << ((data[pos + 9] & 7) + 1) if data[pos + 9] & 0x80 else 0)
    start = pos
    pos += 1
    while data[pos]:
        pos += data[pos] + 1
    return data[start:pos + 1]


def table_bytes(palette):
    """A 256-entry colour table from a flat RGB list of up to 768 values."""
    return bytes(palette[:768]).ljust(768, b"\0")


def write_gif(path, size, frames):
    """GIF89a of full-screen frames, each (table, delay, transparent index or
    None, image data) with its own 256-entry table, disposal 1; looping for
    ever. The first frame's table is the global table too, as encoders that
    write a table per frame tend to do."""
    frames = iter(frames)
    first = next(frames)
    with open(path, "wb") as f:
        f.write(b"GIF89a" + struct.pack("<HHBBB", *size, 0xF7, 0, 0) + first[0])
        f.write(b"\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00")
        for table, delay, transparent, data in itertools.chain([first], frames):
            packed = 1 << 2 | (transparent is not None)
            f.write(b"\x21\xF9\x04" + struct.pack("<BHB", packed, delay, transparent or 0) + b"\0")
            f.write(b"\x2C" + struct.pack("<HHHHB", 0, 0, *size, 0x87) + table)
            f.write(data)
        f.write(b"\x3B")


def quantised(image, colours=256):
    """Indices and 256-entry table of an RGB picture quantised on its own."""
    picture = image.quantize(colours, method=Image.Quantize.FASTOCTREE)
    return np.asarray(picture), table_bytes(picture.getpalette())


def sparse_frames(scene, rs):
    """The first frame opaque; every later one changes short runs of pixels
    scattered over the screen to the scene as the light dims towards dusk,
    the rest transparent (index 255)."""
    width, height = SPARSE_SIZE
    indices, table = quantised(to_rgb(scene))
    yield table, SPARSE_DELAY, None, image_data(indices)
    runs = int(width * height * SPARSE_SHARE / 2.5)
    daylight = np.array([1.0, 0.9, 1.0], np.float32)
    dusk_loss = np.array([0.45, 0.5, 0.3], np.float32)
    for number in range(1, SPARSE_FRAMES):
        lit = scene * (daylight - dusk_loss * (number / (SPARSE_FRAMES - 1)))
        ys, xs = rs.randint(0, height, runs), rs.randint(0, width - 4, runs)
        mask = np.zeros((height, width), bool)
        for length in range(1, 5):
            chosen = rs.randint(1, 5, runs) >= length
            mask[ys[chosen], xs[chosen] + length - 1] = True
        changed, table = quantised(to_rgb(lit[mask][None, :, :]), 255)
        frame = np.full((height, width), 255, np.uint8)
        frame[mask] = changed[0]
        yield table, SPARSE_DELAY, 255, image_data(frame)


def clip_frames(scene):
    """A view zooming in from the whole scene to a third of it while
    panning towards the sun, each frame quantised on its own."""
    source = to_rgb(scene)
    width, height = CLIP_SIZE
    for number in range(CLIP_FRAMES):
        t = number / (CLIP_FRAMES - 1)
        scale = source.width / width * (1 - 0.65 * t)
        left = (source.width - width * scale) * (0.5 + 0.3 * t)
        top = (source.height - height * scale) * (0.5 - 0.2 * t)
        view = source.transform(CLIP_SIZE, Image.AFFINE, (scale, 0, left, 0, scale, top),
                                Image.BILINEAR)
        indices, table = quantised(view)
        yield table, CLIP_DELAY, None, image_data(indices)


def build_synthetic(out, manifest):
    folder = os.path.join(out, "synthetic")
    os.makedirs(folder, exist_ok=True)
    sparse = landscape(17, *SPARSE_SIZE)
    write_gif(os.path.join(folder, "scattered-changes-1000x175.gif"), SPARSE_SIZE,
              sparse_frames(sparse, np.random.RandomState(1759)))
    manifest.append("synthetic/scattered-changes-1000x175.gif: make_animpack_set.py "
                    "sparse_frames (seeds 17, 1759)")
    scene = landscape(7, 2 * CLIP_SIZE[0], 2 * CLIP_SIZE[1])
    write_gif(os.path.join(folder, "clip-1280x720.gif"), CLIP_SIZE, clip_frames(scene))
    manifest.append("synthetic/clip-1280x720.gif: make_animpack_set.py clip_frames (seed 7)")


def tool_versions():
    im = subprocess.run([CONVERT, "-version"], stdout=subprocess.PIPE, text=True).stdout
    gs = subprocess.run(["gifsicle", "--version"], stdout=subprocess.PIPE, text=True).stdout
    return [im.splitlines()[0], gs.splitlines()[0],
            f"Pillow {Image.__version__}, numpy {np.__version__}"]


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = os.path.abspath(sys.argv[1])
    if os.path.isdir(out):
        shutil.rmtree(out)
    os.makedirs(out)
    manifest = []
    animations = build_corpus(out, manifest)
    build_optimised(out, animations, manifest)
    build_photos(out, manifest)
    build_synthetic(out, manifest)
    with open(os.path.join(out, "MANIFEST.txt"), "w") as f:
        f.write("\n".join(tool_versions() + [""] + manifest) + "\n")
    made = sum(1 for line in manifest if not line.startswith("left out"))
    print(f"{made} GIFs in {out}; {len(manifest) - made} left out (see MANIFEST.txt)")


if __name__ == "__main__":
    main()

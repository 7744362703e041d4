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

The output is the same on every run for given ImageMagick and gifsicle
versions (nothing random is used); their versions go to MANIFEST.txt with
the command behind every file.

usage: make_animpack_set.py OUTPUT_DIR
"""

import os
import shutil
import subprocess
import sys

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


def tool_versions():
    im = subprocess.run([CONVERT, "-version"], stdout=subprocess.PIPE, text=True).stdout
    gs = subprocess.run(["gifsicle", "--version"], stdout=subprocess.PIPE, text=True).stdout
    return [im.splitlines()[0], gs.splitlines()[0]]


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
    with open(os.path.join(out, "MANIFEST.txt"), "w") as f:
        f.write("\n".join(tool_versions() + [""] + manifest) + "\n")
    made = sum(1 for line in manifest if not line.startswith("left out"))
    print(f"{made} GIFs in {out}; {len(manifest) - made} left out (see MANIFEST.txt)")


if __name__ == "__main__":
    main()

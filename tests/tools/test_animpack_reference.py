"""Flattened GIFs against an independent compositor: ImageMagick's
-coalesce of the input (GIF optimiser outputs included), read back with
Pillow from the flattened GIF as the player draws it. Where ImageMagick leaves a pixel
transparent, a browser shows the page: the background colour."""

import glob
import os
import shutil
import subprocess

import numpy as np
import pytest
from PIL import Image

from conftest import ROOT, player_pictures, run_animpack

CORPUS = os.path.join(ROOT, "tests", "data", "gif")
INPUTS = ["wuffs/muybridge.gif", "wuffs/animated-red-blue.gif",
          "peterdn-gif-test-suite/animated_transparent_frame_restorebackground_loop.gif",
          "peterdn-gif-test-suite/animated_transparent_restoreprev_loop.gif",
          "peterdn-gif-test-suite/animated_loop_interlaced.gif"]
OPTIMISERS = {
    "as found": None,
    "gifsicle -O3": ["gifsicle", "-O3", "{in}", "-o", "{out}"],
    "layers Optimize": ["convert", "{in}", "-coalesce", "-layers", "Optimize", "{out}"],
    "layers OptimizePlus": ["convert", "{in}", "-coalesce", "-layers", "OptimizePlus", "{out}"],
    "layers OptimizeTransparency": ["convert", "{in}", "-coalesce", "-layers", "OptimizeTransparency", "{out}"],
    "local tables": ["convert", "{in}", "-coalesce", "+map", "-colors", "64", "{out}"],
}

needs_tools = pytest.mark.skipif(not (shutil.which("convert") and shutil.which("gifsicle")),
                                 reason="ImageMagick and gifsicle are installed by scripts/setup")


def coalesced(path, directory, background):
    """(RGB picture, delay) of each frame as ImageMagick composites them."""
    subprocess.run(["convert", path, "-coalesce", "+adjoin", os.path.join(directory, "f%04d.png")], check=True)
    delays = subprocess.run(["identify", "-format", "%T\n", path], check=True, capture_output=True,
                            text=True).stdout.split()
    pictures = []
    for file, delay in zip(sorted(glob.glob(os.path.join(directory, "f*.png"))), delays):
        rgba = np.asarray(Image.open(file).convert("RGBA"))
        rgb = rgba[..., :3].copy()
        rgb[rgba[..., 3] == 0] = background
        pictures.append((rgb, int(delay)))
    return pictures


def merged(pictures):
    """Consecutive equal pictures as one, their delays added."""
    out = []
    for picture, delay in pictures:
        if out and np.array_equal(out[-1][0], picture):
            out[-1] = (out[-1][0], out[-1][1] + delay)
        else:
            out.append((picture, delay))
    return out


def background_of(path):
    with open(path, "rb") as f:
        head = f.read(13)
        if not head[10] & 0x80 or head[11] >= 2 << (head[10] & 7):
            return (255, 255, 255)
        f.seek(13 + 3 * head[11])
        return tuple(f.read(3))


def psnr(a, b):
    mse = np.mean((a.astype(np.float64) - b.astype(np.float64)) ** 2)
    return float("inf") if mse == 0 else 10 * np.log10(255 ** 2 / mse)


@needs_tools
@pytest.mark.parametrize("optimiser", OPTIMISERS)
@pytest.mark.parametrize("name", INPUTS)
def test_flattened_pictures_match_the_reference(tmp_path, name, optimiser):
    source = os.path.join(CORPUS, name)
    if OPTIMISERS[optimiser]:
        optimised = str(tmp_path / "optimised.gif")
        command = [a.format(**{"in": source, "out": optimised}) for a in OPTIMISERS[optimiser]]
        subprocess.run(command, check=True, capture_output=True)
        source = optimised
    (tmp_path / "frames").mkdir()
    expected = merged(coalesced(source, str(tmp_path / "frames"), background_of(source)))
    run_animpack("flatten", source, tmp_path / "flat.gif")
    # A GIF the player already shows as a browser does comes back unchanged,
    # with its transparency and disposal: read it as the player does.
    actual = merged(player_pictures((tmp_path / "flat.gif").read_bytes()))
    assert [d for _, d in actual] == [d for _, d in expected]
    colours = len(np.unique(np.concatenate([p.reshape(-1, 3) for p, _ in expected]), axis=0))
    for number, ((a, _), (e, _)) in enumerate(zip(actual, expected)):
        if colours <= 256:
            assert np.array_equal(a, e), f"picture {number}: {int((a != e).any(axis=2).sum())} pixels differ"
        else:
            assert psnr(a, e) >= 27, f"picture {number}: {psnr(a, e):.1f} dB"

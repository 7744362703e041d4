"""The slow LZW decoder, used for frames whose data is cut short or broken,
against Pillow's decoder on complete frames, and what it keeps of a short
one."""

import os

import numpy as np
import pytest

import gifwriter
from conftest import ROOT
from animpack_core import gif_stream, lzw

FILES = ["wuffs/hat.gif", "wuffs/muybridge.gif", "wuffs/hippopotamus.interlaced.gif",
         "peterdn-gif-test-suite/animated_loop_interlaced.gif"]


@pytest.mark.parametrize("name", FILES)
def test_slow_decoder_agrees_with_pillow(name):
    with open(os.path.join(ROOT, "tests", "data", "gif", name), "rb") as f:
        gif = gif_stream.parse(f.read())
    for number, frame in enumerate(gif.frames):
        fast, count = lzw.decode(frame)
        stream, slow_count = lzw.decode_slowly(frame.data, frame.min_code_size, frame.width * frame.height)
        lines = np.frombuffer(stream, np.uint8).reshape(frame.height, frame.width)
        if frame.interlaced:
            placed = np.zeros_like(lines)
            placed[lzw.interlaced_rows(frame.height)] = lines
            lines = placed
        assert (slow_count, count) == (frame.width * frame.height,) * 2, f"frame {number}"
        assert np.array_equal(lines, fast), f"frame {number}"


CUT_CASES = [
    # (pixels encoded, bytes of the code stream kept, pixels expected back)
    (list(range(8)) * 4, None, 32),          # complete
    (list(range(8)) * 4, 3, None),           # cut inside: some pixels, fewer than 32
    ([5] * 32, 1, 1),                         # one byte: the clear code and one 4-bit code
]


@pytest.mark.parametrize("pixels, kept, expected", CUT_CASES)
def test_short_data_keeps_what_was_decoded(pixels, kept, expected):
    data = gifwriter.lzw_encode(pixels, 3)
    if kept is not None:
        data = data[:kept]
    frame = gif_stream.Frame(0, 0, 8, 4, False, None, min_code_size=3, data=data)
    decoded, count = lzw.decode(frame)
    if expected is None:
        assert 0 < count < 32
    else:
        assert count == expected
    assert decoded.ravel()[:count].tolist() == pixels[:count]

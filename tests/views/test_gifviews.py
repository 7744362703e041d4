"""The two views that judge the authoring tool: a browser's compositing
(tests/support/gifviews.py), the player's reading of a GIF, and the timeline pairing
of the evaluation (bench/animpack_eval.py). Small GIFs are written here byte
by byte; pictures are given as letters, one per pixel."""

import os
import random
import struct
import sys

import pytest

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
sys.path.insert(0, os.path.join(ROOT, "bench"))
import gifviews  # noqa: E402
import gifwriter  # noqa: E402

COLOURS = {"K": (0, 0, 0), "W": (255, 255, 255), "R": (255, 0, 0), "G": (0, 255, 0),
           "B": (0, 0, 255), "Y": (255, 255, 0), "C": (0, 255, 255), "M": (255, 0, 255)}
GLOBAL = "KRGB"          # the global table of every test GIF, by letter


def table(letters):
    return b"".join(bytes(COLOURS[c]) for c in letters)


def frame(rows, left=0, top=0, disposal=0, transparent=None, delay=10, local=None,
          interlaced=False):
    """One image with its graphic control extension; `rows` are strings of
    digits, the colour indices. Tables hold 4 colours."""
    local_colours = [COLOURS[c] for c in local] if local else None
    return gifwriter.encode_frame(gifwriter.Frame(
        [[int(c) for c in row] for row in rows], left, top, delay, interlaced, local_colours,
        disposal, transparent), 4)


def gif(width, height, *frames, colours=GLOBAL, background=0):
    packed = 0x80 | (len(colours).bit_length() - 2) if colours else 0
    head = b"GIF89a" + struct.pack("<HHBBB", width, height, packed, background, 0)
    return head + (table(colours) if colours else b"") + b"".join(frames) + b";"


def letters(picture, width):
    names = {bytes(v): k for k, v in COLOURS.items()}
    text = "".join(names[picture[i:i + 3]] for i in range(0, len(picture), 3))
    return [text[i:i + width] for i in range(0, len(text), width)]


def browser(data, width, background=None):
    return [letters(p, width) for p, _ in gifviews.browser_view(gifviews.parse(data), background)]


FULL_RED = frame(["111", "111"])
BLUE_SQUARE = "33"


@pytest.mark.parametrize("disposal, after", [
    (0, ["GBB", "RBB"]),     # left in place
    (1, ["GBB", "RBB"]),
    (2, ["GKK", "RKK"]),     # its rectangle back to the background entry (black)
    (3, ["GRR", "RRR"]),     # the screen from before it
    (4, ["GBB", "RBB"]),     # 4-7 are undefined: left in place
    (7, ["GBB", "RBB"]),
])
def test_disposal_of_the_middle_frame(disposal, after):
    data = gif(3, 2, FULL_RED, frame([BLUE_SQUARE, BLUE_SQUARE], left=1, disposal=disposal),
               frame(["2"]))
    assert browser(data, 3) == [["RRR", "RRR"], ["RBB", "RBB"], after]


@pytest.mark.parametrize("first, expected", [
    # Transparent pixels of the first frame show the background (green).
    (frame(["10", "01"], transparent=0), ["RG", "GR"]),
    (frame(["10", "01"], transparent=1), ["GK", "KG"]),
])
def test_transparency_on_the_first_frame(first, expected):
    assert browser(gif(2, 2, first, background=2), 2) == [expected]


def test_transparency_on_a_later_frame_leaves_what_is_below():
    data = gif(2, 2, frame(["11", "11"]), frame(["20", "02"], transparent=0))
    assert browser(data, 2)[1] == ["GR", "RG"]


@pytest.mark.parametrize("colours, background, override, expected", [
    (GLOBAL, 2, None, "G"),        # the global table's background entry
    (GLOBAL, 9, None, "W"),        # an index outside the table: white
    (None, 0, None, "W"),          # no global table: white
    (GLOBAL, 2, (255, 0, 255), "M"),
])
def test_background_where_nothing_is_painted(colours, background, override, expected):
    data = gif(2, 1, frame(["1"], left=1, local=None if colours else GLOBAL),
               colours=colours, background=background)
    assert browser(data, 2, override) == [[expected + "R"]]


def test_local_table_serves_its_own_frame_only():
    data = gif(2, 1, frame(["12"], local="KYCM"), frame(["1"]))
    assert browser(data, 2) == [["YC"], ["RC"]]


def test_frames_are_clipped_to_the_screen():
    data = gif(2, 2, frame(["11", "11"]), frame(["222", "222"], left=1, top=1),
               frame(["3"], left=5, top=0))
    assert browser(data, 2) == [["RR", "RR"], ["RR", "RG"], ["RR", "RG"]]


def test_interlaced_rows_land_where_plain_ones_do():
    rows = ["".join(str((x + y) % 4) for x in range(3)) for y in range(11)]
    plain = browser(gif(3, 11, frame(rows)), 3)
    assert browser(gif(3, 11, frame(rows, interlaced=True)), 3) == plain


@pytest.mark.parametrize("bits, count", [(2, 50), (4, 3000), (8, 20000)])
def test_lzw_round_trip(bits, count):
    """Random indices through the writer's encoder and back: full tables,
    clear codes and the code-equals-next-free case all occur."""
    rng = random.Random(bits)
    pixels = [rng.randrange(1 << bits) for _ in range(count)]
    encoded = gifwriter.lzw_encode(pixels, bits)
    assert gifviews.lzw_decode(encoded, bits, count) == bytes(pixels)


def test_data_cut_short_keeps_what_was_decoded():
    """A file cut inside its image data: the bytes up to the cut, also
    those of the last, incomplete sub-block, are decoded."""
    rows = ["".join(str((x * y) % 4) for x in range(40)) for y in range(30)]
    data = gif(40, 30, frame(rows))
    lzw = gifwriter.lzw_encode([int(c) for row in rows for c in row], 2)
    image = gifviews.parse(data[:len(data) - len(lzw) // 2]).images[0]
    assert lzw.startswith(image.data) and len(image.data) > len(lzw) // 3
    decoded = b"".join(gifviews.image_rows(image))
    assert decoded == gifviews.lzw_decode(lzw[:len(image.data)], 2, 40 * 30)
    assert 0 < len(decoded) < 40 * 30


# ---------------------------------------------------------------- the player

def player(data):
    return gifviews.player_view(gifviews.parse(data, as_player=True))


def test_player_copies_opaquely_and_never_disposes():
    data = gif(2, 2, frame(["11", "11"]), frame(["20"], transparent=0, disposal=2),
               frame(["3"], left=1, top=1))
    view = player(data)
    assert [letters(p, 2) for p, _ in view.pictures] == [["RR", "RR"], ["GK", "RR"],
                                                         ["GK", "RB"]]
    assert view.undefined == [0, 0, 0]


def test_player_maps_a_local_table_to_the_nearest_global_colour():
    # Yellow is as near red as green, cyan as near green as blue, magenta
    # as near red as blue: the lower global index wins each tie.
    data = gif(4, 1, frame(["0123"], local="KYCM"))
    assert letters(player(data).pictures[0][0], 4) == ["KRGR"]


def test_player_leaves_unpainted_and_unknown_pixels_undefined():
    small = gif(3, 1, frame(["1"], left=1), colours="KR")      # table of 2; 2 and 3 unknown
    assert player(small).undefined == [2]
    beyond = gif(2, 1, frame(["13"]), colours="KR")
    assert player(beyond).undefined == [1]


def test_player_refuses_a_gif_without_global_table():
    assert player(gif(1, 1, frame(["1"], local=GLOBAL), colours=None)).refused


def test_player_stops_at_a_control_extension_of_another_size():
    bad = b"\x21\xF9\x05" + bytes(5) + b"\0"
    data = gif(1, 1, frame(["1"]), bad + frame(["2"]))
    assert len(player(data).pictures) == 1
    assert len(gifviews.browser_view(gifviews.parse(data))) == 2


# ---------------------------------------------------------------- timelines

@pytest.mark.parametrize("delays_in, delays_out, pairs", [
    ([10, 20], [10, 20], [(0, 0, 0, 10), (1, 1, 10, 30)]),
    ([10, 20, 5], [30, 5], [(0, 0, 0, 10), (1, 0, 10, 30), (2, 1, 30, 35)]),   # merged
    ([0, 10, 10], [10, 10], [(1, 0, 0, 10), (2, 1, 10, 20)]),                   # 0 folded
    ([10, 10], [5, 5, 10], [(0, 0, 0, 5), (0, 1, 5, 10), (1, 2, 10, 20)]),
    ([0, 0], [0, 0], [(0, 0, 0, 0), (1, 1, 0, 0)]),                             # no time
])
def test_timeline_pairs(delays_in, delays_out, pairs):
    animpack_eval = pytest.importorskip("animpack_eval")
    shown_in = [(b"", d) for d in delays_in]
    shown_out = [(b"", d) for d in delays_out]
    assert animpack_eval.segments(shown_in, shown_out) == pairs

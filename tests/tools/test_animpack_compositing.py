"""Flattening follows the browser's compositing rules: each case is a small
GIF written here, and the pictures Pillow reads back from the flattened GIF
(opaque frames, so what the player shows) must be the expected ones."""

import pytest

from conftest import FramePlan as F, GifPlan, pillow_pictures, rgb_picture, rows
from animpack_core import flatten, gif_stream

# Global table: index 0 K, 1 W, 2 R, 3 G, 4 B, 5 Y, 6 C, 7 M.
PALETTE = "KWRGBYCM"
RED_3x2 = rows("222", "222")


def gif(*frames, background=1, palette=PALETTE, width=3, height=2):
    return GifPlan(width, height, palette, list(frames), background=background)


CASES = {
    # name: (GIF, options, [(expected picture, delay), ...])
    "disposal 0 leaves the frame": (
        gif(F(RED_3x2), F(rows("3"), left=1), F(rows("4"), top=1, delay=20)), {},
        [(["RRR", "RRR"], 10), (["RGR", "RRR"], 10), (["RGR", "BRR"], 20)]),
    "disposal 1 leaves the frame": (
        gif(F(RED_3x2), F(rows("3"), left=1, disposal=1), F(rows("4"), top=1)), {},
        [(["RRR", "RRR"], 10), (["RGR", "RRR"], 10), (["RGR", "BRR"], 10)]),
    "disposal 2 restores the background": (
        gif(F(RED_3x2), F(rows("3"), left=1, disposal=2), F(rows("4"), top=1)), {},
        [(["RRR", "RRR"], 10), (["RGR", "RRR"], 10), (["RWR", "BRR"], 10)]),
    "disposal 3 restores the previous picture": (
        gif(F(RED_3x2), F(rows("3"), left=1, disposal=3), F(rows("4"), top=1)), {},
        [(["RRR", "RRR"], 10), (["RGR", "RRR"], 10), (["RRR", "BRR"], 10)]),
    "disposal 3 on the first frame restores the page": (
        gif(F(rows("2"), disposal=3), F(rows("3"), left=2, top=1)), {},
        [(["RWW", "WWW"], 10), (["WWW", "WWG"], 10)]),
    "disposal 4 to 7 leave the frame": (
        gif(F(RED_3x2), F(rows("3"), left=0, disposal=4), F(rows("4"), left=1, disposal=7),
            F(rows("5"), left=2)), {},
        [(["RRR", "RRR"], 10), (["GRR", "RRR"], 10), (["GBR", "RRR"], 10), (["GBY", "RRR"], 10)]),
    "transparency on the first frame shows the background": (
        gif(F(rows("120", "012"), transparent=0), background=4), {},
        [(["WRB", "BWR"], 10)]),
    "transparency on a later frame shows the picture below": (
        gif(F(RED_3x2), F(rows("030", "303"), transparent=0)), {},
        [(["RRR", "RRR"], 10), (["RGR", "GRG"], 10)]),
    "transparent pixels under disposal 2 are cleared too": (
        gif(F(RED_3x2), F(rows("30"), transparent=0, disposal=2), F(rows("5"), left=2, top=1)), {},
        [(["RRR", "RRR"], 10), (["GRR", "RRR"], 10), (["WWR", "RRY"], 10)]),
    "a local table gives the frame its own colours": (
        gif(F(RED_3x2), F(rows("012"), local="YCMO")), {},
        [(["RRR", "RRR"], 10), (["YCM", "RRR"], 10)]),
    "a frame partly off the screen is clipped": (
        gif(F(RED_3x2), F(rows("33", "33", "33"), left=2, top=1)), {},
        [(["RRR", "RRR"], 10), (["RRR", "RRG"], 10)]),
    "a frame wholly off the screen changes nothing: delays add up": (
        gif(F(RED_3x2), F(rows("3"), left=7, delay=25), F(rows("4"), delay=5)), {},
        [(["RRR", "RRR"], 35), (["BRR", "RRR"], 5)]),
    "an unchanged picture too long for one delay field gets a frame of its own": (
        gif(F(RED_3x2, delay=40000), F(rows("2"), delay=30000)), {},
        [(["RRR", "RRR"], 40000), (["RRR", "RRR"], 30000)]),
    "a frame that does not cover the screen leaves the page visible": (
        gif(F(rows("22"), left=1, top=1)), {},
        [(["WWW", "WRR"], 10)]),
    "no global table: local colours on white": (
        gif(F(rows("1"), local="GB"), F(rows("0"), left=1, local="YK"), palette=None), {},
        [(["BWW", "WWW"], 10), (["BYW", "WWW"], 10)]),
    "a background index outside the table means white": (
        gif(F(rows("2")), background=200), {},
        [(["RWW", "WWW"], 10)]),
    "--background overrides the table's entry": (
        gif(F(rows("2"), disposal=2), F(rows("3"), left=2)), {"background": (255, 0, 255)},
        [(["RMM", "MMM"], 10), (["MMG", "MMM"], 10)]),
    "an index outside the frame's table shows black": (
        gif(F(rows("7"), local="RG", code_size=3), F(rows("000", "000")), palette="RGBW"), {},
        [(["KGG", "GGG"], 10), (["RRR", "RRR"], 10)]),
    "interlaced frames are placed row by row": (
        GifPlan(1, 5, PALETTE, [F(rows("2", "3", "4", "5", "6"), interlaced=True)]), {},
        [(["R", "G", "B", "Y", "C"], 10)]),
    "--browser-timing turns delays of 0 and 1 into 10": (
        gif(F(RED_3x2, delay=0), F(rows("3"), delay=1), F(rows("4"), delay=2)), {"browser_timing": True},
        [(["RRR", "RRR"], 10), (["GRR", "RRR"], 10), (["BRR", "RRR"], 2)]),
    "delays of 0 and 1 are kept without --browser-timing": (
        gif(F(RED_3x2, delay=0), F(rows("3"), delay=1)), {},
        [(["RRR", "RRR"], 0), (["GRR", "RRR"], 1)]),
}


@pytest.mark.parametrize("name", CASES)
def test_pictures_as_a_browser_shows_them(name):
    source, options, expected = CASES[name]
    result = flatten.flatten(gif_stream.parse(source.encode()), flatten.Options(**options))
    pictures = pillow_pictures(result.data)
    assert [delay for _, delay in pictures] == [delay for _, delay in expected]
    assert len(pictures) == len(expected)
    for number, ((actual, _), (rows_expected, _)) in enumerate(zip(pictures, expected)):
        assert actual.tolist() == rgb_picture(rows_expected).tolist(), f"picture {number}"


def test_missing_pixels_of_a_short_frame_leave_the_picture_below():
    # Frame 1 declares 3x2 pixels but its data ends after the first row.
    import gifwriter
    short = gifwriter.lzw_encode([3, 3, 3], 3)
    source = gif(F(RED_3x2), F(RED_3x2, data=short))
    pictures = pillow_pictures(flatten.flatten(gif_stream.parse(source.encode()), flatten.Options()).data)
    assert [p.tolist() for p, _ in pictures] == [rgb_picture(["RRR", "RRR"]).tolist(),
                                                  rgb_picture(["GGG", "RRR"]).tolist()]


@pytest.mark.parametrize("name", CASES)
def test_output_follows_the_players_rules(name):
    """One global table, no local table or transparency, a first frame over
    the whole screen, later frames no larger than the change."""
    source, options, expected = CASES[name]
    result = flatten.flatten(gif_stream.parse(source.encode()), flatten.Options(**options))
    out = gif_stream.parse(result.data)
    assert out.global_table is not None and not out.ended_early
    assert all(f.local_table is None and f.transparent is None and f.disposal == 1 for f in out.frames)
    first = out.frames[0]
    assert (first.left, first.top, first.width, first.height) == (0, 0, source.width, source.height)
    assert out.loop_count == source.loop
    pictures = [rgb_picture(p) for p, _ in expected]
    for frame, before, after in zip(out.frames[1:], pictures, pictures[1:]):
        changed = (before != after).any(axis=2)
        if not changed.any():
            assert (frame.width, frame.height) == (1, 1)
            continue
        ys, xs = changed.nonzero()
        assert (frame.left, frame.top, frame.width, frame.height) == \
            (xs.min(), ys.min(), xs.max() - xs.min() + 1, ys.max() - ys.min() + 1)

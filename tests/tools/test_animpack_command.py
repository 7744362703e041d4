"""The animpack command as a user runs it: make, list, extract, check and
flatten, their refusals and warnings."""

import os

import numpy as np
import pytest
from PIL import Image

from conftest import (FramePlan as F, GifPlan, fake_player, midi_bytes, pillow_pictures, rows,
                      run_animpack, wave_bytes)
from animpack_core import container

PALETTE = "KWRGBYCM"
PLAIN = GifPlan(3, 2, PALETTE, [F(rows("222", "222")), F(rows("333", "333"), delay=20)])
OPTIMISED = GifPlan(3, 2, PALETTE, [F(rows("222", "222")), F(rows("30"), transparent=0, disposal=2)])


def write(path, data):
    path.write_bytes(data)
    return path


def test_plain_gif_passes_through_byte_for_byte(tmp_path, player_exe):
    source = write(tmp_path / "in.gif", PLAIN.encode())
    made = run_animpack("make", tmp_path / "out.exe", "--gif", source, "--player", player_exe)
    assert "passed through unchanged" in made.stdout
    run_animpack("extract", tmp_path / "out.exe", tmp_path / "x")
    assert (tmp_path / "x" / "animation.gif").read_bytes() == source.read_bytes()


def test_optimised_gif_is_flattened_and_round_trips(tmp_path, player_exe):
    source = write(tmp_path / "in.gif", OPTIMISED.encode())
    wave = write(tmp_path / "s.wav", wave_bytes())
    midi = write(tmp_path / "m.mid", midi_bytes())
    made = run_animpack("make", tmp_path / "out.exe", "--gif", source, "--wave", wave, "--midi", midi,
                        "--player", player_exe)
    assert "flattened" in made.stdout and "transparent" in made.stdout
    assert "2 frame(s), 3x2" in made.stdout and "WAVE" in made.stdout and "MIDI" in made.stdout
    flat = write(tmp_path / "flat.gif", b"")
    run_animpack("flatten", source, flat)
    run_animpack("extract", tmp_path / "out.exe", tmp_path / "x")
    assert (tmp_path / "x" / "animation.gif").read_bytes() == flat.read_bytes()
    assert (tmp_path / "x" / "sound.wav").read_bytes() == wave.read_bytes()
    assert (tmp_path / "x" / "song.mid").read_bytes() == midi.read_bytes()
    listed = run_animpack("list", tmp_path / "out.exe").stdout
    assert all(tag in listed for tag in ("GIF", "WAVE", "MIDI")) and "GIF 2 frame(s), 3x2" in listed


def test_as_is_packs_the_bytes_and_says_what_differs(tmp_path, player_exe):
    source = write(tmp_path / "in.gif", OPTIMISED.encode())
    made = run_animpack("make", tmp_path / "out.exe", "--gif", source, "--as-is", "--player", player_exe)
    assert "transparent" in made.stderr and "disposal" in made.stderr
    run_animpack("extract", tmp_path / "out.exe", tmp_path / "x")
    assert (tmp_path / "x" / "animation.gif").read_bytes() == source.read_bytes()


def test_stub_with_old_sections_gets_only_the_new_ones(tmp_path, player_exe):
    first = write(tmp_path / "first.gif", OPTIMISED.encode())
    second = write(tmp_path / "second.gif", PLAIN.encode())
    run_animpack("make", tmp_path / "old.exe", "--gif", first, "--wave", write(tmp_path / "s.wav", wave_bytes()),
                 "--player", player_exe)
    made = run_animpack("make", tmp_path / "new.exe", "--gif", second, "--player", tmp_path / "old.exe")
    assert "dropped" in made.stdout
    data = (tmp_path / "new.exe").read_bytes()
    stub = open(player_exe, "rb").read()
    assert data == container.bare_stub(stub) + container.encode_section("gif", second.read_bytes())


def big_screen_gif(width, height):
    return GifPlan(width, height, PALETTE, [F(rows("2"))]).encode()


REFUSALS = [
    # (what, files to write, extra arguments, expected message)
    ("not a GIF", {"a.gif": b"\x89PNG\r\n\x1a\n" + bytes(20)}, [], "not a GIF"),
    ("no frame", {"a.gif": GifPlan(2, 2, PALETTE, []).encode()}, [], "no frame"),
    ("screen too large for the player", {"a.gif": big_screen_gif(65535, 65535)}, [], "MiB"),
    ("WAVE not RIFF", {"a.gif": PLAIN.encode(), "s.wav": b"RIFX" + bytes(20)}, ["--wave", "s.wav"], "RIFF WAVE"),
    ("MIDI not SMF", {"a.gif": PLAIN.encode(), "m.mid": b"RIFF" + bytes(20)}, ["--midi", "m.mid"], "MIDI"),
    ("stub not an executable", {"a.gif": PLAIN.encode(), "p.exe": b"#!/bin/sh\n" * 10}, ["--player", "p.exe"],
     "MZ"),
    ("stub for another machine", {"a.gif": PLAIN.encode(), "p.exe": fake_player(machine=0x8664)},
     ["--player", "p.exe"], "32-bit"),
    ("no global table with --as-is", {"a.gif": GifPlan(1, 1, None, [F(rows("0"), local="RG")]).encode()},
     ["--as-is"], "global colour table"),
]


@pytest.mark.parametrize("what, files, extra, message", REFUSALS, ids=[r[0] for r in REFUSALS])
def test_refused_inputs_leave_nothing_behind(tmp_path, player_exe, what, files, extra, message):
    for name, data in files.items():
        write(tmp_path / name, data)
    arguments = [str(tmp_path / a) if a in files else a for a in extra]
    if "--player" not in arguments:
        arguments += ["--player", player_exe]
    result = run_animpack("make", tmp_path / "out.exe", "--gif", tmp_path / "a.gif", *arguments, check=False)
    assert result.returncode != 0
    assert message in result.stderr and len(result.stderr.strip().splitlines()) == 1, result.stderr
    left = set(os.listdir(tmp_path)) - set(files) - {"player.exe"}
    assert not left, left


def test_memory_refusal_counts_every_frame(tmp_path, player_exe):
    # Frames that declare 5000 x 5000 pixels (25,000,000 bytes each in the
    # player) whatever their data holds: 63 fit in 1.5 GiB beside the canvas, 64 do not.
    def declared(count):
        big = F([[0] * 5000] * 5000, data=b"\x00")
        return GifPlan(5000, 5000, PALETTE, [big] * count).encode()

    fits = run_animpack("make", tmp_path / "ok.exe", "--gif", write(tmp_path / "ok.gif", declared(63)),
                        "--as-is", "--player", player_exe)
    assert "player memory 1525.9 MiB" in fits.stdout, fits.stdout
    refused = run_animpack("make", tmp_path / "out.exe", "--gif", write(tmp_path / "a.gif", declared(64)),
                           "--as-is", "--player", player_exe, check=False)
    assert refused.returncode == 1 and "1549.8 MiB" in refused.stderr, refused.stderr
    assert not (tmp_path / "out.exe").exists()


def test_warnings_for_loop_count_and_short_delays(tmp_path, player_exe):
    gif = GifPlan(3, 2, PALETTE, [F(rows("222", "222"), delay=0), F(rows("333", "333"), delay=1)], loop=3)
    source = write(tmp_path / "in.gif", gif.encode())
    made = run_animpack("make", tmp_path / "out.exe", "--gif", source, "--player", player_exe)
    assert "loop count 3" in made.stderr and "delay of 0 or 1" in made.stderr
    assert "passed through" in made.stdout
    timed = run_animpack("make", tmp_path / "timed.exe", "--gif", source, "--browser-timing", "--player", player_exe)
    assert "flattened" in timed.stdout
    run_animpack("extract", tmp_path / "timed.exe", tmp_path / "x")
    assert [d for _, d in pillow_pictures((tmp_path / "x" / "animation.gif").read_bytes())] == [10, 10]


def test_check_names_each_difference(tmp_path):
    gif = GifPlan(3, 2, None, [F(rows("1"), local="RG", transparent=0, disposal=3, delay=0),
                               F(rows("1"), left=1, disposal=2)], loop=None)
    source = write(tmp_path / "in.gif", gif.encode())
    report = run_animpack("check", source).stdout
    for expected in ("no global colour table", "first frame does not cover", "transparent colour",
                     "disposal to background on 1 frame(s), to previous on 1", "local colour table",
                     "delay of 0 or 1", "no loop extension", "make: flattens"):
        assert expected in report, report


def test_existing_output_is_kept_when_make_fails(tmp_path, player_exe):
    out = write(tmp_path / "out.exe", b"earlier animation")
    result = run_animpack("make", out, "--gif", write(tmp_path / "bad.gif", b"nothing"), "--player", player_exe,
                          check=False)
    assert result.returncode == 1 and out.read_bytes() == b"earlier animation"


def test_every_subcommand_has_help():
    for command in ("make", "list", "extract", "check", "flatten"):
        assert "usage: animpack " + command in run_animpack(command, "--help", launcher=True).stdout


def photographic_gif(path, frames=6, size=(96, 64)):
    """Frames of a smooth colour field with far more than 256 colours in
    all, each frame quantised to its own local table."""
    y, x = np.mgrid[0:size[1], 0:size[0]]
    pictures = []
    for i in range(frames):
        rgb = np.stack([(x * 2 + i * 9) % 256, (y * 3 + i * 5) % 256, (x + y + i * 17) % 256], axis=2)
        pictures.append(Image.fromarray(rgb.astype(np.uint8)).quantize(256, method=Image.Quantize.MEDIANCUT))
    pictures[0].save(path, save_all=True, append_images=pictures[1:], duration=50, loop=0)
    return [np.asarray(p.convert("RGB")) for p in pictures]


def psnr(a, b):
    mse = np.mean((a.astype(np.float64) - b.astype(np.float64)) ** 2)
    return float("inf") if mse == 0 else 10 * np.log10(255 ** 2 / mse)


def test_many_colours_share_one_palette_above_27_db(tmp_path):
    expected = photographic_gif(tmp_path / "photo.gif")
    run_animpack("flatten", tmp_path / "photo.gif", tmp_path / "flat.gif")
    pictures = pillow_pictures((tmp_path / "flat.gif").read_bytes())
    assert len(pictures) == len(expected)
    figures = [psnr(p, e) for (p, _), e in zip(pictures, expected)]
    assert min(figures) >= 27, figures


def test_256_colours_in_all_are_kept_exactly(tmp_path):
    # Two frames with different local tables that together use 256 colours.
    y, x = np.mgrid[0:16, 0:16]
    first = np.stack([x * 16, y * 16, np.zeros_like(x)], axis=2).astype(np.uint8)
    second = first.copy()
    second[:8] = first[8:]          # same colours, moved: still 256 in all
    images = [Image.fromarray(a).quantize(256) for a in (first, second)]
    images[0].save(tmp_path / "in.gif", save_all=True, append_images=images[1:], duration=30, loop=0)
    run_animpack("flatten", tmp_path / "in.gif", tmp_path / "flat.gif")
    pictures = pillow_pictures((tmp_path / "flat.gif").read_bytes())
    assert [p.tolist() for p, _ in pictures] == [first.tolist(), second.tolist()]

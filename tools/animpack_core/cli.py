"""The animpack command: make, list, extract, check and flatten."""

import argparse
import os
import struct
import sys
import tempfile
import time
from pathlib import Path
from typing import List, Optional, Tuple

from PIL import ImageColor

from . import __version__, analysis, container, flatten as flattening, gif_stream
from .compose import Decoder

PLAYER_VARIABLE = "ANIMPACK_PLAYER"
OUTPUT_NAMES = {"gif": "animation.gif", "wave": "sound.wav", "midi": "song.mid"}


class Failure(Exception):
    """Ends the command with one line on stderr."""


def default_player() -> Optional[str]:
    """$ANIMPACK_PLAYER, else the player the build makes when animpack runs
    from the repository, else None."""
    configured = os.environ.get(PLAYER_VARIABLE)
    if configured:
        return configured
    repository = Path(__file__).resolve().parents[2]
    if (repository / "src" / "CMakeLists.txt").exists():
        return str(repository / "build" / "win" / "src" / "player.exe")
    return None


def read_file(path: str, what: str) -> bytes:
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError as error:
        raise Failure(f"cannot read {what} {path}: {error.strerror}")


def write_atomically(path: str, data: bytes, executable: bool = False) -> None:
    """Writes beside the target and renames, so the path holds either the
    old file or the whole new one."""
    directory = os.path.dirname(os.path.abspath(path))
    try:
        handle, temporary = tempfile.mkstemp(prefix=".animpack-", dir=directory)
    except OSError as error:
        raise Failure(f"cannot write {path}: {error.strerror}")
    try:
        with os.fdopen(handle, "wb") as f:
            f.write(data)
        os.chmod(temporary, 0o755 if executable else 0o644)
        os.replace(temporary, path)
    except OSError as error:
        os.unlink(temporary)
        raise Failure(f"cannot write {path}: {error.strerror}")
    except BaseException:
        os.unlink(temporary)
        raise


class ProgressBar:
    """A bar on stderr for work that lasts, only when stderr is a terminal."""

    def __init__(self, stream=sys.stderr, delay: float = 0.5):
        self.stream = stream
        self.enabled = stream.isatty()
        self.start = time.monotonic()
        self.delay = delay
        self.last = 0.0
        self.shown = False

    def __call__(self, stage: str, done: int, total: int) -> None:
        if not self.enabled:
            return
        now = time.monotonic()
        if now - self.start < self.delay or (now - self.last < 0.1 and done < total):
            return
        self.last = now
        filled = int(30 * done / max(total, 1))
        self.stream.write(f"\r{stage:8s} [{'#' * filled}{'.' * (30 - filled)}] {done}/{total}")
        self.stream.flush()
        self.shown = True

    def finish(self) -> None:
        if self.shown:
            self.stream.write("\r" + " " * 60 + "\r")
            self.stream.flush()
            self.shown = False


def parse_colour(text: str):
    try:
        return ImageColor.getrgb(text if not _is_bare_hex(text) else "#" + text)[:3]
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a colour: {text!r} (give e.g. white, #ff8000 or ff8000)")


def _is_bare_hex(text: str) -> bool:
    return len(text) in (3, 6) and all(c in "0123456789abcdefABCDEF" for c in text)


def load_gif(path: str) -> gif_stream.GifFile:
    data = read_file(path, "GIF")
    try:
        gif = gif_stream.parse(data)
        analysis.check_decodable(gif)
    except gif_stream.GifError as error:
        raise Failure(f"{path}: {error}")
    return gif


def options_from(args) -> flattening.Options:
    return flattening.Options(getattr(args, "browser_timing", False), getattr(args, "background", None),
                              getattr(args, "dither", False))


def run_flatten(gif, options, decoder, progress: ProgressBar) -> flattening.Result:
    try:
        return flattening.flatten(gif, options, decoder, progress)
    finally:
        progress.finish()


def analyse(gif, decoder, background, progress: ProgressBar) -> analysis.Findings:
    try:
        return analysis.analyse(gif, decoder, background,
                                lambda n: progress("checking", n + 1, len(gif.frames)))
    except gif_stream.GifError as error:
        raise Failure(str(error))
    finally:
        progress.finish()


def describe_gif(width: int, height: int, delays: List[int], memory: int) -> str:
    timing = f"one loop {analysis.play_time(delays):.2f} s" if len(delays) > 1 else "a still picture"
    return f"{len(delays)} frame(s), {width}x{height}, {timing}, player memory {analysis.mib(memory)}"


def output_memory(gif, result: flattening.Result) -> int:
    return analysis.player_memory(len(result.data), gif.width, gif.height,
                                  ((r.rect[2] - r.rect[0], r.rect[3] - r.rect[1]) for r in result.frames))


def colour_note(result: flattening.Result) -> str:
    if result.exact:
        return f"{result.colours} colours, kept exactly"
    note = f"{result.colours} colours reduced to {result.palette_size}"
    if result.min_psnr != float("inf") and result.psnrs:
        note += f" (lowest picture PSNR {result.min_psnr:.1f} dB)"
    return note


def prepare_gif(args, warn) -> Tuple[bytes, str, List[int], int]:
    """The GIF bytes to pack, a line on what was done, the delays and the
    memory the player needs."""
    gif = load_gif(args.gif)
    if args.as_is:
        if gif.global_table is None:
            raise Failure(f"{args.gif}: no global colour table: the player would not play it")
        check_memory(analysis.input_memory(gif))
    decoder = Decoder(gif)
    progress = ProgressBar()
    findings = analyse(gif, decoder, args.background, progress)
    for line in findings.timing_notes():
        warn(line)
    delays = [f.delay for f in gif.frames]
    if args.as_is:
        for line in findings.differences():
            warn(f"as is: {line}")
        return gif.raw, "GIF packed as is", delays, findings.memory
    retime = args.browser_timing and findings.short_delays
    if findings.plays_as_browser and not retime:
        return gif.raw, "GIF passed through unchanged: the player shows it as a browser does", \
            delays, findings.memory
    reasons = findings.differences() or []
    if retime:
        reasons.append(f"{findings.short_delays} delay(s) of 0 or 1 rewritten to 10")
    result = run_flatten(gif, options_from(args), decoder, progress)
    summary = "GIF flattened: " + "; ".join(reasons[:2]) + f"\n  {colour_note(result)}"
    return result.data, summary, [f.delay for f in result.frames], output_memory(gif, result)


def check_memory(memory: int) -> None:
    if memory > analysis.MEMORY_LIMIT:
        raise Failure(f"the player would need {analysis.mib(memory)} for this animation, more than "
                      f"{analysis.mib(analysis.MEMORY_LIMIT)} (fewer or smaller frames would fit)")


def check_sound(path: Optional[str], kind: str) -> Optional[bytes]:
    if path is None:
        return None
    data = read_file(path, "sound file")
    if kind == "wave" and not (len(data) >= 12 and data[:4] == b"RIFF" and data[8:12] == b"WAVE"):
        raise Failure(f"{path}: not a RIFF WAVE file")
    if kind == "midi" and not (len(data) >= 14 and data[:4] == b"MThd"):
        raise Failure(f"{path}: not a Standard MIDI File (no MThd header)")
    return data


def command_make(args) -> int:
    warn = lambda line: print(f"animpack: warning: {line}", file=sys.stderr)
    wave = check_sound(args.wave, "wave")
    midi = check_sound(args.midi, "midi")
    player_path = args.player or default_player()
    if player_path is None:
        raise Failure(f"no player given: name one with --player PLAYER.exe or set {PLAYER_VARIABLE}")
    if not os.path.exists(player_path):
        raise Failure(f"no player at {player_path}: build it, or give --player or set {PLAYER_VARIABLE}")
    stub = read_file(player_path, "player")
    try:
        old = container.overlay_sections(stub)
        image = container.bare_stub(stub)
    except container.StubError as error:
        raise Failure(f"{player_path}: {error}")
    gif_bytes, gif_line, delays, memory = prepare_gif(args, warn)
    check_memory(memory)
    if memory > analysis.LARGE_MEMORY:
        warn(f"a large animation: the player needs {analysis.mib(memory)} of memory to play it")
    payloads = {"gif": gif_bytes}
    if wave is not None:
        payloads["wave"] = wave
    if midi is not None:
        payloads["midi"] = midi
    try:
        data = container.pack(image, payloads)
    except ValueError as error:
        raise Failure(str(error))
    write_atomically(args.output, data, executable=True)
    if old:
        print(f"dropped the stub's earlier sections: {', '.join(s.kind.upper() for s in old)}")
    print(gif_line)
    sounds = [f"{kind.upper()} ({len(payloads[kind]):,} bytes)" for kind in ("wave", "midi") if kind in payloads]
    width, height = struct.unpack_from("<HH", gif_bytes, 6)
    print(f"wrote {args.output}: {len(data):,} bytes; {describe_gif(width, height, delays, memory)}; "
          f"sounds: {', '.join(sounds) if sounds else 'none'}")
    return 0


def gif_summary(data: bytes) -> str:
    try:
        gif = gif_stream.parse(data)
    except gif_stream.GifError as error:
        return f"not a playable GIF: {error}"
    delays = [f.delay for f in gif.frames]
    table = "no global colour table (the player shows nothing)" if gif.global_table is None \
        else f"{len(gif.global_table)} global colours"
    return (f"GIF {describe_gif(gif.width, gif.height, delays, analysis.input_memory(gif))}, {table}")


def command_list(args) -> int:
    data = read_file(args.file, "file")
    sections = container.find_sections(data)
    if not sections:
        raise Failure(f"{args.file}: no payload section")
    notes = {"ok": "", "absent": "  (length counts as absent)",
             "truncated": "  (truncated: runs past the end of the file)",
             "cut length": "  (the length field is cut off by the end of the file)"}
    print(f"{'section':8s} {'offset':>12s} {'length':>12s}")
    for kind in ("gif", "wave", "midi"):
        section = sections.get(kind)
        if section is not None:
            print(f"{kind.upper():8s} {section.marker_offset:12d} {section.length:12d}{notes[section.state]}")
    gif = sections.get("gif")
    if gif is not None and gif.usable:
        print(gif_summary(container.payload(data, gif)))
    return 0


def command_extract(args) -> int:
    data = read_file(args.file, "file")
    sections = container.find_sections(data)
    usable = {kind: s for kind, s in sections.items() if s.usable}
    for kind, section in sections.items():
        if not section.usable:
            print(f"animpack: warning: {kind.upper()} section {section.state}: not extracted", file=sys.stderr)
    if not usable:
        raise Failure(f"{args.file}: no payload section to extract")
    try:
        os.makedirs(args.directory, exist_ok=True)
    except OSError as error:
        raise Failure(f"cannot create {args.directory}: {error.strerror}")
    for kind, section in usable.items():
        path = os.path.join(args.directory, OUTPUT_NAMES[kind])
        write_atomically(path, container.payload(data, section))
        print(f"{path}: {section.length:,} bytes")
    return 0


def command_check(args) -> int:
    gif = load_gif(args.gif)
    decoder = Decoder(gif)
    findings = analyse(gif, decoder, args.background, ProgressBar())
    print(f"{args.gif}: {describe_gif(gif.width, gif.height, [f.delay for f in gif.frames], findings.memory)}")
    differences = findings.differences()
    for line in differences:
        print(f"  {line}")
    for line in findings.timing_notes():
        print(f"  {line}")
    if findings.plays_as_browser:
        print("make: passes it through unchanged (the player shows it as a browser does)")
    else:
        print("make: flattens it (one colour table, opaque changed rectangles, delays kept)")
    return 0


def command_flatten(args) -> int:
    gif = load_gif(args.input)
    decoder = Decoder(gif)
    progress = ProgressBar()
    findings = analyse(gif, decoder, args.background, progress)
    if findings.plays_as_browser and not (args.browser_timing and findings.short_delays):
        write_atomically(args.output, gif.raw)
        print(f"wrote {args.output}: {gif.size:,} bytes, unchanged: the player shows it as a browser does")
        return 0
    result = run_flatten(gif, options_from(args), decoder, progress)
    write_atomically(args.output, result.data)
    delays = [f.delay for f in result.frames]
    print(f"wrote {args.output}: {len(result.data):,} bytes (from {gif.size:,}); "
          f"{describe_gif(gif.width, gif.height, delays, output_memory(gif, result))}; {colour_note(result)}")
    return 0


def add_flatten_options(parser, with_dither: bool = True) -> None:
    parser.add_argument("--browser-timing", action="store_true",
                        help="write delays of 0 and 1 as 10, the 0.1 s that browsers show them for")
    parser.add_argument("--background", type=parse_colour, metavar="COLOUR",
                        help="colour where a browser shows the page through (default: the GIF's "
                             "background entry, or white)")
    if with_dither:
        parser.add_argument("--dither", action="store_true",
                            help="dither when more than 256 colours must share one palette")


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="animpack",
        description="Makes distributable animations: the player executable with a GIF and "
                    "optional sounds appended, the GIF first made to show as a browser shows it.")
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)

    make = commands.add_parser("make", help="pack a GIF and sounds behind the player",
                               description="Packs a GIF, and optionally a WAVE and a MIDI file, "
                                           "behind the player. The GIF is flattened when the player "
                                           "would show it differently from a browser.")
    make.add_argument("output", metavar="OUT.exe")
    make.add_argument("--gif", required=True, metavar="A.gif")
    make.add_argument("--wave", metavar="S.wav", help="played each time the animation starts over")
    make.add_argument("--midi", metavar="M.mid", help="played over and over")
    make.add_argument("--player", metavar="PLAYER.exe",
                      help=f"the player to copy (default: ${PLAYER_VARIABLE}, else the build's "
                           f"build/win/src/player.exe)")
    make.add_argument("--as-is", action="store_true",
                      help="pack the GIF's bytes unchanged and say what the player shows differently")
    add_flatten_options(make)
    make.set_defaults(handler=command_make)

    listing = commands.add_parser("list", help="the sections the player finds in an animation",
                                  description="Lists the payload sections the player finds, by its "
                                              "own search rule, and summarises the GIF.")
    listing.add_argument("file", metavar="FILE.exe")
    listing.set_defaults(handler=command_list)

    extract = commands.add_parser("extract", help="write an animation's payloads to a directory",
                                  description="Writes the payloads as animation.gif, sound.wav "
                                              "and song.mid.")
    extract.add_argument("file", metavar="FILE.exe")
    extract.add_argument("directory", metavar="DIR")
    extract.set_defaults(handler=command_extract)

    check = commands.add_parser("check", help="what the player would show differently from a browser",
                                description="Says what the player would show differently from a "
                                            "browser, and what make would do about it.")
    check.add_argument("gif", metavar="A.gif")
    check.add_argument("--background", type=parse_colour, metavar="COLOUR",
                       help="colour where a browser shows the page through")
    check.set_defaults(handler=command_check)

    flat = commands.add_parser("flatten", help="make a GIF that the player shows as a browser does",
                               description="Composites the GIF as a browser does and writes it with "
                                           "one colour table, a full first frame and opaque changed "
                                           "rectangles, delays kept.")
    flat.add_argument("input", metavar="IN.gif")
    flat.add_argument("output", metavar="OUT.gif")
    add_flatten_options(flat)
    flat.set_defaults(handler=command_flatten)
    return parser


def main(argv=None) -> int:
    args = build_parser().parse_args(argv)
    try:
        return args.handler(args)
    except Failure as error:
        print(f"animpack: error: {error}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("animpack: interrupted", file=sys.stderr)
        return 130

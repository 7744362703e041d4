"""What the player would show differently from a browser, what it needs in
memory, and whether `make` passes a GIF through or flattens it."""

from dataclasses import dataclass
from typing import Callable, List

from .compose import Comparison, Decoder, background_key, clip, compare_views
from .gif_stream import GifError, GifFile

MEMORY_LIMIT = 3 << 29          # 1.5 GiB: what a 32-bit process can count on
LARGE_MEMORY = 512 << 20
FRAME_RECORD_BYTES = 600        # a frame record with its bitmap header


def stride(width: int) -> int:
    return (width + 3) & ~3


def player_memory(gif_size: int, width: int, height: int, frames) -> int:
    """Bytes the player holds at once while loading: the GIF, every frame's
    bitmap (rows padded to 4 bytes) and the screen-sized canvas."""
    total = gif_size + stride(width) * height
    for frame_width, frame_height in frames:
        total += stride(frame_width) * frame_height + FRAME_RECORD_BYTES
    return total


def input_memory(gif: GifFile) -> int:
    return player_memory(gif.size, gif.width, gif.height,
                         ((f.width, f.height) for f in gif.frames if f.player_has_pixels))


def check_decodable(gif: GifFile) -> None:
    """Refuses what cannot be made into an animation before any decoding."""
    if not gif.frames:
        raise GifError("the GIF holds no frame")
    if gif.width == 0 or gif.height == 0:
        raise GifError(f"the GIF's screen is {gif.width}x{gif.height}: nothing can be shown")
    canvas = stride(gif.width) * gif.height
    if canvas > MEMORY_LIMIT:
        raise GifError(f"the GIF's screen of {gif.width}x{gif.height} needs {mib(canvas)} in the "
                       f"player, more than its limit of {mib(MEMORY_LIMIT)}")
    for number, frame in enumerate(gif.frames, 1):
        if frame.width * frame.height > MEMORY_LIMIT:
            raise GifError(f"frame {number} is {frame.width}x{frame.height}: too large to decode")


def mib(count: int) -> str:
    return f"{count / (1 << 20):.1f} MiB"


@dataclass
class Findings:
    gif: GifFile
    comparison: Comparison
    transparent_frames: int = 0
    disposal_background: int = 0
    disposal_previous: int = 0
    local_tables: int = 0
    short_delays: int = 0
    first_uncovered: bool = False
    frames_without_pixels: int = 0
    memory: int = 0

    def differences(self) -> List[str]:
        """What the player would show differently, one line each."""
        gif = self.gif
        lines = []
        if gif.global_table is None:
            lines.append("no global colour table: the player does not play it at all")
        if self.first_uncovered:
            lines.append("the first frame does not cover the screen: the player shows undefined pixels around it")
        if self.transparent_frames:
            lines.append(f"{self.transparent_frames} frame(s) with a transparent colour: the player paints it opaquely")
        if self.disposal_background or self.disposal_previous:
            lines.append(f"disposal to background on {self.disposal_background} frame(s), to previous on "
                         f"{self.disposal_previous}: the player never disposes")
        if self.local_tables:
            lines.append(f"{self.local_tables} frame(s) with a local colour table: the player maps them to "
                         f"the nearest global colours")
        if self.frames_without_pixels:
            lines.append(f"{self.frames_without_pixels} frame(s) without pixel data: the player stops there")
        if gif.ended_early:
            lines.append(f"the stream ends early ({gif.ended_early})")
        c = self.comparison
        if c.same:
            if lines:
                lines.append("yet every picture the player shows equals the browser's")
        elif c.first_frame >= 0:
            what = f"{c.differing_pixels} pixel(s) differ"
            if c.player_halts_at >= 0:
                what = "the player stops"
            elif c.undefined_pixels:
                what += f", {c.undefined_pixels} of them undefined in the player"
            lines.append(f"first different picture: frame {c.first_frame + 1} ({what})")
        return lines

    def timing_notes(self) -> List[str]:
        gif = self.gif
        lines = []
        if self.short_delays:
            lines.append(f"{self.short_delays} frame(s) with a delay of 0 or 1: browsers show them for "
                         f"0.1 s, the player for 10 ms (--browser-timing makes them 10)")
        if gif.loop_count is None and len(gif.frames) > 1:
            lines.append("no loop extension: browsers play it once, the player loops for ever")
        elif gif.loop_count:
            lines.append(f"loop count {gif.loop_count}: browsers stop after it, the player loops for ever")
        return lines

    @property
    def plays_as_browser(self) -> bool:
        return self.comparison.same and self.gif.global_table is not None and len(self.gif.global_table) > 0


def analyse(gif: GifFile, decoder: Decoder, background=None,
            progress: Callable[[int], None] = lambda n: None) -> Findings:
    check_decodable(gif)
    comparison = compare_views(gif, decoder, background_key(gif, background), progress)
    findings = Findings(gif, comparison)
    for frame in gif.frames:
        findings.transparent_frames += frame.transparent is not None
        findings.disposal_background += frame.disposal == 2
        findings.disposal_previous += frame.disposal == 3
        findings.local_tables += frame.local_table is not None
        findings.short_delays += frame.delay < 2 and len(gif.frames) > 1
        findings.frames_without_pixels += not frame.player_has_pixels
    first = gif.frames[0]
    findings.first_uncovered = clip(first, gif.width, gif.height) != (0, 0, gif.width, gif.height)
    findings.memory = input_memory(gif)
    return findings


def play_time(delays) -> float:
    """Seconds of one loop as the player times it: hundredths × 10 ms, and
    at least the timer's 10 ms resolution for a delay of 0."""
    return sum(max(delay, 1) for delay in delays) / 100.0

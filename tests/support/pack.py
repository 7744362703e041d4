#!/usr/bin/env python3
"""Writes payload sections behind a stub for the tests: a copy of the stub
with the sections appended exactly as asked, well-formed or not. Users make
animations with tools/animpack, which checks and flattens what it packs.

Each section is the byte '*', its tag, the byte ':', the payload length as an
unsigned 32-bit little-endian number, and the payload bytes. Sections follow
one another directly, in the order given on the command line, with nothing
between them and nothing after the last.

For tests the packer also writes sections that the player must reject or pass
over: modifiers placed after a section change how that one section is written.
"""

import argparse
import os
import shutil
import struct
import sys

TAGS = {
    "gif": b"GIF_BEGINS_HERE",
    "wave": b"WAVE_BEGINS_HERE",
    "midi": b"MIDI_BEGINS_HERE",
}

LENGTH_LIMIT = 2**32


class Section:
    """One piece of output: a framed section, or raw bytes when tag is None."""

    def __init__(self, option, tag, payload):
        self.option = option
        self.tag = tag
        self.payload = payload
        self.claimed_length = None
        self.length_delta = 0
        self.truncate = 0
        self.star = b"*"
        self.separator = b":"
        self.length_bytes = 4

    def encode(self):
        if self.tag is None:
            return self.payload
        length = self.claimed_length
        if length is None:
            length = len(self.payload) + self.length_delta
        if not 0 <= length < LENGTH_LIMIT:
            raise ValueError(f"{self.option}: length field {length} does not fit 32 bits")
        length_field = struct.pack("<I", length)[: self.length_bytes]
        payload = self.payload
        if self.truncate:
            payload = payload[: max(0, len(payload) - self.truncate)]
        if self.length_bytes < 4:
            payload = b""  # a cut-off length field ends the file
        return self.star + self.tag + self.separator + length_field + payload


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def parse_byte(text):
    value = int(text, 0)
    if not 0 <= value <= 255:
        raise argparse.ArgumentTypeError(f"{text} is not a byte value")
    return bytes([value])


def parse_hex(text):
    try:
        return bytes.fromhex(text)
    except ValueError as error:
        raise argparse.ArgumentTypeError(f"bad hex bytes {text!r}: {error}")


class AddSection(argparse.Action):
    """--gif/--wave/--midi FILE and --raw FILE/--raw-hex HEX, kept in order."""

    def __call__(self, parser, namespace, value, option_string=None):
        kind = self.const
        if kind == "raw-hex":
            section = Section(option_string, None, value)
        elif kind == "raw":
            section = Section(option_string, None, read_bytes(value))
        else:
            section = Section(option_string, TAGS[kind], read_bytes(value))
        namespace.sections.append(section)


class Modify(argparse.Action):
    """A modifier: changes the framing of the section named just before it."""

    def __call__(self, parser, namespace, value, option_string=None):
        if not namespace.sections or namespace.sections[-1].tag is None:
            parser.error(f"{option_string} must follow --gif, --wave or --midi")
        section = namespace.sections[-1]
        field, fixed = self.const
        setattr(section, field, fixed if fixed is not None else value)


def build_parser():
    parser = argparse.ArgumentParser(
        prog="pack.py",
        usage="%(prog)s [-h] STUB OUTPUT [SECTION [MODIFIER ...]] ...",
        formatter_class=argparse.RawDescriptionHelpFormatter,
        description=__doc__,
        epilog=(
            "examples:\n"
            "  pack.py player.exe anim.exe --gif anim.gif --midi song.mid --wave ding.wav\n"
            "  pack.py player.exe short.exe --gif anim.gif --length-delta +1\n"
            "  pack.py /dev/null cut.bin --raw-hex 00ff --midi song.mid --length-bytes 2\n"
            "\n"
            "A length of 0, or one above 2^31 - 1, can be written with --claim-length;\n"
            "the player reads such a length as a missing section.\n"
        ),
    )
    parser.set_defaults(sections=[])
    parser.add_argument("stub", metavar="STUB",
                        help="the player executable to copy (any file; /dev/null for none)")
    parser.add_argument("output", metavar="OUTPUT", help="the file to write")

    sections = parser.add_argument_group(
        "sections", "appended in the order given; each may be given any number of times")
    for kind in ("gif", "wave", "midi"):
        sections.add_argument(f"--{kind}", metavar="FILE", action=AddSection, const=kind,
                              help=f"a section tagged {TAGS[kind].decode()} holding FILE")
    sections.add_argument("--raw", metavar="FILE", action=AddSection, const="raw",
                          help="FILE's bytes as they stand, without section framing")
    sections.add_argument("--raw-hex", metavar="HEX", action=AddSection, const="raw-hex",
                          type=parse_hex, help="the given bytes as they stand, e.g. 2a2a")

    broken = parser.add_argument_group(
        "malformed sections", "each changes the section named just before it")
    broken.add_argument("--claim-length", metavar="N", action=Modify,
                        const=("claimed_length", None), type=lambda t: int(t, 0),
                        help="write N as the length (0 .. 2^32 - 1) whatever the payload's size")
    broken.add_argument("--length-delta", metavar="D", action=Modify,
                        const=("length_delta", None), type=int,
                        help="write the payload's size + D as the length (+1 claims a byte "
                             "more than follows, -1 a byte less)")
    broken.add_argument("--truncate", metavar="N", action=Modify, const=("truncate", None),
                        type=int, help="leave off the payload's last N bytes, keeping the "
                                       "length of the whole payload")
    broken.add_argument("--tag", metavar="TEXT", action=Modify, const=("tag", None),
                        type=lambda t: t.encode("latin-1"),
                        help="write TEXT in place of the tag, e.g. GIF_BEGINS_HER")
    broken.add_argument("--separator", metavar="BYTE", action=Modify,
                        const=("separator", None), type=parse_byte,
                        help="write BYTE (e.g. 0x3b) in place of ':'")
    broken.add_argument("--no-separator", action=Modify, nargs=0, const=("separator", b""),
                        help="leave out the ':'")
    broken.add_argument("--no-star", action=Modify, nargs=0, const=("star", b""),
                        help="leave out the leading '*'")
    broken.add_argument("--double-star", action=Modify, nargs=0, const=("star", b"**"),
                        help="write '**' in front of the tag")
    broken.add_argument("--length-bytes", metavar="K", action=Modify,
                        const=("length_bytes", None), type=int, choices=range(0, 5),
                        help="write only the first K bytes of the length field; with K < 4 "
                             "the payload is left out, so give this section last to end "
                             "the file inside its length field")
    return parser


def main(argv=None):
    parser = build_parser()
    args = parser.parse_args(argv)
    try:
        tail = b"".join(section.encode() for section in args.sections)
    except ValueError as error:
        parser.error(str(error))
    temporary = args.output + ".partial"
    shutil.copyfile(args.stub, temporary)
    with open(temporary, "ab") as out:
        out.write(tail)
    if os.path.isfile(args.stub):
        shutil.copymode(args.stub, temporary)
    os.replace(temporary, args.output)
    return 0


if __name__ == "__main__":
    sys.exit(main())

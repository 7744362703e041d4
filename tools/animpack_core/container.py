"""Payload sections behind the player's executable image: finding them by
the player's own search rule, writing them, and checking the stub.

A section is '*', the tag, ':', the payload length (unsigned 32-bit,
little-endian) and the payload.
"""

import struct
from dataclasses import dataclass
from typing import Dict, List, Optional

TAGS = {"gif": b"GIF_BEGINS_HERE", "wave": b"WAVE_BEGINS_HERE", "midi": b"MIDI_BEGINS_HERE"}
LENGTH_LIMIT = 1 << 31  # the player reads the length as signed 32-bit


class StubError(Exception):
    pass


@dataclass
class Section:
    kind: str
    marker_offset: int     # where the '*' stands
    length: int            # the length field as written
    payload_offset: int
    state: str             # "ok", "absent" (length 0 or >= 2^31), "truncated", "cut length"

    @property
    def usable(self) -> bool:
        return self.state == "ok"


def find_marker(data: bytes, tag: bytes) -> int:
    """Offset of the '*' of the section the player finds for `tag`, or -1.

    The player reads byte by byte and never looks back: after a '*' it
    compares the tag and ':', and the first byte that differs is consumed
    unexamined, so '**TAG:' is not found."""
    expected = tag + b":"
    position = 0
    while True:
        star = data.find(b"*", position)
        if star < 0:
            return -1
        p = star + 1
        for want in expected:
            if p >= len(data):
                return -1
            if data[p] != want:
                break
            p += 1
        else:
            return star
        position = p + 1


def find_section(data: bytes, kind: str) -> Optional[Section]:
    tag = TAGS[kind]
    star = find_marker(data, tag)
    if star < 0:
        return None
    field_at = star + len(tag) + 2
    if field_at + 4 > len(data):
        return Section(kind, star, 0, field_at, "cut length")
    (length,) = struct.unpack_from("<I", data, field_at)
    payload = field_at + 4
    if length == 0 or length >= LENGTH_LIMIT:
        state = "absent"
    elif payload + length > len(data):
        state = "truncated"
    else:
        state = "ok"
    return Section(kind, star, length, payload, state)


def find_sections(data: bytes) -> Dict[str, Section]:
    found = {}
    for kind in TAGS:
        section = find_section(data, kind)
        if section is not None:
            found[kind] = section
    return found


def payload(data: bytes, section: Section) -> bytes:
    return data[section.payload_offset:section.payload_offset + section.length]


def encode_section(kind: str, body: bytes) -> bytes:
    if not 0 < len(body) < LENGTH_LIMIT:
        raise ValueError(f"{kind} payload of {len(body)} bytes cannot be packed")
    return b"*" + TAGS[kind] + b":" + struct.pack("<I", len(body)) + body


def pack(stub: bytes, payloads: Dict[str, bytes]) -> bytes:
    """The stub followed by the sections, in an order in which the player
    finds each one at its place (a payload ending in '*' would hide the
    section behind it, and a payload holding a marker would shadow a later
    section)."""
    kinds = [k for k in ("gif", "wave", "midi") if k in payloads]
    for order in _orders(kinds):
        data = stub + b"".join(encode_section(k, payloads[k]) for k in order)
        found = find_sections(data)
        if all(k in found and found[k].usable and payload(data, found[k]) == payloads[k] for k in kinds):
            return data
    raise ValueError("the payloads cannot be packed so that the player finds each of them "
                     "(one holds another section's marker)")


def _orders(kinds: List[str]):
    from itertools import permutations
    return permutations(kinds)


def executable_end(stub: bytes) -> int:
    """Checks that `stub` is a 32-bit Windows executable and returns the end
    of its image in the file: the end of the furthest section's raw data,
    where an appended payload begins."""
    if len(stub) < 64 or stub[:2] != b"MZ":
        raise StubError("not a Windows executable (no MZ header)")
    (pe_offset,) = struct.unpack_from("<I", stub, 0x3C)
    if pe_offset + 24 > len(stub) or stub[pe_offset:pe_offset + 4] != b"PE\0\0":
        raise StubError("not a Windows executable (no PE signature)")
    machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", stub, pe_offset + 4)
    if machine != 0x14C:
        raise StubError(f"not a 32-bit x86 Windows executable (machine 0x{machine:04X})")
    table = pe_offset + 24 + optional_size
    if table + 40 * sections > len(stub):
        raise StubError("the executable's section table is cut short")
    end = table + 40 * sections
    for i in range(sections):
        raw_size, raw_pointer = struct.unpack_from("<II", stub, table + 40 * i + 16)
        if raw_size:
            end = max(end, raw_pointer + raw_size)
    if end > len(stub):
        raise StubError("the executable is cut short (its sections run past the end of the file)")
    return end


def bare_stub(stub: bytes) -> bytes:
    """The executable image without anything appended behind it: payload
    sections of an animation made earlier, or any other overlay, which
    could hold sections the player would find before the new ones."""
    image = stub[:executable_end(stub)]
    for kind, tag in TAGS.items():
        if find_marker(image, tag) >= 0:
            raise StubError(f"the executable itself holds a {kind.upper()} section marker")
    return image


def overlay_sections(stub: bytes) -> List[Section]:
    """Sections the player would find behind the stub's image."""
    end = executable_end(stub)
    return [s for s in find_sections(stub).values() if s.marker_offset >= end]

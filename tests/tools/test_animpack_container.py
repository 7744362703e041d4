"""Payload sections: the player's search rule, packing behind a stub, and
what a stub must be."""

import struct

import pytest

from conftest import fake_player
from animpack_core import container

GIF = b"GIF89a-payload;"


def section(tag: bytes, body: bytes, length=None) -> bytes:
    return b"*" + tag + b":" + struct.pack("<I", len(body) if length is None else length) + body


GIF_TAG = container.TAGS["gif"]
WAVE_TAG = container.TAGS["wave"]

SEARCH_CASES = [
    # (file bytes, expected (offset of '*', length, state) of the GIF section or None)
    (b"xx" + section(GIF_TAG, GIF), (2, len(GIF), "ok")),
    (b"*" + section(GIF_TAG, GIF), None),                        # '**TAG:': the second '*' is eaten
    (b"*GIF_BEGINS_HERE;" + section(GIF_TAG, GIF), (17, len(GIF), "ok")),
    (b"*GIF_BEGINS*" + section(GIF_TAG, GIF), (12, len(GIF), "ok")),
    (b"*GIF_BEGINS" + section(GIF_TAG, GIF), None),               # the breaking '*' is consumed
    (section(GIF_TAG, GIF) + section(GIF_TAG, b"second"), (0, len(GIF), "ok")),  # first wins
    (section(GIF_TAG, b"", 0) + section(GIF_TAG, GIF), (0, 0, "absent")),
    (section(GIF_TAG, b"", 1 << 31), (0, 1 << 31, "absent")),
    (section(GIF_TAG, GIF, len(GIF) + 1), (0, len(GIF) + 1, "truncated")),
    (b"*GIF_BEGINS_HERE:\x05\x00", (0, 0, "cut length")),
    (b"no sections at all", None),
]


@pytest.mark.parametrize("data, expected", SEARCH_CASES)
def test_search_rule(data, expected):
    found = container.find_section(data, "gif")
    if expected is None:
        assert found is None
    else:
        assert (found.marker_offset, found.length, found.state) == expected


def test_section_straddling_a_block_boundary_is_found():
    data = bytes(4090) + section(GIF_TAG, GIF)
    found = container.find_section(data, "gif")
    assert (found.marker_offset, container.payload(data, found)) == (4090, GIF)


def test_pack_orders_sections_so_the_player_finds_each():
    # A WAVE payload ending in '*' would hide a section written behind it.
    wave = b"RIFF....WAVE*"
    stub = fake_player()
    data = container.pack(stub, {"gif": GIF, "wave": wave})
    assert data.startswith(stub)
    found = container.find_sections(data)
    assert container.payload(data, found["gif"]) == GIF
    assert container.payload(data, found["wave"]) == wave


def test_pack_refuses_payloads_that_shadow_each_other():
    with pytest.raises(ValueError):
        container.pack(fake_player(), {"gif": section(WAVE_TAG, b"x"), "wave": section(GIF_TAG, b"y")})


def test_bare_stub_drops_appended_sections():
    stub = fake_player()
    made_earlier = stub + section(GIF_TAG, GIF) + section(WAVE_TAG, b"RIFF")
    assert container.bare_stub(made_earlier) == stub
    assert [s.kind for s in container.overlay_sections(made_earlier)] == ["gif", "wave"]


STUB_CASES = [
    (b"not an executable" * 8, "no MZ header"),
    (b"MZ" + bytes(200), "no PE signature"),
    (fake_player(machine=0x8664), "machine 0x8664"),
    (fake_player()[:700], "cut short"),
]


@pytest.mark.parametrize("stub, message", STUB_CASES)
def test_refused_stubs(stub, message):
    with pytest.raises(container.StubError, match=message):
        container.bare_stub(stub)


def test_stub_holding_a_marker_in_its_image_is_refused():
    stub = bytearray(fake_player())
    at = stub.index(b"---GIF_BEGINS_HERE\0")
    stub[at + 2:at + 3 + len(GIF_TAG) + 1] = b"*" + GIF_TAG + b":"
    with pytest.raises(container.StubError, match="marker"):
        container.bare_stub(bytes(stub))

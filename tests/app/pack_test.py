#!/usr/bin/env python3
"""Checks the bytes the packer writes, well-formed and malformed.
Usage: pack_test.py PATH/TO/pack.py"""

import os
import struct
import subprocess
import sys
import tempfile
import unittest

PACKER = None


def header(tag, length):
    return b"*" + tag + b":" + struct.pack("<I", length)


class Packer(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.stub = self.file("stub.exe", b"MZ stub \x00\x01")
        self.gif = self.file("a.gif", b"GIF89a-data")
        self.wav = self.file("a.wav", b"RIFF-wave")
        self.mid = self.file("a.mid", b"MThd-song")

    def tearDown(self):
        self.dir.cleanup()

    def file(self, name, data):
        path = os.path.join(self.dir.name, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def pack(self, *arguments, stub=None):
        output = os.path.join(self.dir.name, "out.exe")
        result = subprocess.run([sys.executable, PACKER, stub or self.stub, output] + list(arguments),
                                capture_output=True)
        self.assertEqual(result.returncode, 0, result.stderr.decode())
        with open(output, "rb") as f:
            return f.read()

    def fails(self, *arguments):
        output = os.path.join(self.dir.name, "never.exe")
        result = subprocess.run([sys.executable, PACKER, self.stub, output] + list(arguments),
                                capture_output=True)
        self.assertNotEqual(result.returncode, 0)
        self.assertFalse(os.path.exists(output))
        return result.stderr.decode()

    def test_sections_follow_the_stub_in_command_line_order(self):
        out = self.pack("--midi", self.mid, "--gif", self.gif, "--wave", self.wav)
        expected = (b"MZ stub \x00\x01"
                    + header(b"MIDI_BEGINS_HERE", 9) + b"MThd-song"
                    + header(b"GIF_BEGINS_HERE", 11) + b"GIF89a-data"
                    + header(b"WAVE_BEGINS_HERE", 9) + b"RIFF-wave")
        self.assertEqual(out, expected)

    def test_no_sections_copies_the_stub(self):
        self.assertEqual(self.pack(), b"MZ stub \x00\x01")

    def test_stub_keeps_its_mode(self):
        os.chmod(self.stub, 0o755)
        self.pack("--gif", self.gif)
        self.assertTrue(os.access(os.path.join(self.dir.name, "out.exe"), os.X_OK))

    def test_lengths_claiming_more_or_fewer_bytes(self):
        self.assertEqual(self.pack("--gif", self.gif, "--length-delta", "+1", stub=os.devnull),
                         header(b"GIF_BEGINS_HERE", 12) + b"GIF89a-data")
        self.assertEqual(self.pack("--gif", self.gif, "--length-delta", "-3", stub=os.devnull),
                         header(b"GIF_BEGINS_HERE", 8) + b"GIF89a-data")
        self.assertEqual(self.pack("--gif", self.gif, "--claim-length", "0x80000000", stub=os.devnull),
                         header(b"GIF_BEGINS_HERE", 0x80000000) + b"GIF89a-data")

    def test_truncated_payload_keeps_the_full_length(self):
        self.assertEqual(self.pack("--wave", self.wav, "--truncate", "4", stub=os.devnull),
                         header(b"WAVE_BEGINS_HERE", 9) + b"RIFF-")

    def test_broken_framing(self):
        self.assertEqual(self.pack("--gif", self.gif, "--tag", "GIF_BEGINS_HER", stub=os.devnull),
                         header(b"GIF_BEGINS_HER", 11) + b"GIF89a-data")
        self.assertEqual(self.pack("--gif", self.gif, "--separator", "0x3b", stub=os.devnull),
                         b"*GIF_BEGINS_HERE;" + struct.pack("<I", 11) + b"GIF89a-data")
        self.assertEqual(self.pack("--gif", self.gif, "--no-separator", stub=os.devnull),
                         b"*GIF_BEGINS_HERE" + struct.pack("<I", 11) + b"GIF89a-data")
        self.assertEqual(self.pack("--gif", self.gif, "--no-star", stub=os.devnull),
                         header(b"GIF_BEGINS_HERE", 11)[1:] + b"GIF89a-data")
        self.assertEqual(self.pack("--gif", self.gif, "--double-star", stub=os.devnull),
                         b"*" + header(b"GIF_BEGINS_HERE", 11) + b"GIF89a-data")

    def test_cut_off_length_field_ends_the_section(self):
        self.assertEqual(self.pack("--midi", self.mid, "--length-bytes", "2", stub=os.devnull),
                         b"*MIDI_BEGINS_HERE:\x09\x00")

    def test_modifiers_change_only_the_section_before_them(self):
        out = self.pack("--gif", self.gif, "--wave", self.wav, "--length-delta", "+5",
                        "--midi", self.mid, stub=os.devnull)
        self.assertEqual(out, header(b"GIF_BEGINS_HERE", 11) + b"GIF89a-data"
                         + header(b"WAVE_BEGINS_HERE", 14) + b"RIFF-wave"
                         + header(b"MIDI_BEGINS_HERE", 9) + b"MThd-song")

    def test_raw_bytes_go_in_unframed(self):
        self.assertEqual(self.pack("--raw-hex", "2a00ff", "--raw", self.wav, stub=os.devnull),
                         b"\x2a\x00\xffRIFF-wave")

    def test_refuses_what_it_cannot_write(self):
        self.assertIn("must follow", self.fails("--length-delta", "1"))
        self.assertIn("must follow", self.fails("--raw-hex", "00", "--no-star"))
        self.assertIn("32 bits", self.fails("--gif", self.gif, "--length-delta", "-12"))
        self.assertIn("32 bits", self.fails("--gif", self.gif, "--claim-length", str(2**32)))


if __name__ == "__main__":
    PACKER = sys.argv.pop(1)
    unittest.main()

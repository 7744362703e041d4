#!/usr/bin/env python3
"""An animation signed after it was made (Authenticode, osslsigncode, a
throw-away certificate from openssl) plays as the unsigned one does: the
signature goes behind the sections, and the player still finds them. Its
picture is on screen pixel for pixel, its sounds are written out, and the
close box ends it with exit code 0 and no temporary file left.

usage: test_signed.py --player PLAYER.EXE --probe PROBE.EXE [--wine-run SCRIPT]
"""

import subprocess

import e2e_support as e2e
import make_sample

WIDTH, HEIGHT = 160, 120


def sign(session, exe):
    def run(*command):
        subprocess.run(command, check=True, cwd=session.directory, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120)
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "key.pem",
        "-out", "cert.pem", "-days", "2", "-subj", "/CN=Throw-away animation author")
    signed = session.path("signed.exe")
    run("osslsigncode", "sign", "-certs", "cert.pem", "-key", "key.pem", "-n", "An animation",
        "-in", exe, "-out", signed)
    run("osslsigncode", "verify", "-CAfile", "cert.pem", "-in", signed)
    return signed


def body(checks, session):
    colours = e2e.distinct_colours(16, seed=31)
    frame = e2e.gifwriter.Frame(e2e.noise(WIDTH, HEIGHT, 16, seed=32), delay=500)
    gif = e2e.gifwriter.encode(e2e.gifwriter.Animation(WIDTH, HEIGHT, colours, [frame]))
    sound = [("wave", make_sample.wave_bytes()), ("midi", make_sample.midi_bytes())]
    signed = sign(session, session.pack("unsigned.exe", [("gif", gif)] + sound))

    e2e.park_mouse()
    player = session.start(signed, "signed")
    window = player.window(e2e.MAIN_CLASS, 60)
    if window is None:
        raise e2e.Abort(f"the signed animation opened no window in 60 s ({player.describe()})")
    expected = e2e.to_rgb(frame.rows, colours)
    e2e.wait_until(lambda: e2e.capture_client(window, WIDTH, HEIGHT) == expected, 10.0, 0.2)
    seen = e2e.capture_client(window, WIDTH, HEIGHT)
    checks.check(seen == expected, "the signed animation's picture on screen, pixel for pixel",
                 None if seen == expected else e2e.compare(seen, expected, "picture"), "equal")
    checks.equal(player.temp_files(), ["pavolin.mid", "pavolin.wav"],
                 "temporary sound files while playing")

    e2e.click_close_box(session, window)
    checks.equal(player.wait(15), 0, "exit code after the close box")
    checks.equal(player.temp_files(), [], "temporary files left after the close box")


if __name__ == "__main__":
    e2e.run("e2e_signed", body)

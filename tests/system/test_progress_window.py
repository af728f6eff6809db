"""What a person sees while the engine works: the progress window."""

import json
import math

from conftest import install_fixture
from engine_pc import ENGINE, log_text, plugin, prepare, wait_for_window

TITLE = "Factory Setup"


def is_engine_window(window):
    return window["process"].lower() == "nuv.exe" and any(c["id"] == 1000 for c in window["children"])


def child(window, control_id):
    return next(c for c in window["children"] if c["id"] == control_id)


def test_progress_window_in_the_top_right_corner_with_its_texts(make_pc, artefacts):
    pc = make_pc(display=True)
    wrapper = plugin("scripted_wrapper.dll")
    prepare(pc, "%s,one\r\n%s,two\r\n" % (wrapper, wrapper))
    # Step mode holds the walk before its first entry, so the window stays up.
    pc.put_file(r"c:\velk\nuv\devmode.nuv", b"")
    probe = install_fixture(pc, "window_probe.exe")

    pc.start(ENGINE)
    window = wait_for_window(pc, probe, is_engine_window)
    text_width = child(window, 1001)["rect"]["right"] - child(window, 1001)["rect"]["left"]

    def measure(text):
        return json.loads(pc.run(probe, "--measure", "MS Sans Serif", "8", text, str(text_width),
                                 check=True).stdout)

    # The dots grow every tick and begin again once one more would not fit their control.
    dots_width = child(window, 1006)["rect"]["right"] - child(window, 1006)["rect"]["left"]
    low, high = 0, dots_width + 1
    while high - low > 1:
        middle = (low + high) // 2
        low, high = (middle, high) if measure("." * middle)["width"] <= dots_width else (low, middle)
    # Sampled every few ticks, as fast as the probe runs: never more than one past the
    # most that fit, and once beyond half of them they begin again.
    seen = []
    while not any(a > low // 2 and b < a for a, b in zip(seen, seen[1:])):
        assert len(seen) < 300, (low, seen)
        text = child(wait_for_window(pc, probe, is_engine_window), 1006)["text"]
        assert set(text) <= {"."} and len(text) <= low + 1, (low, seen, text)
        seen.append(len(text))

    # An in-progress text between two and three times as wide as its control.
    text = "Now completing"
    while True:
        measured = measure(text)
        if measured["width"] > 2.1 * text_width:
            break
        text += " the installation"
    assert measured["width"] < 2.9 * text_width
    # Three lines by its width; more if wrapping at words needs them.
    lines = max(3, math.ceil(measured["drawn_height"] / measured["line_height"]))
    pc.stop()
    pc.put_file(r"C:\Velk\NUV\nuv.txt",
                'MSG_TITLE="%s"\r\nMSG_INPROGRESS = "%s"\r\n' % (TITLE, text))

    pc.start(ENGINE)
    # Topmost from its start, and put back there every two seconds: wait for the
    # window to be shown in that state rather than catch the instant it appears.
    window = wait_for_window(pc, probe, lambda w: is_engine_window(w) and w["title"] == TITLE and w["topmost"],
                             timeout=30)
    assert window["rect"]["top"] == 0
    assert window["rect"]["right"] == 1024
    text_control = child(window, 1001)
    assert text_control["text"] == text
    assert text_control["rect"]["bottom"] - text_control["rect"]["top"] == lines * measured["line_height"]
    # The dots and the bar moved down below the grown text, inside the grown window.
    bar = child(window, 1000)
    assert child(window, 1006)["rect"]["top"] >= text_control["rect"]["bottom"]
    assert bar["rect"]["top"] >= child(window, 1006)["rect"]["bottom"]
    assert bar["rect"]["bottom"] <= window["rect"]["bottom"]
    assert bar["range"] == [0, 2]
    pc.screenshot(artefacts + "/progress-window.png")

    # Keystrokes that would close or operate a dialog are discarded.
    assert pc.run(install_fixture(pc, "post_keys.exe"), TITLE).code == 0
    assert pc.run(install_fixture(pc, "window_probe.exe")).code == 0
    wait_for_window(pc, probe, lambda w: is_engine_window(w) and w["title"] == TITLE)

    # A second engine started meanwhile leaves at once and writes nothing.
    banners = log_text(pc).count("NUV: Started")
    assert pc.run(ENGINE, timeout=60).code == 0
    assert log_text(pc).count("NUV: Started") == banners
    assert len([w for w in json.loads(pc.run(probe).stdout) if is_engine_window(w) and w["visible"]]) == 1

    # A value spread over three lines of nuv.txt is shown on three lines, however short.
    pc.stop()
    pc.put_file(r"C:\Velk\NUV\nuv.txt", 'MSG_TITLE="%s"\r\nMSG_INPROGRESS="Line one\r\nLine two\r\nLine three"\r\n' % TITLE)
    pc.start(ENGINE)
    window = wait_for_window(pc, probe, lambda w: is_engine_window(w) and w["title"] == TITLE)
    text_control = child(window, 1001)
    assert text_control["text"] == "Line one\nLine two\nLine three"
    assert measure("Line one Line two Line three")["width"] < text_width
    assert text_control["rect"]["bottom"] - text_control["rect"]["top"] == 3 * measured["line_height"]

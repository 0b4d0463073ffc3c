#!/usr/bin/python3
"""The panel window (tools/panel.py) against the host pedal under a virtual X display: a click on a
footswitch and on encoder 1's turn button, made with the X server's own pointer, select a preset and raise the
volume in the pedal (seen over the remote protocol), light the preset's LED with its colour's duties, and the
window's display area is the framebuffer's picture at twice its size (seen in a screenshot of the screen); the
window outlives a restart of the pedal.

  PanelWindowTest.py PEDAL_PROGRAM FB2PNG_PROGRAM
"""

import os
import random
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools")
sys.path.insert(0, TOOLS)
sys.dont_write_bytecode = True

import numpy  # noqa: E402
import tkinter  # noqa: E402

import panel  # noqa: E402
import pedalctl  # noqa: E402

PEDAL, FB2PNG = sys.argv[1], sys.argv[2]
# Every wait is bounded; the bounds allow for a sanitizer build on a busy two-core machine.
START_S = 90
EFFECT_S = 30


def free_tcp_address():
    """A loopback address and port of this test's own. The kernel hands the port just released to the next
    caller, so test runs side by side would otherwise pick the same port, and one would talk to the other's
    pedal; a random address of the whole loopback network keeps them apart."""
    address = "127.%d.%d.%d" % (random.randrange(1, 255), random.randrange(0, 256), random.randrange(1, 255))
    with socket.socket() as probe:
        probe.bind((address, 0))
        return address, probe.getsockname()[1]


def read_ppm(data):
    """Width, height and the RGB rows of a binary PPM picture."""
    fields = []
    at = 0
    while len(fields) < 4:
        while data[at:at + 1].isspace():
            at += 1
        end = at
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[at:end])
        at = end
    at += 1
    width, height = int(fields[1]), int(fields[2])
    if fields[0] != b"P6" or fields[3] != b"255":
        raise ValueError("not an 8-bit binary PPM picture")
    return numpy.frombuffer(data, dtype=numpy.uint8, count=width * height * 3, offset=at).reshape(height, width, 3)


class PanelWindow(unittest.TestCase):
    def setUp(self):
        self.window = None
        self.home = tempfile.mkdtemp(prefix="pedal-panel-")
        self.addCleanup(shutil.rmtree, self.home, True)
        self.display = self.start_xvfb()
        address, port = free_tcp_address()
        environment = dict(os.environ, PEDAL_HOME=self.home, PEDAL_TCP_ADDRESS=address, PEDAL_TCP_PORT=str(port),
                           PEDAL_CODEC="none")
        environment.pop("PEDAL_PANEL", None)
        self.pedal_log = open(os.path.join(self.home, "pedal.log"), "w")
        self.addCleanup(self.pedal_log.close)
        self.environment = environment
        self.pedal = subprocess.Popen([PEDAL], env=environment, stdout=self.pedal_log, stderr=subprocess.STDOUT)
        self.addCleanup(lambda: self.stop(self.pedal))
        self.remote = pedalctl.Pedal(pedalctl.TcpLink("%s:%d" % (address, port)))
        self.addCleanup(self.remote.link.close)

    def start_xvfb(self):
        # A display number of its own: Xvfb servers that pick the lowest free one race each other (one that is
        # ending removes the socket of the next) when several test runs share the machine.
        for attempt in range(20):
            number = str(random.randrange(100, 30000))
            reader, writer = os.pipe()
            self.xvfb_log = open(os.path.join(self.home, "xvfb.log"), "w")
            self.addCleanup(self.xvfb_log.close)
            xvfb = subprocess.Popen(["Xvfb", ":" + number, "-displayfd", str(writer), "-screen", "0", "800x800x24",
                                     "-nolisten", "tcp"], pass_fds=(writer,), stdout=self.xvfb_log,
                                    stderr=subprocess.STDOUT)
            self.xvfb = xvfb
            os.close(writer)
            # The number comes with a newline, perhaps in a write of its own: closing the pipe before it would
            # make Xvfb end.
            told = b""
            deadline = time.monotonic() + START_S
            while b"\n" not in told and time.monotonic() < deadline:
                ready, _, _ = select.select([reader], [], [], max(0.0, deadline - time.monotonic()))
                chunk = os.read(reader, 32) if ready else b""
                if not chunk:
                    break
                told += chunk
            told = told.decode().strip()
            os.close(reader)
            if told == number:
                self.addCleanup(self.stop, xvfb)
                return ":" + number
            self.stop(xvfb)
        self.fail("Xvfb did not start on any of 20 display numbers")

    @staticmethod
    def stop(process):
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(20)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()

    def pedal_output(self):
        self.pedal_log.flush()
        with open(os.path.join(self.home, "pedal.log"), errors="replace") as log:
            return log.read()[-4000:]

    def wait(self, condition, what, seconds=EFFECT_S, pedal_runs=True):
        """Runs the window while waiting for condition; fails with what was awaited after the bound."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if pedal_runs and self.pedal.poll() is not None:
                self.fail("the pedal ended while waiting for %s:\n%s" % (what, self.pedal_output()))
            if self.window:
                self.window.update()
            if condition():
                return
            time.sleep(0.05)
        self.fail("no %s within %d s\n%s" % (what, seconds, self.pedal_output()))

    def remote_value(self, path):
        try:
            return self.remote.describe(path)["value"]
        except (OSError, pedalctl.PedalError):
            self.remote.link.close()
            return None

    def answered(self, path, seconds=EFFECT_S):
        """The node's value once the pedal answers over TCP."""
        values = []
        self.wait(lambda: values.append(self.remote_value(path)) or values[-1] is not None, "an answer for " + path,
                  seconds)
        return values[-1]

    def click(self, widget):
        """A click of the X server's pointer in the middle of the widget."""
        x = widget.winfo_rootx() + widget.winfo_width() // 2
        y = widget.winfo_rooty() + widget.winfo_height() // 2
        subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], env=dict(os.environ, DISPLAY=self.display),
                       check=True, timeout=EFFECT_S)

    def screenshot(self):
        shot = subprocess.run(["import", "-display", self.display, "-window", "root", "-depth", "8", "ppm:-"], capture_output=True,
                              check=True, timeout=EFFECT_S)
        return read_ppm(shot.stdout)

    def framebuffer_picture(self, framebuffer):
        """The framebuffer bytes as the pedal's own PNG tool shows them: the display's rows, twice the size."""
        raw = os.path.join(self.home, "shown.fb")
        png = os.path.join(self.home, "shown.png")
        with open(raw, "wb") as file:
            file.write(framebuffer)
        subprocess.run([FB2PNG, raw, png], check=True, stdout=subprocess.DEVNULL, timeout=EFFECT_S)
        converted = subprocess.run(["convert", png, "-depth", "8", "ppm:-"], capture_output=True, check=True, timeout=EFFECT_S)
        rows = read_ppm(converted.stdout)[panel.FB_TOP:panel.FB_TOP + panel.HEIGHT, :panel.WIDTH]
        return rows.repeat(2, axis=0).repeat(2, axis=1)

    def test_controls_reach_the_pedal_and_the_display_is_the_framebuffer(self):
        self.wait(lambda: self.remote_value("root\\app\\preset") is not None, "answer over TCP", START_S)
        for name in ("Clean", "Crunch"):
            self.remote.request(['write root\\app\\preset:{"value":"%s","save":"save"}' % name])
        self.remote.write("root\\app\\preset", "Clean")
        self.assertEqual(self.remote_value("root\\app\\preset"), "Clean")
        volume = self.answered("root\\app\\output\\vol")
        colour = int(self.answered("root\\app\\output\\pst\\color"), 16)

        os.environ["DISPLAY"] = self.display
        try:
            self.window = tkinter.Tk()
        except tkinter.TclError:
            with open(os.path.join(self.home, "xvfb.log")) as log:
                print("Xvfb %s, running: %s, says:\n%s" % (self.display, self.xvfb.poll() is None, log.read()))
            raise
        self.addCleanup(self.window.destroy)
        window = panel.Panel(self.window, self.home, os.path.join(self.home, "panel.sock"))
        self.addCleanup(window.link.close)
        self.wait(lambda: window.link.connected() and window.shown is not None, "connection and picture", START_S)

        # Footswitch B's short release selects the second preset of the bank, which lights LED 2 in its colour.
        self.click(window.controls["footswitch B"])
        self.wait(lambda: self.remote_value("root\\app\\preset") == "Crunch", "preset Crunch after footswitch B")
        duties = tuple((colour >> shift & 0xFF) >> 3 for shift in (16, 8, 0))
        self.wait(lambda: window.duties == [(0, 0, 0), duties, (0, 0, 0)],
                  "LED 2 at duties %s (shown: %s)" % (duties, window.duties))

        self.click(window.controls["encoder 1 forward"])
        self.wait(lambda: (self.remote_value("root\\app\\output\\vol") or 0) > volume, "volume above %s" % volume)
        self.assertEqual(self.remote_value("root\\app\\preset"), "Crunch", "the volume knob stepped the preset")
        # Encoders 2 to 5 sit under the display's sliders, left to right, and turn what those sliders show.
        for encoder, knob in enumerate(("low", "mid", "treble", "gain"), 2):
            path = "root\\app\\amp\\" + knob
            before = self.answered(path)
            button = window.controls["encoder %d forward" % encoder]
            middle = button.winfo_rootx() + button.winfo_width() // 2 - window.screen.winfo_rootx()
            self.assertEqual(middle * 4 // (2 * panel.WIDTH), encoder - 2, "encoder %d under its slider" % encoder)
            self.click(button)
            self.wait(lambda: (self.remote_value(path) or before) > before, "%s above %s" % (path, before))

        # The picture the window shows now is the framebuffer's; the pedal redraws meanwhile, so a few tries.
        left, top = window.screen.winfo_rootx(), window.screen.winfo_rooty()
        mismatch = None
        for attempt in range(10):
            window.refresh()
            self.window.update()
            shown = window.shown
            area = self.screenshot()[top:top + 2 * panel.HEIGHT, left:left + 2 * panel.WIDTH]
            expected = self.framebuffer_picture(shown)
            if numpy.array_equal(area, expected):
                break
            mismatch = int(numpy.count_nonzero((area != expected).any(axis=2)))
        else:
            self.fail("the display area differs from the framebuffer in %d pixels" % mismatch)
        self.assertGreater(len(numpy.unique(expected.reshape(-1, 3), axis=0)), 2, "the display shows a picture")

        # The window outlives a restart of the pedal: it connects again and its controls work as before.
        lamp = lambda: sum(bytes.fromhex(window.led_lamps[1].itemcget("lamp", "fill")[1:]))  # noqa: E731
        lit = lamp()
        self.stop(self.pedal)
        self.wait(lambda: not window.link.connected(), "the window noticing the pedal has gone", pedal_runs=False)
        self.window.update()
        dimmed = self.screenshot()[top:top + 2 * panel.HEIGHT, left:left + 2 * panel.WIDTH]
        self.assertLessEqual(dimmed.mean(), 0.5 * area.mean(), "the display of a stopped pedal is dimmed")
        self.assertEqual(window.screen.itemcget(window.overlay, "text"), panel.NOT_RUNNING)
        self.assertLessEqual(lamp(), 0.5 * lit, "the LEDs of a stopped pedal are dimmed")
        self.pedal = subprocess.Popen([PEDAL], env=self.environment, stdout=self.pedal_log, stderr=subprocess.STDOUT)
        self.wait(window.link.connected, "the window connecting to the restarted pedal", START_S)
        # The panel socket comes up early in the pedal's start, the TCP server later.
        volume = self.answered("root\\app\\output\\vol", START_S)
        self.click(window.controls["encoder 1 forward"])
        self.wait(lambda: (self.remote_value("root\\app\\output\\vol") or 0) > volume, "volume above %s" % volume)

        # A second window is turned away: it says why and keeps asking, never showing itself connected.
        second = panel.Panel(tkinter.Toplevel(self.window), self.home, os.path.join(self.home, "panel.sock"))
        statuses = []
        self.wait(lambda: statuses.append(second.status.cget("text")) or len(statuses) > 60, "a second window's retries")
        self.assertEqual(second.screen.itemcget(second.overlay, "text"), panel.ANOTHER_PANEL)
        self.assertNotIn("Connected", "".join(statuses), "the second window showed itself connected")
        second.root.withdraw()  # off the first window's controls

        # The shown preset (02B) renamed, then replaced: reported, drawn, and footswitch A selects 02A beside it.
        presets = "root\\presets"
        _, data = self.remote.download_slot(presets, 0)
        for index, name in ((3, "Bank2A"), (4, "Bank2B")):
            self.remote.upload_slot(presets, index, name, data)
        self.remote.write("root\\app\\preset", "Bank2B")
        header = lambda: self.framebuffer_picture(window.shown)[:70, :460]  # noqa: E731
        for name, slot in (("Bank2B renamed", 0), ("Other", 1)):
            settled = time.monotonic() + 1  # the pedal redraws every 60 ms
            self.wait(lambda: time.monotonic() > settled, "the shown preset drawn")
            before = header()
            self.remote.upload_slot(presets, 4, name, self.remote.download_slot(presets, slot)[1])
            self.wait(lambda: self.remote_value("root\\app\\preset") == name and not numpy.array_equal(header(), before),
                      name + " reported and drawn")
        self.click(window.controls["footswitch A"])
        self.wait(lambda: self.remote_value("root\\app\\preset") == "Bank2A", "footswitch A selecting 02A")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])

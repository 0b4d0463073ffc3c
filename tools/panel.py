#!/usr/bin/python3
"""The pedal's front panel in a window: the live 320 x 170 display at twice its size, the three preset LEDs
with their PWM duties, the three footswitches, the five push encoders and the expression pedal, laid out as on
the pedal: encoder 1, the main knob, beside the display, encoders 2 to 5 under the sliders they turn. While no
pedal is connected the display and the LEDs are dimmed under "pedal not running"; while the pedal serves
another panel window, under "another panel window is connected", and the window keeps asking quietly.

Run it next to a running host pedal (./scripts/run); it finds the pedal through $PEDAL_HOME (./pedal-home by
default) and keeps looking for it while the pedal restarts:

  /usr/bin/python3 tools/panel.py [--home DIR] [--socket PATH]

The window is the simulated hardware: it speaks the protocol of docs/panel-protocol.md, so the pedal's own
scanner turns its contacts into events, exactly as on the device.

Keys (hold Shift, or use F1 to F5, for a long press):
  a s d          footswitches A, B, C; two pressed together are a pair: A+B a bank down, B+C a bank up
  Left Right     encoder 1 (the main encoder): turn; Return pushes it
  q w, e r, t y, u i, o p
                 encoders 1 to 5: turn back, forward
  1 2 3 4 5      push encoders 1 to 5; F1 to F5 hold them
  Up Down        expression pedal, toe and heel
"""

import argparse
import os
import signal
import socket
import sys
import tkinter as tk

import numpy

WIDTH, HEIGHT = 320, 170
# The display's picture in the framebuffer file: 320 x 240 RGB565, starting at row 35.
FB_WIDTH, FB_HEIGHT, FB_TOP = 320, 240, 35
SCALE = 2
FRAME_BYTES = 3
# A click holds the contact well past the scanner's 50 ms debounce, also when the pedal's input thread runs
# late; a long press past its 1.5 s.
CLICK_MS = 250
LONG_PRESS_MS = 2200
PWM_DEPTH = 32
REFRESH_MS = 50
RECONNECT_MS = 500

FOOTSWITCH_LINES = {"A": 23, "B": 16, "C": 0}
PUSH_LINES = [22, 19, 12, 10, 5]
ENCODER_LINES = [(21, 20), (17, 18), (13, 14), (11, 4), (3, 6)]
# Red, green and blue lines of the preset LEDs.
LED_LINES = [(12, 11, 10), (15, 14, 13), (0, 2, 1)]
# One detent: the Gray code (A, B) from rest (both lines high) round to rest again.
DETENT_FORWARD = [(0, 1), (0, 0), (1, 0), (1, 1)]
DETENT_BACK = [(1, 0), (0, 0), (0, 1), (1, 1)]
FOOTSWITCH_KEYS = {"A": "a", "B": "s", "C": "d"}
ENCODER_KEYS = [("q", "w"), ("e", "r"), ("t", "y"), ("u", "i"), ("o", "p")]
PEDAL_TOE_MV = 3300
# The display's four slider columns (left edges) and a column's middle, in display pixels; encoders 2 to 5 sit
# under them. The volume bar's top, beside which encoder 1 sits.
SLIDER_COLUMNS = [0, 78, 156, 234]
SLIDER_CENTRE = 43
VOLUME_BAR_Y = 48
KNOB_ROW_HEIGHT = 124
# What a press and a hold of each footswitch do on the home screen: the pairs it belongs to, a press, a hold.
# A press of the shown preset's own footswitch taps the tempo instead of loading it again.
FOOTSWITCH_ACTIONS = {"A": ("with B: bank down", "preset A; tap if shown", "nothing"),
                      "B": ("with A: down, with C: up", "preset B; tap if shown", "nothing"),
                      "C": ("with B: bank up", "preset C; tap if shown", "tuner on")}
# While no pedal is connected the last picture stays, at this share of its brightness, under a notice.
DIM_SHARE = 0.3
NOT_RUNNING = "pedal not running"
ANOTHER_PANEL = "another panel window is connected"
# Bytes queued for a pedal that does not read before the link counts as stalled.
MAX_OUTGOING = 64 * 1024


def default_home():
    return os.environ.get("PEDAL_HOME") or os.path.join(os.getcwd(), "pedal-home")


def display_rgb(framebuffer):
    """The display's picture as RGB bytes, SCALE times its size; None when the file is not a framebuffer."""
    pixels = numpy.frombuffer(framebuffer, dtype="<u2")
    if pixels.size < FB_WIDTH * FB_HEIGHT:
        return None
    picture = pixels[:FB_WIDTH * FB_HEIGHT].reshape(FB_HEIGHT, FB_WIDTH)[FB_TOP:FB_TOP + HEIGHT, :WIDTH]
    red = (picture >> 11) & 0x1F
    green = (picture >> 5) & 0x3F
    blue = picture & 0x1F
    # Each component's top bits repeat into its low bits, as the pedal's own PNG tool widens them.
    rgb = numpy.stack([(red << 3) | (red >> 2), (green << 2) | (green >> 4), (blue << 3) | (blue >> 2)], axis=-1)
    rgb = rgb.astype(numpy.uint8).repeat(SCALE, axis=0).repeat(SCALE, axis=1)
    return rgb.tobytes()


class PanelLink:
    """The connection to the pedal's panel socket: contact levels out, output frames in."""

    def __init__(self, path):
        self.path = path
        self.sock = None
        self.buffer = b""
        self.outgoing = bytearray()
        # "waiting" (no pedal), "busy" (the pedal serves another panel) or "live" (its frames arrive). A new
        # connection keeps the state until the pedal takes or turns it away, so retries never flicker.
        self.state = "waiting"

    def connected(self):
        return self.sock is not None and self.state == "live"

    def connect(self):
        try:
            sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            sock.connect(self.path)
        except OSError:
            sock.close()
            self.state = "waiting"
            return False
        sock.setblocking(False)
        self.sock = sock
        self.buffer = b""
        self.outgoing = bytearray()
        return True

    def close(self, state="waiting"):
        if self.sock:
            self.sock.close()
        self.sock = None
        self.state = state

    def send(self, message):
        """Queues the message and sends what the socket takes now: the window never waits for the pedal."""
        if not self.sock:
            return
        if len(self.outgoing) + len(message) > MAX_OUTGOING:
            # A pedal that has read nothing for this long has stalled; a new connection starts afresh.
            self.close()
            return
        self.outgoing += message
        self.flush()

    def flush(self):
        while self.sock and self.outgoing:
            try:
                sent = self.sock.send(self.outgoing)
            except BlockingIOError:
                return
            except OSError:
                self.close()
                return
            del self.outgoing[:sent]

    def frames(self):
        """The output frames received since the last call; the link closes when the pedal has gone."""
        self.flush()
        if not self.sock:
            return []
        while True:
            try:
                data = self.sock.recv(65536)
            except BlockingIOError:
                break
            except OSError:
                data = b""
            if not data:
                # A pedal that turns a window away says why first; a refusal that came before it stands.
                self.close("busy" if self.buffer.startswith(b"B") or self.state == "busy" and not self.buffer
                           else "waiting")
                return []
            self.buffer += data
        frames = []
        at = 0
        if self.buffer.startswith(b"B"):
            self.close("busy")
            return []
        while len(self.buffer) - at >= 3:
            if self.buffer[at:at + 1] != b"F":
                self.close()
                return frames
            self.state = "live"
            size, count = self.buffer[at + 1], self.buffer[at + 2]
            end = at + 3 + size * count
            if end > len(self.buffer):
                break
            frames.extend(self.buffer[at + 3 + i * size:at + 3 + (i + 1) * size] for i in range(count))
            at = end
        self.buffer = self.buffer[at:]
        return frames


class Panel:
    def __init__(self, root, home, socket_path):
        self.root = root
        self.fb_path = os.path.join(home, "fb0")
        self.link = PanelLink(socket_path)
        self.levels = [1] * (FRAME_BYTES * 8)
        self.pedal_mv = 0
        self.shown = None
        self.lit = [[0, 0, 0] for _ in LED_LINES]
        self.frame_total = 0
        self.duties = [(0, 0, 0) for _ in LED_LINES]
        self.controls = {}
        self.overlay = None
        self.notice = ""
        root.title("Pedal panel")
        root.configure(bg="#202225")
        self._build()
        self._bind_keys()
        self._reconnect()
        self._refresh()

    # The window.

    def _build(self):
        self.status = tk.Label(self.root, anchor="w", fg="#bbbbbb", bg="#202225")
        self.status.pack(fill="x", padx=8, pady=(6, 0))
        top = tk.Frame(self.root, bg="#202225")
        top.pack(anchor="w", padx=8, pady=6)
        self.screen = tk.Canvas(top, width=WIDTH * SCALE, height=HEIGHT * SCALE, bg="black",
                                highlightthickness=0, bd=0)
        self.screen.pack(side="left")
        self.image = tk.PhotoImage(width=WIDTH * SCALE, height=HEIGHT * SCALE)
        self.screen.create_image(0, 0, image=self.image, anchor="nw")
        # Encoder 1 is the main knob, apart from the others, level with the display's volume bar.
        main = tk.Frame(top, bg="#202225")
        main.pack(side="left", anchor="n", padx=(10, 0), pady=(VOLUME_BAR_Y * SCALE - 20, 0))
        self._encoder(main, 0, "Encoder 1: volume, select")

        # Encoders 2 to 5 each under the column of the slider it turns.
        knobs = tk.Frame(self.root, bg="#202225", width=WIDTH * SCALE, height=KNOB_ROW_HEIGHT)
        knobs.pack(anchor="w", padx=8)
        for index in range(1, len(ENCODER_LINES)):
            column = tk.Frame(knobs, bg="#202225")
            column.place(x=(SLIDER_COLUMNS[index - 1] + SLIDER_CENTRE) * SCALE, y=0, anchor="n")
            self._encoder(column, index, "Encoder %d" % (index + 1))

        leds = tk.Frame(self.root, bg="#202225")
        leds.pack(pady=2)
        self.led_lamps = []
        self.led_texts = []
        for index in range(len(LED_LINES)):
            cell = tk.Frame(leds, bg="#202225")
            cell.pack(side="left", padx=18)
            lamp = tk.Canvas(cell, width=28, height=28, bg="#202225", highlightthickness=0)
            lamp.create_oval(3, 3, 25, 25, fill="black", outline="#555555", tags="lamp")
            lamp.pack()
            text = tk.Label(cell, text="LED %d" % (index + 1), fg="#bbbbbb", bg="#202225", font=("TkFixedFont", 9))
            text.pack()
            self.led_lamps.append(lamp)
            self.led_texts.append(text)

        bottom = tk.Frame(self.root, bg="#202225")
        bottom.pack(fill="x", padx=8, pady=(4, 8))
        for name in FOOTSWITCH_LINES:
            self._footswitch(bottom, name)
        pedal = tk.Frame(bottom, bg="#202225")
        pedal.pack(side="right", padx=10)
        tk.Label(pedal, text="Expression mV  [Up/Down]", fg="#bbbbbb", bg="#202225").pack()
        self.pedal_scale = tk.Scale(pedal, from_=PEDAL_TOE_MV, to=0, orient="vertical", length=90,
                                    showvalue=True, resolution=10, takefocus=0, command=self._pedal_moved)
        self.pedal_scale.pack()
        self.controls["expression"] = self.pedal_scale

    def _footswitch(self, parent, name):
        pair_text, press_text, hold_text = FOOTSWITCH_ACTIONS[name]
        key = FOOTSWITCH_KEYS[name]
        title = "Footswitch %s" % name + ("  (%s)" % pair_text if pair_text else "")
        frame = tk.LabelFrame(parent, text=title, fg="#bbbbbb", bg="#202225")
        frame.pack(side="left", padx=6)
        button = tk.Button(frame, text="%s  [%s]\n%s" % (name, key, press_text), width=22, height=2)
        hold = tk.Button(frame, text="hold [%s]: %s" % (key.upper(), hold_text), width=22,
                         command=lambda: self.press(FOOTSWITCH_LINES[name], LONG_PRESS_MS))
        button.pack(fill="x")
        hold.pack(fill="x")
        self._hold_with_mouse(button, FOOTSWITCH_LINES[name])
        self.controls["footswitch " + name] = button
        self.controls["footswitch %s hold" % name] = hold

    def _encoder(self, parent, index, title):
        frame = tk.LabelFrame(parent, text=title, fg="#bbbbbb", bg="#202225")
        frame.pack()
        back_key, forward_key = ENCODER_KEYS[index]
        back = tk.Button(frame, text="\u25c0 " + back_key, width=3, command=lambda: self.turn(index, False))
        forward = tk.Button(frame, text=forward_key + " \u25b6", width=3, command=lambda: self.turn(index, True))
        push = tk.Button(frame, text="push %d" % (index + 1), width=6)
        hold = tk.Button(frame, text="hold F%d" % (index + 1), width=6,
                         command=lambda: self.press(PUSH_LINES[index], LONG_PRESS_MS))
        back.grid(row=0, column=0)
        forward.grid(row=0, column=1)
        push.grid(row=1, column=0, columnspan=2, sticky="ew")
        hold.grid(row=2, column=0, columnspan=2, sticky="ew")
        self._hold_with_mouse(push, PUSH_LINES[index])
        for widget in (back, forward, push, hold):
            widget.bind("<Button-4>", lambda event: self.turn(index, True))
            widget.bind("<Button-5>", lambda event: self.turn(index, False))
        name = "encoder %d" % (index + 1)
        self.controls[name + " back"] = back
        self.controls[name + " forward"] = forward
        self.controls[name + " push"] = push
        self.controls[name + " hold"] = hold

    def _hold_with_mouse(self, button, line):
        # The contact stays closed while the mouse button is down, so a press held long enough is a long press;
        # a quick click still holds it for a click's time, or the pedal's debounce would never see it.
        pressed_at = {}

        def down(event):
            pressed_at[line] = event.time
            self.set_line(line, 0)

        def up(event):
            held = event.time - pressed_at.get(line, event.time)
            self.root.after(max(0, CLICK_MS - held), lambda: self.set_line(line, 1))

        button.bind("<ButtonPress-1>", down)
        button.bind("<ButtonRelease-1>", up)

    def _bind_keys(self):
        for name, key in FOOTSWITCH_KEYS.items():
            line = FOOTSWITCH_LINES[name]
            self.root.bind("<Key-%s>" % key, lambda event, line=line: self.press(line, CLICK_MS))
            self.root.bind("<Key-%s>" % key.upper(), lambda event, line=line: self.press(line, LONG_PRESS_MS))
        for index, (back, forward) in enumerate(ENCODER_KEYS):
            self.root.bind("<Key-%s>" % back, lambda event, index=index: self.turn(index, False))
            self.root.bind("<Key-%s>" % forward, lambda event, index=index: self.turn(index, True))
            line = PUSH_LINES[index]
            self.root.bind("<Key-%d>" % (index + 1), lambda event, line=line: self.press(line, CLICK_MS))
            self.root.bind("<Key-F%d>" % (index + 1), lambda event, line=line: self.press(line, LONG_PRESS_MS))
        self.root.bind("<Left>", lambda event: self.turn(0, False))
        self.root.bind("<Right>", lambda event: self.turn(0, True))
        self.root.bind("<Return>", lambda event: self.press(PUSH_LINES[0], CLICK_MS))
        self.root.bind("<Up>", lambda event: self.pedal_scale.set(min(PEDAL_TOE_MV, self.pedal_scale.get() + 330)))
        self.root.bind("<Down>", lambda event: self.pedal_scale.set(max(0, self.pedal_scale.get() - 330)))

    # The contacts.

    def _frame(self):
        frame = bytearray(FRAME_BYTES)
        for line, level in enumerate(self.levels):
            if level:
                frame[line // 8] |= 1 << (line % 8)
        return b"I" + bytes([FRAME_BYTES]) + bytes(frame)

    def set_line(self, line, level):
        self.levels[line] = level
        self.link.send(self._frame())

    def press(self, line, milliseconds):
        self.set_line(line, 0)
        self.root.after(milliseconds, lambda: self.set_line(line, 1))

    def turn(self, index, forward):
        # Every step goes as its own frame: the pedal holds each for at least one transfer.
        line_a, line_b = ENCODER_LINES[index]
        message = b""
        for a, b in DETENT_FORWARD if forward else DETENT_BACK:
            self.levels[line_a], self.levels[line_b] = a, b
            message += self._frame()
        self.link.send(message)

    def _pedal_moved(self, value):
        self.pedal_mv = int(float(value))
        self.link.send(b"A" + self.pedal_mv.to_bytes(2, "big"))

    # The pedal.

    def _reconnect(self):
        if self.link.sock is None and self.link.connect():
            self.link.send(self._frame() + b"A" + self.pedal_mv.to_bytes(2, "big"))
        if self.link.connected():
            self.status.configure(text="Connected to the pedal at %s" % self.link.path)
        elif self.link.state == "busy":
            self.status.configure(text="The pedal at %s: %s; asking again ..." % (self.link.path, ANOTHER_PANEL))
        else:
            self.status.configure(text="Waiting for the pedal at %s ..." % self.link.path)
        self._show_connection()
        self.root.after(RECONNECT_MS, self._reconnect)

    def _refresh(self):
        self.refresh()
        self.root.after(REFRESH_MS, self._refresh)

    def _show_connection(self):
        # The picture and the LEDs of a pedal this window does not drive are dimmed under a notice, so they are
        # never taken for live ones.
        notice = None if self.link.connected() else ANOTHER_PANEL if self.link.state == "busy" else NOT_RUNNING
        if notice == self.notice:
            return
        self.notice = notice
        if self.overlay is not None:
            self.screen.delete(self.overlay)
            self.overlay = None
        self._show_leds()
        if notice is None:
            self.shown = None
            return
        self.overlay = self.screen.create_text(WIDTH * SCALE // 2, HEIGHT * SCALE // 2, text=notice,
                                               fill="#ffffff", font=("TkDefaultFont", 20, "bold"))
        if self.shown is not None:
            rgb = numpy.frombuffer(display_rgb(self.shown), dtype=numpy.uint8) * DIM_SHARE
            self.image.configure(data=b"P6 %d %d 255\n" % (WIDTH * SCALE, HEIGHT * SCALE) +
                                 rgb.astype(numpy.uint8).tobytes(), format="PPM")

    def refresh(self):
        """Takes the frames that arrived and the framebuffer as it is now into the window."""
        self._take_frames(self.link.frames())
        self._show_connection()
        if self.overlay is not None:
            return
        try:
            with open(self.fb_path, "rb") as file:
                framebuffer = file.read(FB_WIDTH * FB_HEIGHT * 2)
        except OSError:
            return
        if framebuffer == self.shown:
            return
        rgb = display_rgb(framebuffer)
        if rgb is None:
            return
        header = b"P6 %d %d 255\n" % (WIDTH * SCALE, HEIGHT * SCALE)
        self.image.configure(data=header + rgb, format="PPM")
        self.shown = framebuffer

    def _take_frames(self, frames):
        # Duties are counted over whole PWM periods, so the count does not depend on where a period starts.
        for frame in frames:
            for led, lines in enumerate(LED_LINES):
                for component, line in enumerate(lines):
                    if frame[len(frame) - 1 - line // 8] >> (line % 8) & 1:
                        self.lit[led][component] += 1
            self.frame_total += 1
            if self.frame_total == 8 * PWM_DEPTH:
                self.duties = [tuple(round(count * PWM_DEPTH / self.frame_total) for count in lit) for lit in self.lit]
                self.lit = [[0, 0, 0] for _ in LED_LINES]
                self.frame_total = 0
                self._show_leds()

    def _show_leds(self):
        share = 1 if self.link.connected() else DIM_SHARE
        for led, duty in enumerate(self.duties):
            # The lamp shows the duty as brightness; the text shows the duties themselves.
            colour = "#%02x%02x%02x" % tuple(min(255, int(value * 256 * share) // PWM_DEPTH) for value in duty)
            self.led_lamps[led].itemconfigure("lamp", fill=colour)
            self.led_texts[led].configure(text="LED %d   R %d  G %d  B %d  /%d" % ((led + 1,) + duty + (PWM_DEPTH,)))


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--home", default=default_home(), help="the pedal's state folder ($PEDAL_HOME)")
    parser.add_argument("--socket", help="the panel socket (default: $PEDAL_PANEL, or panel.sock in the home)")
    args = parser.parse_args(argv)
    setting = os.environ.get("PEDAL_PANEL", "")
    socket_path = args.socket or (setting if setting not in ("", "off") else os.path.join(args.home, "panel.sock"))
    try:
        root = tk.Tk()
    except tk.TclError as error:
        sys.stderr.write("panel.py: no display (%s)\n" % error)
        return 1
    Panel(root, args.home, socket_path)
    # Ctrl-C in the terminal that started it (with the pedal, from scripts/run) closes the window quietly.
    signal.signal(signal.SIGINT, lambda number, frame: root.destroy())
    root.mainloop()
    return 0


if __name__ == "__main__":
    sys.exit(main())

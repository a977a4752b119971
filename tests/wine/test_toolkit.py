"""The toolkit's Windows backend under wine64: tests/win/toolkit_win_test.exe
builds a window with every kind of control; the UI probe and xdotool check
it from outside, as a user would see it. Screenshots go to ARTIFACTS_DIR."""

import json
import os
import queue
import subprocess
import threading
import time

import pytest

import winerig

FIXTURES = winerig.SOURCE_DIR / "tests" / "fixtures" / "images"
TITLE = "Toolkit test"

# Control numbers of the test window (see toolkit_win_test.cpp). Creation
# order of the controls that take the focus: 8, 6, 5.
IMAGE, LIST, LINK, BUTTON, FIRST_BUTTON, PLAIN_TEXT, PROGRESS = 4, 6, 7, 5, 8, 9, 3


class ProgramUnderTest:
    """The running test program: its event lines and its commands."""

    def __init__(self, wine):
        self.wine = wine
        self.lines = queue.Queue()
        self.process = subprocess.Popen(
            wine.command(winerig.program("toolkit_win_test"),
                         ["window", winerig.windows_path(FIXTURES)]),
            env=wine.env(), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL)
        threading.Thread(target=self._pump, daemon=True).start()
        self.ready = self.next_line()
        assert self.ready.get("ready"), self.ready

    def _pump(self):
        for line in self.process.stdout:
            text = line.decode("latin-1").strip()
            if text:
                self.lines.put(json.loads(text))

    def next_line(self, timeout=winerig.DEADLINE):
        return self.lines.get(timeout=timeout)

    def command(self, text):
        self.process.stdin.write((text + "\n").encode("latin-1"))
        self.process.stdin.flush()
        while True:
            line = self.next_line()
            if line.get("done") == text:
                return line

    def quiet(self, settle=1.5, until=None):
        """Lines (events and control notifications) that arrive until
        nothing came for `settle` seconds. With `until`, the collection
        first waits (up to the deadline) for an event that satisfies it: a
        loaded machine may take longer than `settle` to turn a click into an
        event."""
        found = []
        deadline = time.monotonic() + winerig.DEADLINE
        while until is not None and not any(until(line) for line in found if "event" in line):
            try:
                found.append(self.lines.get(timeout=max(0.0, deadline - time.monotonic())))
            except queue.Empty:
                return found
        while True:
            try:
                found.append(self.lines.get(timeout=settle))
            except queue.Empty:
                return found

    def events(self, settle=1.5, until=None):
        """Event lines of quiet(settle, until)."""
        return [line for line in self.quiet(settle, until) if "event" in line]

    def drain(self):
        self.events(settle=0.3)

    def stop(self):
        if self.process.poll() is None:
            try:
                self.command("quit")
                self.process.wait(timeout=20)
            except Exception:
                self.process.kill()
                self.process.wait(timeout=10)


def probe(wine, *args):
    result = wine.run(winerig.program("ui_probe"), list(args), timeout=60)
    return json.loads(result.stdout)


def window_state(wine, title=TITLE):
    state = probe(wine, "--title", title)
    assert "window" in state, state
    return state


def control(state, number):
    found = [c for c in state["controls"] if c["id"] == number and c["class"] != "SysHeader32"]
    assert found, f"no control {number}"
    return found[0]


def move_pointer(wine, x, y):
    subprocess.run(["xdotool", "mousemove", "--sync", str(x), str(y)],
                   env={**os.environ, "DISPLAY": wine.display}, check=True, timeout=30)
    time.sleep(0.5)


def centre(rect):
    return (rect[0] + rect[2]) // 2, (rect[1] + rect[3]) // 2


def pixels(png, rect):
    """(r, g, b) tuples of a screen rectangle of a screenshot."""
    left, top, right, bottom = rect
    raw = subprocess.run(
        ["convert", str(png), "-crop", f"{right - left}x{bottom - top}+{left}+{top}", "+repage",
         "-depth", "8", "rgb:-"], stdout=subprocess.PIPE, check=True).stdout
    return [tuple(raw[i:i + 3]) for i in range(0, len(raw), 3)]


def settled(take, condition, timeout=winerig.DEADLINE):
    """Calls take() until condition holds on its result (the screen is
    repainted after the message that changed it) or the time is up; the
    last result."""
    deadline = time.monotonic() + timeout
    while True:
        result = take()
        if condition(result) or time.monotonic() > deadline:
            return result
        time.sleep(0.2)


def strongly_red(pixel):
    r, g, b = pixel
    return r > 180 and g < 80 and b < 80


@pytest.fixture(scope="module")
def app(wine):
    # No window manager runs on the test display: Wine draws the frames and
    # caption buttons itself only when windows are not left to one.
    wine.run("reg", ["add", r"HKCU\Software\Wine\X11 Driver", "/v", "Decorated", "/t", "REG_SZ",
                     "/d", "N", "/f"])
    program = ProgramUnderTest(wine)
    yield program
    program.stop()


def test_images_decode_into_native_bitmaps_and_icons(wine):
    result = wine.run(winerig.program("toolkit_win_test"),
                      ["images", winerig.windows_path(FIXTURES)], timeout=120)
    checks = [json.loads(line) for line in result.lines if line.startswith("{")]
    failed = [c for c in checks if not c["ok"]]
    assert checks and not failed, failed
    assert result.returncode == 0
    names = {c["check"] for c in checks}
    assert "JPEG refused before the decoder is registered" in names
    assert "every prefix refused: colour.jpg" in names
    assert "cut after the first image accepted: flag.ico" in names


def test_window_is_hidden_until_shown_and_centred(wine, app, screenshot):
    hidden = window_state(wine)
    assert hidden["window"]["visible"] is False
    assert not wine.find_windows(TITLE)
    screenshot("hidden")

    app.command("show")
    shown = window_state(wine)
    window = shown["window"]
    assert window["visible"] is True
    assert window["caption"] and window["system_menu"]
    assert window["client"] == [400, 300]
    left, top, right, bottom = window["rect"]
    width, height = right - left, bottom - top
    assert width > 400 and height > 300  # the frame and title bar are outside
    assert left == 1024 // 2 - min(width, 1024) // 2
    assert top == 768 // 2 - min(height, 768) // 2
    # Every control at its place, visible, with its id as its number.
    assert control(shown, 1)["client_rect"] == [10, 8, 220, 18]
    assert control(shown, 1)["text"] == "Version install\u00e9 : 1.00"
    assert control(shown, PROGRESS)["progress"] == {"pos": 40, "min": 0, "max": 100}
    assert [i["text"] for i in control(shown, LIST)["items"]] == ["Fran\u00e7ais", "English",
                                                                  "Deutsch"]
    assert control(shown, LIST)["items"][2]["columns"][0] == "Deutsch"
    status = [c for c in shown["controls"] if c["class"] == "msctls_statusbar32"]
    assert status and status[0]["fields"] == ["Connexion"] and status[0]["field_ends"] == [350]
    assert all(c["visible"] for c in shown["controls"])
    screenshot("shown")


def test_ten_point_font_asks_for_thirteen_pixels_at_96_dpi(app):
    assert app.ready["dpi"] == 96
    assert app.ready["font_height"] == -13  # negative: a character height
    assert app.ready["font_weight"] == 700


def test_window_with_flags_1_alone_gets_a_title_bar(wine, app, screenshot):
    app.command("open2")
    second = window_state(wine, "Second window")["window"]
    assert second["visible"] is True
    assert second["caption"] is True
    assert second["system_menu"] is False
    assert second["client"] == [200, 100]
    left, top, right, bottom = second["rect"]
    assert left == 512 - (right - left) // 2 and top == 384 - (bottom - top) // 2
    # Its own background, white; the first window keeps the button face.
    shot = screenshot()
    inner = second["client_origin"]
    assert set(pixels(shot, [inner[0] + 20, inner[1] + 20, inner[0] + 60, inner[1] + 60])) == {
        (255, 255, 255)}
    first = window_state(wine)["window"]["client_origin"]
    assert (255, 255, 255) not in pixels(shot, [first[0] + 1, first[1] + 270, first[0] + 5,
                                                first[1] + 272])
    app.command("close2")
    assert probe(wine, "--title", "Second window").get("error")


def test_probe_of_a_window_that_has_gone_says_so(wine, app):
    # A program may end between being found and being read (the unattended
    # update client does): the probe reports that, never uninitialised sizes.
    app.command("open2")
    handle = window_state(wine, "Second window")["window"]["handle"]
    again = probe(wine, "--handle", str(handle))
    assert again["window"]["title"] == "Second window" and again["window"]["client"] == [200, 100]
    app.command("close2")
    gone = probe(wine, "--handle", str(handle))
    assert gone.get("gone") is True and "window" not in gone, gone


def test_close_box_gives_16_and_the_window_stays(wine, app, screenshot):
    app.command("show")
    window = window_state(wine)["window"]
    app.drain()
    left, top, right, _ = window["rect"]
    button_w, button_h = app.ready["caption_button"]
    frame_x, frame_y = app.ready["frame"]
    wine.click(right - frame_x - button_w // 2 - 2, top + frame_y + button_h // 2)
    events = app.events(until=lambda e: e["event"] == 16)
    assert {"event": 16, "window": 1, "control": -1} in events, events
    after = window_state(wine)["window"]
    assert after["visible"] is True and after["rect"] == window["rect"]
    screenshot()


def test_mouse_selection_in_the_icon_list_raises_control_events(wine, app, screenshot):
    app.drain()
    assert app.command(f"get {LIST}")["text"] == ""  # nothing selected yet
    item = control(window_state(wine), LIST)["items"][1]
    wine.click(*centre(item["rect"]))
    events = app.events(until=lambda e: e.get("control") == LIST)
    list_events = [e for e in events if e == {"event": 13100, "window": 1, "control": LIST}]
    assert list_events, events
    state = window_state(wine)
    assert [i["selected"] for i in control(state, LIST)["items"]] == [False, True, False]
    assert app.command(f"get {LIST}")["text"] == "English"
    screenshot()


@pytest.mark.parametrize("number, raises", [(IMAGE, True), (BUTTON, True), (LINK, True),
                                            (PLAIN_TEXT, False), (PROGRESS, False)])
def test_clicks_raise_control_events_where_the_control_has_them(wine, app, number, raises):
    app.drain()
    where = control(window_state(wine), number)["rect"]
    # The link's text sits at its top-left corner.
    x, y = (where[0] + 10, where[1] + 6) if number == LINK else centre(where)
    wine.click(x, y)
    expected = {"event": 13100, "window": 1, "control": number}
    events = app.events(until=(lambda e: e == expected) if raises else None)
    assert (expected in events) == raises, events
    assert all(e["control"] == number for e in events if e["event"] == 13100), events


@pytest.mark.parametrize("number, codes", [
    (BUTTON, [0, 5]),  # BN_CLICKED, then BN_DOUBLECLICKED: the button is owner-drawn
    (IMAGE, [0, 1]),   # STN_CLICKED, STN_DBLCLK
    (LINK, [0, 0]),    # the link reports each release of the button
])
def test_each_click_of_a_double_click_raises_a_control_event(wine, app, number, codes):
    where = control(window_state(wine), number)["rect"]
    x, y = (where[0] + 10, where[1] + 6) if number == LINK else centre(where)
    # Two clicks at one spot within the double-click time are a double-click.
    # On a loaded machine the platform may see them further apart, as two
    # single clicks: try again until it made a double-click of them.
    for _ in range(4):
        app.drain()  # also lets the double-click time of any click before run out
        wine._x(["xdotool", "mousemove", "--sync", str(x), str(y),
                 "click", "--repeat", "2", "--delay", "80", "1"])
        # Each click reaches the window as one notification of the control.
        lines = []
        deadline = time.monotonic() + winerig.DEADLINE
        while sum(line.get("command") == number for line in lines) < 2:
            try:
                lines.append(app.lines.get(timeout=max(0.0, deadline - time.monotonic())))
            except queue.Empty:
                break
        lines += app.quiet()
        events = [line for line in lines if "event" in line]
        assert events == [{"event": 13100, "window": 1, "control": number}] * 2, lines
        seen = [line["code"] for line in lines if line.get("command") == number]
        if seen == codes:
            break
    assert seen == codes, lines


def test_link_turns_to_its_hover_colour_under_the_pointer(wine, app, screenshot):
    link = control(window_state(wine), LINK)["rect"]
    blue = lambda p: p[2] > 180 and p[0] < 80 and p[1] < 80  # noqa: E731
    black = lambda p: max(p) < 60  # noqa: E731
    move_pointer(wine, link[0] + 10, link[1] + 6)
    hovered = settled(lambda: pixels(screenshot("hover"), link),
                      lambda seen: any(map(blue, seen)))
    move_pointer(wine, 5, 5)
    outside = settled(lambda: pixels(screenshot("outside"), link),
                      lambda seen: any(map(black, seen)))
    assert sum(map(blue, hovered)) > 10 and not any(map(black, hovered))
    assert sum(map(black, outside)) > 10 and not any(map(blue, outside))


def test_disabled_image_button_is_drawn_greyed(wine, app, screenshot):
    # Keep the focus off the button so only its state changes its face.
    item = control(window_state(wine), LIST)["items"][0]
    wine.click(*centre(item["rect"]))
    app.drain()
    where = control(window_state(wine), BUTTON)["rect"]
    enabled = pixels(screenshot("enabled"), where)
    app.command(f"disable {BUTTON}")
    assert control(window_state(wine), BUTTON)["enabled"] is False
    disabled = settled(lambda: pixels(screenshot("disabled"), where),
                       lambda seen: not any(map(strongly_red, seen)))
    app.command(f"enable {BUTTON}")
    restored = settled(lambda: pixels(screenshot("restored"), where),
                       lambda seen: seen == enabled)

    assert sum(map(strongly_red, enabled)) > 100  # the red half of the flag
    assert sum(map(strongly_red, disabled)) == 0  # greyed: no colour left
    assert disabled != enabled
    # Embossed: the picture still shows, in greys darker than the face.
    greys = [p for p in disabled if max(p) - min(p) < 16]
    assert len(greys) == len(disabled)
    assert len(set(disabled)) >= 3
    assert restored == enabled


def test_tab_moves_the_focus_in_creation_order(wine, app, screenshot):
    item = control(window_state(wine), LIST)["items"][0]
    wine.click(*centre(item["rect"]))
    app.drain()
    assert window_state(wine)["focus"] == LIST

    def focus_after(key):
        before = window_state(wine)["focus"]
        wine.key(key)
        return settled(lambda: window_state(wine)["focus"], lambda now: now != before)

    # Creation order of the focusable controls: 8, 6, 5; texts, frame,
    # progress bar, image and link take no focus.
    assert [focus_after("Tab") for _ in range(3)] == [BUTTON, FIRST_BUTTON, LIST]
    assert [focus_after("shift+Tab") for _ in range(3)] == [FIRST_BUTTON, BUTTON, LIST]
    # A disabled control is passed over.
    app.command(f"disable {BUTTON}")
    assert [focus_after("Tab") for _ in range(2)] == [FIRST_BUTTON, LIST]
    app.command(f"enable {BUTTON}")
    assert app.events(settle=0.5) == []  # the shortcuts raise no events
    screenshot()


def test_worker_thread_operations_reach_the_controls(wine, app):
    app.command(f"text {PLAIN_TEXT} from a worker thread")
    app.command("progress 70")
    app.command("status Recherche de mise \xe0 jour")
    app.command("title Toolkit test, renamed")
    state = window_state(wine)
    assert control(state, PLAIN_TEXT)["text"] == "from a worker thread"
    assert control(state, PROGRESS)["progress"]["pos"] == 70
    status = [c for c in state["controls"] if c["class"] == "msctls_statusbar32"][0]
    assert status["fields"] == ["Recherche de mise \u00e0 jour"]
    assert state["window"]["title"] == "Toolkit test, renamed"
    assert app.command(f"get {PLAIN_TEXT}")["text"] == "from a worker thread"
    # Positions beyond the range are clamped.
    app.command("progress 150")
    assert control(window_state(wine), PROGRESS)["progress"]["pos"] == 100
    app.command("progress -20")
    assert control(window_state(wine), PROGRESS)["progress"]["pos"] == 0


def test_probe_reads_a_message_box_of_the_process(wine, app, screenshot):
    app.process.stdin.write(b"box\n")
    app.process.stdin.flush()
    listed = probe(wine, "--boxes", "--exe", "toolkit_win_test.exe", "--wait", "10000")
    assert len(listed["boxes"]) == 1, listed
    box = listed["boxes"][0]
    assert box["title"] == ""
    assert box["text"] == "Fichier introuvable : langue.ini"
    assert box["icon"] == "stop"
    assert box["buttons"] == ["OK"]
    assert box["owner"] == window_state(wine)["window"]["handle"]
    assert window_state(wine)["message_box"]["text"] == box["text"]
    screenshot()
    wine.key("Return")
    line = app.next_line()
    assert line == {"done": "box", "answer": 1}, line
    assert probe(wine, "--boxes", "--exe", "toolkit_win_test.exe") == {"boxes": []}


def test_window_hook_decides_how_static_controls_are_coloured(wine, app, screenshot):
    app.command(f"text {PLAIN_TEXT} coloured by the hook")
    where = control(window_state(wine), PLAIN_TEXT)["rect"]
    is_yellow = lambda p: p[0] > 200 and p[1] > 200 and p[2] < 60  # noqa: E731
    seen = settled(lambda: pixels(screenshot(), where),
                   lambda seen: sum(map(strongly_red, seen)) > 10)
    assert sum(map(is_yellow, seen)) > len(seen) // 2  # the hook's brush
    assert sum(map(strongly_red, seen)) > 10  # the hook's text colour


def test_icon_list_in_large_icon_view_shows_the_stored_icons(wine, app, screenshot):
    # The chooser's way: report view first, then large icons (mode 0). The
    # icons were copied before the program freed its image.
    app.command("view 0")
    state = control(window_state(wine), LIST)
    assert state["view"] == 0  # LVS_ICON
    first, second, third = state["items"]
    assert first["rect"][1] == second["rect"][1]  # side by side, not in rows

    def red_counts():
        shot = screenshot()
        return [sum(map(strongly_red, pixels(shot, item["rect"]))) for item in state["items"]]

    counts = settled(red_counts, lambda c: c[0] > 150 and c[1] > 150)
    assert counts[0] > 150 and counts[1] > 150  # a 32 x 32 flag, half red
    assert counts[2] == 0  # added without an image
    app.command("view 3")
    assert control(window_state(wine), LIST)["view"] == 1  # LVS_REPORT


# Messages of the platform's input queue, and notifications, as numbered there.
WM_CLOSE, WM_NOTIFY, WM_COMMAND, WM_NCLBUTTONDOWN, WM_SYSCOMMAND = 16, 78, 273, 161, 274
WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK = 513, 514, 515
NM_CLICK, NM_DBLCLK, LVN_ITEMCHANGED, LVN_ITEMACTIVATE = -2, -3, -101, -114


class HookHandling:
    """While in use, the program's hook answers close requests and the
    notifications that raise events itself; the program then prints what
    wait_window_event gave back for each message whose handling sent one."""

    def __init__(self, app):
        self.app = app

    def __enter__(self):
        self.app.command("show")
        self.app.drain()
        self.app.command("handle on")
        return self

    def __exit__(self, *exc):
        self.app.command("handle off")
        self.app.drain()

    def returned(self, count):
        """The first `count` returned lines, once they came and nothing
        more came after them, as (returned, [(message, notification), ...])."""
        lines = []
        deadline = time.monotonic() + winerig.DEADLINE
        while sum("returned" in line for line in lines) < count:
            try:
                lines.append(self.app.lines.get(timeout=max(0.0, deadline - time.monotonic())))
            except queue.Empty:
                break
        lines += self.app.quiet()
        assert not [line for line in lines if "event" in line], lines
        return [(line["returned"], [tuple(h) for h in line["handled"]])
                for line in lines if "returned" in line]


def double_click(wine, x, y):
    wine._x(["xdotool", "mousemove", "--sync", str(x), str(y),
             "click", "--repeat", "2", "--delay", "80", "1"])


# What wait_window_event gives back when the program's hook handles what a
# click sends: the input message during whose handling the control notified
# (the headless toolkit's tables follow these).
@pytest.mark.parametrize("number, single, double", [
    # BN_CLICKED as the button comes up; BN_DOUBLECLICKED as it goes down again.
    (BUTTON, [(WM_LBUTTONUP, [(WM_COMMAND, 0)])],
     [(WM_LBUTTONUP, [(WM_COMMAND, 0)]), (WM_LBUTTONDBLCLK, [(WM_COMMAND, 5)])]),
    # STN_CLICKED as the button goes down; STN_DBLCLK as it goes down again.
    (IMAGE, [(WM_LBUTTONDOWN, [(WM_COMMAND, 0)])],
     [(WM_LBUTTONDOWN, [(WM_COMMAND, 0)]), (WM_LBUTTONDBLCLK, [(WM_COMMAND, 1)])]),
    # The link reports each release.
    (LINK, [(WM_LBUTTONUP, [(WM_COMMAND, 0)])],
     [(WM_LBUTTONUP, [(WM_COMMAND, 0)]), (WM_LBUTTONUP, [(WM_COMMAND, 0)])]),
])
def test_a_hook_that_handles_a_click_gets_the_input_message_back(wine, app, number, single,
                                                                 double):
    where = control(window_state(wine), number)["rect"]
    x, y = (where[0] + 10, where[1] + 6) if number == LINK else centre(where)
    with HookHandling(app) as hooked:
        wine.click(x, y)
        assert hooked.returned(1) == single
        # A double-click needs the platform to see the two clicks close
        # together; a loaded machine may part them: try again.
        for _ in range(4):
            app.drain()
            double_click(wine, x, y)
            seen = hooked.returned(2)
            if seen == double:
                break
        assert seen == double


def test_a_hook_that_handles_the_close_request_gets_the_close_box_click_back(wine, app):
    with HookHandling(app) as hooked:
        window = window_state(wine)["window"]
        left, top, right, _ = window["rect"]
        button_w, button_h = app.ready["caption_button"]
        frame_x, frame_y = app.ready["frame"]
        # The platform tracks the close box while the button is down on it.
        wine.click(right - frame_x - button_w // 2 - 2, top + frame_y + button_h // 2)
        assert hooked.returned(1) == [(WM_NCLBUTTONDOWN, [(WM_CLOSE, 0)])]
        # Alt+F4 posts the close command of the system menu.
        wine.key("alt+F4")
        assert hooked.returned(1) == [(WM_SYSCOMMAND, [(WM_CLOSE, 0)])]
    assert window_state(wine)["window"]["visible"] is True


def test_list_clicks_notify_while_these_input_messages_are_handled(wine, app):
    items = control(window_state(wine), LIST)["items"]
    # Nothing selected, nothing focused: a click selects and focuses the item
    # as the button goes down (one change), and clicks as it comes up.
    first_click = [(WM_LBUTTONDOWN, [(WM_NOTIFY, LVN_ITEMCHANGED)]),
                   (WM_LBUTTONUP, [(WM_NOTIFY, NM_CLICK)])]
    # A double-click on another item: its first click moves the selection and
    # the focus (three changes) and clicks; its second reports the
    # double-click and activates the item, with no click after.
    double = [(WM_LBUTTONDOWN, [(WM_NOTIFY, LVN_ITEMCHANGED)] * 3),
              (WM_LBUTTONUP, [(WM_NOTIFY, NM_CLICK)]),
              (WM_LBUTTONDBLCLK, [(WM_NOTIFY, NM_DBLCLK), (WM_NOTIFY, LVN_ITEMACTIVATE)])]
    for _ in range(4):
        app.command("unselect")
        with HookHandling(app) as hooked:
            wine.click(*centre(items[2]["rect"]))
            first = hooked.returned(2)
            double_click(wine, *centre(items[1]["rect"]))
            # Parted by a loaded machine, the second click is a click again.
            seen = hooked.returned(3)
        if seen == double:
            break
    assert first == first_click
    assert seen == double

"""The real language_chooser.exe (64-bit build) under Wine: real clicks and
keys (xdotool), its window read by the UI probe, the programs it starts
played by stand-ins that record where and how often they ran, and a
screenshot of every scenario under ARTIFACTS_DIR."""

import os
import queue
import re
import subprocess
import sys
import threading
import time
from pathlib import Path

import pytest

import winerig

sys.path.insert(0, str(winerig.SOURCE_DIR / "tools"))
import demo_chooser  # noqa: E402

CHOOSE = "Choisissez votre langue\n\nChoose your language"
NO_FOLDER = "Pas de dossier langues!"
CANNOT_RECORD = "Erreur cr\xe9ation fichier langue.ini"
OLD_INI = b"Nederlands-uitgebreid.txt\r\nmore\r\n"

# Styles of the language list as the platform numbers them.
LVS_SINGLESEL, LVS_SHOWSELALWAYS = 0x0004, 0x0008
WS_EX_CLIENTEDGE = 0x0200
LVS_EX_GRIDLINES, LVS_EX_CHECKBOXES, LVS_EX_HEADERDRAGDROP, LVS_EX_FULLROWSELECT = \
    0x01, 0x04, 0x10, 0x20


@pytest.fixture(scope="module")
def flags(tmp_path_factory):
    """Flag icons drawn once for the module: name -> icon file bytes."""
    folder = tmp_path_factory.mktemp("flags")
    made = {}
    for name in ("English", "Deutsch", "Fran\xe7ais"):
        demo_chooser.make_flag(folder / "f.ico", demo_chooser.LANGUAGES[name]["flag"])
        made[name] = (folder / "f.ico").read_bytes()
    return made


class Chooser:
    """One run of language_chooser.exe in a product folder."""

    running: list["Chooser"] = []

    def __init__(self, wine, folder: Path):
        self.wine = wine
        self.folder = folder
        self.process = wine.start_program(winerig.program("language_chooser"), cwd=folder,
                                          capture=False)
        Chooser.running.append(self)

    # ---- reading the screen ---------------------------------------------

    def probe(self, *args: str) -> dict:
        return self.wine.ui_probe(*args)

    def state(self) -> dict:
        return self.probe("--exe", "language_chooser.exe", "--visible", "--wait", "5000")

    @staticmethod
    def control(state: dict, number: int) -> dict:
        for control in state.get("controls", []):
            if control["id"] == number:
                return control
        raise AssertionError(f"no control {number} in {state}")

    def labels(self, state: dict) -> list[str]:
        return [item["text"] for item in self.control(state, 0)["items"]]

    def wait_ready(self, timeout: float = winerig.DEADLINE) -> dict:
        """The window with its list in large-icon display: start-up is over."""
        def whole(state):
            controls = state.get("controls", [])
            # The probe lists the children first and asks them afterwards, and
            # a window busy starting up answers late: a list already in
            # large-icon display can come with a child list taken before the
            # button and the link existed. All three mean the snapshot is whole.
            return any(c["id"] == 0 and c.get("view") == 0 for c in controls) and \
                {1, 2} <= {c["id"] for c in controls}
        return winerig.wait_until(self.state, whole, "the chooser's window with its list",
                                  timeout, alive=self.process)

    def boxes(self) -> list[dict]:
        found = self.probe("--boxes", "--exe", "language_chooser.exe")
        return [b for b in found.get("boxes", []) if b.get("visible")]

    def wait_box(self, timeout: float = winerig.DEADLINE) -> dict:
        return winerig.wait_until(self.boxes, bool, "a message box", timeout,
                                  alive=self.process)[0]

    def dismiss_box(self) -> None:
        """Presses Return on the open box (its OK button has the focus) and
        waits until it is gone."""
        self.wine.key("Return")
        winerig.wait_until(self.boxes, lambda boxes: not boxes, "the message box closed")

    # ---- acting ---------------------------------------------------------

    def click_rect(self, rect) -> None:
        left, top, right, bottom = rect
        self.wine.click((left + right) // 2, (top + bottom) // 2)

    def click_control(self, number: int) -> None:
        self.click_rect(self.control(self.state(), number)["rect"])

    def pick(self, label: str) -> None:
        items = self.control(self.state(), 0)["items"]
        item = next(i for i in items if i["text"] == label)
        self.click_rect(item["rect"])
        winerig.wait_until(lambda: self.control(self.state(), 0)["items"],
                           lambda items: any(i["selected"] and i["text"] == label for i in items),
                           f"{label} selected", alive=self.process)

    def x_window(self, timeout: float = winerig.DEADLINE) -> str:
        """The X window of this chooser (Wine gives its windows the pid)."""
        return winerig.wait_until(
            lambda: self.wine._x(["xdotool", "search", "--onlyvisible", "--pid",
                                  str(self.process.pid)], check=False).split(),
            bool, "the chooser's X window", timeout, alive=self.process)[0]

    def close_with_alt_f4(self) -> None:
        window = self.x_window()
        self.wine.activate(window)
        self.wine.key("alt+F4")

    def wait_end(self, timeout: float = winerig.DEADLINE) -> int:
        return self.wine.wait_program(self.process, timeout=timeout)


@pytest.fixture(autouse=True)
def stop_leftover_choosers(wine):
    """A scenario that failed half-way leaves its chooser running; it must
    not show its window or boxes to the next one."""
    yield
    for chooser in Chooser.running:
        if chooser.process.poll() is None:
            wine.stop_program(chooser.process)
    Chooser.running.clear()


def product(folder: Path, flags: dict, languages=("English", "Deutsch"), with_flag=None) -> Path:
    """A product folder: stand-ins for the product and the translators'
    tool, old installed files, and languages with help files."""
    winerig.copy_standin(folder, ["tessarin.exe", "traducteur.exe"])
    (folder / "aide.chm").write_bytes(b"old help")
    (folder / "bon.htm").write_bytes(b"old page")
    (folder / "langue.ini").write_bytes(OLD_INI)
    langues = folder / "langues"
    langues.mkdir(exist_ok=True)
    for name in languages:
        (langues / f"{name}.txt").write_bytes(f"texts of {name}\r\n".encode("cp1252"))
        if with_flag is None or name in with_flag:
            (langues / f"{name}.ico").write_bytes(flags.get(name, flags["English"]))
        (folder / f"{name}.chm").write_bytes(f"{name} help".encode("cp1252"))
        (folder / f"{name}.htm").write_bytes(f"{name} page".encode("cp1252"))
    return folder


def scan_order(wine, langues: Path) -> list[str]:
    """The language files in the order of the platform's own search."""
    text = wine.output(winerig.program("chooser_scan_order"),
                       [winerig.windows_path(langues), "*.txt"], encoding="cp1252")
    return [n for n in text.splitlines() if n and not n.endswith("\\")]


def starts(folder: Path, program: str) -> list[dict]:
    return [r for r in winerig.read_json_lines(folder / "standin.log")
            if r.get("program", "").lower() == program]


def wait_starts(folder: Path, count: int, timeout: float = winerig.DEADLINE) -> list[dict]:
    return winerig.wait_until(lambda: winerig.read_json_lines(folder / "standin.log"),
                              lambda found: len(found) >= count,
                              f"{count} recorded start(s)", timeout)

def expect_nothing_recorded(folder: Path) -> None:
    time.sleep(1)  # what might have been started has had time to record
    assert (folder / "langue.ini").read_bytes() == OLD_INI
    assert (folder / "aide.chm").read_bytes() == b"old help"
    assert (folder / "bon.htm").read_bytes() == b"old page"
    assert starts(folder, "tessarin.exe") == []


def green_pixels(shot: Path, rect) -> int:
    """Green pixels of the screenshot inside the screen rectangle."""
    return count_pixels(shot, rect, lambda r, g, b: g > 120 and r < 90 and b < 110)


def red_pixels(shot: Path, rect) -> int:
    """Pixels of the English flag's red inside the screen rectangle."""
    return count_pixels(shot, rect, lambda r, g, b: r > 150 and g < 80 and b < 90)


def count_pixels(shot: Path, rect, wanted) -> int:
    """Pixels of the screenshot inside the screen rectangle whose colour
    (r, g, b, 8 bits each) is wanted."""
    left, top, right, bottom = rect
    out = subprocess.run(["convert", str(shot), "-crop",
                          f"{right - left}x{bottom - top}+{left}+{top}", "txt:-"],
                         stdout=subprocess.PIPE, check=True).stdout.decode()
    count = 0
    for m in re.finditer(r"\((\d+),(\d+),(\d+)", out):
        r, g, b = (int(v) for v in m.groups())
        if r > 255 or g > 255:  # 16-bit channels
            r, g, b = r >> 8, g >> 8, b >> 8
        if wanted(r, g, b):
            count += 1
    return count


# ---- scenarios -------------------------------------------------------------------


def test_window_layout_and_confirming_english(wine, workdir, flags, screenshot):
    folder = product(workdir, flags, languages=("English", "Deutsch", "Fran\xe7ais"))
    expected = [n[:-4] for n in scan_order(wine, folder / "langues")]
    assert len(expected) == 3
    chooser = Chooser(wine, folder)
    state = chooser.wait_ready()
    window = state["window"]
    assert window["client"] == [369, 192]
    assert window["caption"] and not window["system_menu"]
    assert window["topmost"]
    left, top, right, bottom = window["rect"]
    assert abs((left + right) / 2 - 512) <= 1 and abs((top + bottom) / 2 - 384) <= 1
    listing = chooser.control(state, 0)
    assert listing["class"] == "SysListView32"
    assert listing["client_rect"] == [0, 0, 370, 155]
    assert listing["view"] == 0
    # One selection at a time, kept visible without the focus, a sunken
    # edge, whole rows selected, one column 100 wide with an empty heading.
    assert listing["style"] & (LVS_SINGLESEL | LVS_SHOWSELALWAYS) == \
        LVS_SINGLESEL | LVS_SHOWSELALWAYS, listing["style"]
    assert listing["exstyle"] & WS_EX_CLIENTEDGE, listing["exstyle"]
    assert listing["list_exstyle"] & (LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_CHECKBOXES
                                      | LVS_EX_HEADERDRAGDROP) == LVS_EX_FULLROWSELECT, \
        listing["list_exstyle"]
    assert listing["headings"] == [{"text": "", "width": 100}]
    button = chooser.control(state, 1)
    assert button["class"] == "Button" and button["text"] == ""
    assert button["client_rect"] == [295, 160, 65, 30]
    link = chooser.control(state, 2)
    assert link["text"] == "Si vous \xeates traducteur"
    assert link["client_rect"] == [15, 165, 125, 20]
    # The list's own column header is its child, not one of ours.
    assert [c["id"] for c in state["controls"] if c["class"] != "SysHeader32"] == [0, 1, 2]
    assert chooser.labels(state) == expected
    assert not any(i["selected"] for i in listing["items"])
    shot = screenshot("listed")
    assert green_pixels(shot, button["rect"]) >= 40, "the go icon is not on the button"

    chooser.pick("English")
    screenshot("picked")
    chooser.click_control(1)
    assert chooser.wait_end() == 0
    assert (folder / "langue.ini").read_bytes() == b"English.txt\r\n"
    assert (folder / "aide.chm").read_bytes() == b"English help"
    assert (folder / "bon.htm").read_bytes() == b"English page"
    records = wait_starts(folder, 1)
    time.sleep(1)
    product_starts = starts(folder, "tessarin.exe")
    assert len(product_starts) == 1, records
    assert product_starts[0]["folder"].rstrip("\\").lower() == \
        winerig.windows_path(folder).lower()
    assert starts(folder, "traducteur.exe") == []


def test_only_languages_with_a_loadable_flag_are_listed(wine, workdir, flags, screenshot):
    folder = product(workdir, flags, languages=("English", "Sans-drapeau", "Casse", "Zulu"),
                     with_flag=("English", "Zulu"))
    langues = folder / "langues"
    (langues / "Casse.ico").write_bytes(b"not an icon at all")
    (langues / "x.txt").mkdir()
    (langues / "x.ico").write_bytes(flags["English"])
    (langues / ".txt").write_bytes(b"nameless")
    (langues / ".ico").write_bytes(flags["Deutsch"])
    expected = [n[:-4] for n in scan_order(wine, langues)
                if n not in ("Sans-drapeau.txt", "Casse.txt")]
    assert sorted(expected) == ["", "English", "Zulu"]

    chooser = Chooser(wine, folder)
    state = chooser.wait_ready()
    assert chooser.labels(state) == expected
    shot = screenshot()
    assert green_pixels(shot, chooser.control(state, 1)["rect"]) >= 40, "go icon lost"
    assert chooser.boxes() == []
    chooser.close_with_alt_f4()
    assert chooser.wait_end() == 0
    expect_nothing_recorded(folder)


def test_many_languages_in_scan_order_show_their_flags_down_to_the_last(wine, workdir, flags,
                                                                         screenshot):
    # Each flag is drawn when its entry first comes into view: the first
    # row at once, the last one once the list has scrolled to it.
    names = [f"Langue {i:03d}" for i in range(300)]
    folder = product(workdir, flags, languages=names)
    expected = [n[:-4] for n in scan_order(wine, folder / "langues")]
    assert sorted(expected) == names

    chooser = Chooser(wine, folder)
    state = chooser.wait_ready()
    assert chooser.labels(state) == expected
    first = chooser.control(state, 0)["items"][0]
    winerig.wait_until(lambda: red_pixels(screenshot("first-row"), first["rect"]),
                       lambda count: count >= 100, "the first flag drawn", alive=chooser.process)

    chooser.pick(expected[0])
    wine.key("End")
    items = winerig.wait_until(lambda: chooser.control(chooser.state(), 0)["items"],
                               lambda items: items[-1]["selected"], "the last entry selected",
                               alive=chooser.process)
    # The last but one: the selected entry's flag is drawn tinted.
    before_last = items[-2]
    list_rect = chooser.control(chooser.state(), 0)["rect"]
    assert list_rect[1] <= before_last["rect"][1] < list_rect[3], (list_rect, before_last)
    winerig.wait_until(lambda: red_pixels(screenshot("last-row"), before_last["rect"]),
                       lambda count: count >= 100, "the last but one flag drawn",
                       alive=chooser.process)
    chooser.click_control(1)
    assert chooser.wait_end() == 0
    assert (folder / "langue.ini").read_bytes() == (expected[-1] + ".txt\r\n").encode("cp1252")


@pytest.mark.parametrize("layout", ["no langues folder", "empty langues folder"])
def test_no_language_files_give_the_message_and_an_empty_list(wine, workdir, flags, screenshot,
                                                              layout):
    folder = product(workdir, flags, languages=())
    if layout == "no langues folder":
        (folder / "langues").rmdir()
    chooser = Chooser(wine, folder)
    box = chooser.wait_box()
    assert (box["text"], box["title"], box["icon"], box["buttons"]) == \
        (NO_FOLDER, "", "none", ["OK"])
    screenshot("no-folder")
    chooser.dismiss_box()
    state = chooser.wait_ready()
    assert chooser.labels(state) == []
    chooser.click_control(1)
    box = chooser.wait_box()
    assert (box["text"], box["icon"]) == (CHOOSE, "stop")
    screenshot("choose")
    chooser.dismiss_box()
    chooser.close_with_alt_f4()
    assert chooser.wait_end() == 0
    expect_nothing_recorded(folder)


def test_confirm_without_selection_asks_then_accepts_a_choice(wine, workdir, flags, screenshot):
    folder = product(workdir, flags)
    chooser = Chooser(wine, folder)
    state = chooser.wait_ready()
    # Clicks on the list's empty part and on the window's face do nothing.
    left, top, right, bottom = chooser.control(state, 0)["rect"]
    wine.click(right - 20, bottom - 20)
    link_right = chooser.control(state, 2)["rect"][2]
    button_left = chooser.control(state, 1)["rect"][0]
    wine.click((link_right + button_left) // 2, bottom + 20)
    time.sleep(1)
    assert chooser.boxes() == []
    assert not any(i["selected"] for i in chooser.control(chooser.state(), 0)["items"])
    chooser.click_control(1)
    box = chooser.wait_box()
    assert (box["text"], box["title"], box["icon"], box["buttons"]) == \
        (CHOOSE, "", "stop", ["OK"])
    screenshot("asked")
    time.sleep(0.5)
    assert (folder / "langue.ini").read_bytes() == OLD_INI
    assert winerig.read_json_lines(folder / "standin.log") == []
    chooser.dismiss_box()
    chooser.pick("Deutsch")
    chooser.click_control(1)
    assert chooser.wait_end() == 0
    assert (folder / "langue.ini").read_bytes() == b"Deutsch.txt\r\n"
    assert len(wait_starts(folder, 1)) == 1
    assert len(starts(folder, "tessarin.exe")) == 1


def test_each_click_on_the_link_starts_the_translators_tool(wine, workdir, flags, screenshot):
    folder = product(workdir, flags)
    chooser = Chooser(wine, folder)
    chooser.wait_ready()
    for _ in range(3):
        chooser.click_control(2)
        time.sleep(0.3)
    records = wait_starts(folder, 3)
    time.sleep(1)
    tool = starts(folder, "traducteur.exe")
    assert len(tool) == 3, records
    for record in tool:
        assert record["folder"].rstrip("\\").lower() == winerig.windows_path(folder).lower()
    screenshot()
    assert chooser.process.poll() is None, "the chooser ended"
    assert "window" in chooser.state()
    chooser.close_with_alt_f4()
    assert chooser.wait_end() == 0
    expect_nothing_recorded(folder)


def test_choice_that_cannot_be_recorded_is_reported_and_the_product_starts(
        wine, workdir, flags, screenshot):
    folder = product(workdir, flags)
    (folder / "langue.ini").unlink()
    (folder / "langue.ini").mkdir()  # as root, read-only files are still writable
    chooser = Chooser(wine, folder)
    chooser.wait_ready()
    chooser.pick("English")
    chooser.click_control(1)
    box = chooser.wait_box()
    assert (box["text"], box["title"], box["icon"]) == (CANNOT_RECORD, "", "none")
    screenshot()
    chooser.dismiss_box()
    assert chooser.wait_end() == 0
    assert (folder / "langue.ini").is_dir()
    assert (folder / "aide.chm").read_bytes() == b"old help"
    assert (folder / "bon.htm").read_bytes() == b"old page"
    wait_starts(folder, 1)
    assert len(starts(folder, "tessarin.exe")) == 1


def test_missing_help_file_keeps_the_old_one(wine, workdir, flags, screenshot):
    folder = product(workdir, flags)
    (folder / "English.chm").unlink()
    chooser = Chooser(wine, folder)
    chooser.wait_ready()
    chooser.pick("English")
    screenshot()
    chooser.click_control(1)
    assert chooser.wait_end() == 0
    assert (folder / "langue.ini").read_bytes() == b"English.txt\r\n"
    assert (folder / "aide.chm").read_bytes() == b"old help"
    assert (folder / "bon.htm").read_bytes() == b"English page"
    wait_starts(folder, 1)
    assert len(starts(folder, "tessarin.exe")) == 1


def test_title_scrolls_the_request_then_the_selected_name(wine, workdir, flags, screenshot):
    folder = product(workdir, flags)
    chooser = Chooser(wine, folder)
    chooser.wait_ready()
    window = chooser.x_window()

    # xprop -spy prints the title at each change that the X server reports,
    # so a busy machine delays the titles but, unlike polling, does not skip
    # the ones set while a poll was starting.
    spy_started = time.monotonic()
    spy = subprocess.Popen(["xprop", "-spy", "-id", window, "WM_NAME"],
                           env={**os.environ, "DISPLAY": wine.display},
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    titles = queue.Queue()

    def pump():
        for line in spy.stdout:
            text = line.decode("latin-1").rstrip("\n")
            value = text.partition(" = ")[2]
            if value.startswith('"') and value.endswith('"'):
                titles.put((value[1:-1].replace('\\"', '"').replace("\\\\", "\\"),
                            time.monotonic()))

    threading.Thread(target=pump, daemon=True).start()

    def watch(until, limit, times=None):
        seen, last = [], None
        deadline = time.monotonic() + limit
        while time.monotonic() < deadline:
            try:
                title, arrived = titles.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                break
            if title != last:
                seen.append(title)
                if times is not None:
                    times.append(arrived)
                last = title
                if until(seen):
                    break
        return seen

    def wrapped(seen):
        counts = [len(t) - len(t.lstrip(" ")) for t in seen]
        drops = [i for i in range(1, len(counts)) if counts[i] < counts[i - 1]]
        return bool(drops) and counts[-1] >= 5

    seen_at = []
    before = watch(wrapped, winerig.DEADLINE, seen_at)
    # The title is empty until the animation's first step.
    if before and before[0] == "":
        before, seen_at = before[1:], seen_at[1:]
    screenshot("request")
    counts = [len(t) - len(t.lstrip(" ")) for t in before]
    assert all(t.lstrip(" ") == "Select Language" for t in before), before
    assert all(1 <= c <= 84 for c in counts), counts
    drops = [i for i in range(1, len(counts)) if counts[i] < counts[i - 1]]
    assert len(drops) == 1, counts
    i = drops[0]
    assert counts[i - 1] >= 80 and counts[i] <= 4, counts
    steps = list(zip(counts[:i - 1], counts[1:i])) + list(zip(counts[i:], counts[i + 1:]))
    assert all(0 < b - a <= 4 for a, b in steps), counts  # one space a step, a few missed
    assert max(counts) >= 80
    # One step per 100 ms: never faster than one per 80 ms, with two steps of
    # slack. Every step after the first title seen came after the spy
    # started and before the last title arrived, the longest time they can
    # have taken. No lower bound: a loaded machine delays steps.
    stepped = sum(b - a if b > a else b + 84 - a for a, b in zip(counts, counts[1:]))
    elapsed = seen_at[-1] - spy_started
    assert stepped * 0.080 <= elapsed + 2 * 0.080, (stepped, elapsed)

    chooser.pick("Deutsch")
    after = watch(lambda seen: sum(t.endswith("Deutsch") for t in seen) >= 5, winerig.DEADLINE)
    screenshot("selected")
    named = [t for t in after if t.endswith("Deutsch")]
    assert len(named) >= 5, after
    assert after.index(named[0]) + len(named) == len(after), after  # never back
    assert all(1 <= len(t) - len(t.lstrip(" ")) <= 84 for t in named)
    spy.terminate()
    spy.wait(timeout=30)
    chooser.close_with_alt_f4()
    assert chooser.wait_end() == 0
    expect_nothing_recorded(folder)


def test_alt_f4_ends_without_writing_or_starting(wine, workdir, flags, screenshot):
    folder = product(workdir, flags)
    chooser = Chooser(wine, folder)
    chooser.wait_ready()
    screenshot()
    chooser.close_with_alt_f4()
    assert chooser.wait_end() == 0
    expect_nothing_recorded(folder)
    assert winerig.read_json_lines(folder / "standin.log") == []


@pytest.mark.parametrize("language", ["English", "Fran\xe7ais"])
def test_update_client_speaks_the_chosen_language(wine, workdir, screenshot, language):
    """The chooser records the choice; the update client started afterwards
    in the same folder takes its texts from langues\\update\\ + that name."""
    folder = workdir
    demo_chooser.lay_out_languages(folder, ["Deutsch", "English", "Fran\xe7ais"])
    winerig.copy_standin(folder, ["tessarin.exe", "traducteur.exe"])
    chooser = Chooser(wine, folder)
    chooser.wait_ready()
    chooser.pick(language)
    chooser.click_control(1)
    assert chooser.wait_end() == 0
    assert (folder / "langue.ini").read_bytes() == (language + ".txt\r\n").encode("cp1252")

    client = wine.start_program(winerig.program("update_client"), cwd=folder, capture=False)
    try:
        title = demo_chooser.update_title(language)
        state = winerig.wait_until(
            lambda: wine.ui_probe("--exe", "update_client.exe", "--visible", "--wait", "5000"),
            lambda s: s.get("window", {}).get("title") == title,
            f"the update client's window titled {title!r}", alive=client)
        screenshot()
        assert state.get("window", {}).get("title") == title, state
        # Not the built-in French texts: the welcome line comes from the file too.
        texts = [c.get("text", "") for c in state.get("controls", [])]
        assert demo_chooser.LANGUAGES[language]["update_texts"][2] in texts, texts
    finally:
        wine.stop_program(client)

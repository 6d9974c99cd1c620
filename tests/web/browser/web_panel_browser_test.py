#!/usr/bin/python3
"""The web panel in a real browser: headless Chromium driven through Selenium against
`plowview --headless --simulate --web-panel`, with the simulator's trace as the receiver's side.

One Plowview (A) runs on the simulator with logging on and its relay server up; a second one (B)
is a network client of A's relay with a web panel of its own. One browser session serves every
case. Loopback only; every wait is bounded.

Environment: PLOWVIEW_BIN (the programs), PLOWVIEW_SCREENSHOT_DIR (when set, the page is saved
there at desktop and phone widths as web_panel_desktop.png and web_panel_phone.png).
"""

import glob
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import unittest
import urllib.error
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

BIN = os.path.abspath(os.environ.get("PLOWVIEW_BIN", os.path.join(os.path.dirname(__file__), "../../../build/bin")))
CONTROL_TOKEN = "tractor-cab-7"
CLOCK_ROW = re.compile(r"^\d\d-[A-Z][a-z][a-z]  \d\d:\d\d:\d\d$")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(seconds, condition, what):
    deadline = time.monotonic() + seconds
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out after %g s waiting for %s" % (seconds, what))
        time.sleep(0.05)


class Plowview:
    """One headless plowview in a folder of its own; stderr goes to a file there."""

    def __init__(self, name, ini, args, simulator_args=None):
        self.dir = tempfile.mkdtemp(prefix="plowview-web-%s-" % name)
        os.mkdir(os.path.join(self.dir, "logs"))
        self.ini = os.path.join(self.dir, "Plowview.ini")
        with open(self.ini, "w") as f:
            f.write(ini.replace("@DIR@", self.dir))
        env = dict(os.environ, XDG_RUNTIME_DIR=self.dir)
        if simulator_args is not None:
            env["PLOWVIEW_SIMULATOR_ARGS"] = simulator_args.replace("@DIR@", self.dir)
        self.err_file = open(os.path.join(self.dir, "err.txt"), "w")
        self.process = subprocess.Popen(
            [os.path.join(BIN, "plowview"), "--headless", "--config", self.ini] + args,
            cwd=self.dir,
            env=env,
            stdout=subprocess.DEVNULL,
            stderr=self.err_file,
        )

    def read(self, name):
        try:
            with open(os.path.join(self.dir, name), errors="replace") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def err(self):
        return self.read("err.txt")

    def url(self, kind):
        match = re.search(r"web panel, %s: (\S+)" % kind, self.err())
        return match.group(1) if match else None

    def trace_lines(self, prefix):
        return [l for l in self.read("trace.txt").splitlines() if l.startswith(prefix)]

    def log_text(self):
        text = ""
        for path in glob.glob(os.path.join(self.dir, "logs", "*.log")):
            with open(path, errors="replace") as f:
                text += f.read()
        return text

    def stop(self):
        """SIGTERM and a clean end: the exit status (None when it had to be killed)."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(60)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(10)
        self.err_file.close()
        return self.process.returncode if self.process.returncode >= 0 else None

    def remove(self):
        shutil.rmtree(self.dir, ignore_errors=True)


def key_line(code):
    return "RX 8E 8C 00 %02X 00 00 00 00" % code


class WebPanelInBrowser(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.relay_port = free_port()
        cls.web_a = free_port()
        cls.web_b = free_port()
        cls.a = Plowview(
            "a",
            "[Connect]\nHighSpeedKavo=1\nm_LogData=1\nm_LoggingFolder=@DIR@/logs\nm_LoggingPrefix=A_\n"
            "m_logOptions=529\n[WebPanel]\nControlToken=%s\n" % CONTROL_TOKEN,
            ["--simulate", "--relay-server", str(cls.relay_port), "--web-panel", str(cls.web_a)],
            "--trace @DIR@/trace.txt",
        )
        cls.b = None
        cls.driver = None
        try:
            options = webdriver.ChromeOptions()
            options.binary_location = "/usr/bin/chromium"
            cls.profile = tempfile.mkdtemp(prefix="plowview-web-chromium-")
            for flag in [
                "--headless=new",
                "--no-sandbox",
                "--disable-gpu",
                "--disable-quic",
                "--no-first-run",
                "--disable-background-networking",
                "--disable-component-update",
                "--disable-sync",
                "--disable-dev-shm-usage",
                "--user-data-dir=" + cls.profile,
            ]:
                options.add_argument(flag)
            cls.driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
            cls.driver.set_page_load_timeout(30)
            cls.driver.set_window_size(1000, 720)
            wait_for(30, lambda: cls.a.url("to press keys"), "A's web panel addresses on stderr")
        except Exception:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        if cls.driver:
            cls.driver.quit()
        shutil.rmtree(getattr(cls, "profile", ""), ignore_errors=True)
        codes = {}
        for name in ("b", "a"):  # B first: it would see its server, A's relay, go away
            instance = getattr(cls, name, None)
            if instance:
                codes[name] = instance.stop()
                if codes[name] != 0:
                    print("plowview %s ended with %r; stderr:\n%s" % (name, codes[name], instance.err()))
                instance.remove()
        bad = {k: v for k, v in codes.items() if v != 0}
        if bad:
            raise AssertionError("plowview did not end cleanly: %r" % bad)

    # --- helpers ------------------------------------------------------------------------------

    def open(self, url):
        self.driver.get(url)
        wait_for(20, lambda: self.body("live") == "open", "the live stream of " + url)

    def body(self, key):
        return self.driver.execute_script("return document.body.dataset[arguments[0]];", key)

    def rows(self):
        return self.driver.execute_script(
            "return [document.getElementById('row0').textContent, document.getElementById('row1').textContent];"
        )

    def wait_rows(self, seconds, check, what):
        return wait_for(seconds, lambda: (lambda r: r if check(r) else None)(self.rows()), what)

    def keys_enabled(self):
        return self.driver.execute_script(
            "return Array.from(document.querySelectorAll('.key')).map(b => !b.disabled);"
        )

    def wait_trace(self, line, count_before, seconds=10):
        wait_for(seconds, lambda: len(self.a.trace_lines(line)) > count_before, "'%s' in the trace" % line)

    def back_to_status(self):
        before = len(self.a.trace_lines(key_line(4)))
        self.driver.find_element(By.ID, "key-esc").click()
        self.wait_trace(key_line(4), before)
        self.wait_rows(10, lambda r: r[0] == "Brisk Mote   RTK", "the status screen again")

    # --- cases, in order ------------------------------------------------------------------------

    def test_1_rows_appear_and_follow_the_simulators_clock(self):
        self.open("http://127.0.0.1:%d/" % self.web_a)
        rows = self.wait_rows(60, lambda r: r[0] == "Brisk Mote   RTK" and CLOCK_ROW.match(r[1]), "the status rows")
        self.wait_rows(5, lambda r: CLOCK_ROW.match(r[1]) and r[1] != rows[1], "the clock to move on")
        self.assertEqual(self.body("link"), "3")
        self.assertIn("Brisk Mote 4415A01234", self.driver.find_element(By.ID, "title").text)
        self.assertIn("Link up", self.driver.find_element(By.ID, "link").text)
        # Logging is on: the live log shows the logger's lines.
        wait_for(30, lambda: self.driver.execute_script(
            "return !document.getElementById('log').hidden && "
            "document.getElementById('log-lines').childElementCount > 0;"), "log lines on the page")

    def test_2_view_only_page_cannot_press_a_key(self):
        self.open("http://127.0.0.1:%d/" % self.web_a)
        wait_for(10, lambda: self.body("access") == "view", "the view-only hello")
        self.assertEqual(self.keys_enabled(), [False] * 6)
        self.assertIn("View only", self.driver.find_element(By.ID, "note").text)
        # A script on the page that sends a key anyway is ignored by the server.
        before = len(self.a.trace_lines(key_line(2)))
        self.driver.execute_script(
            "const ws = new WebSocket('ws://' + location.host + '/live');"
            "ws.onopen = () => { ws.send(JSON.stringify({t: 'key', code: 2})); window.forged = true; };")
        wait_for(10, lambda: self.driver.execute_script("return window.forged === true;"), "the forged key sent")
        time.sleep(1.5)
        self.assertEqual(len(self.a.trace_lines(key_line(2))), before)
        self.assertEqual(self.rows()[0], "Brisk Mote   RTK")

    def test_3_click_on_down_reaches_the_receiver_and_turns_the_rows(self):
        self.open("http://127.0.0.1:%d/?token=%s" % (self.web_a, CONTROL_TOKEN))
        wait_for(10, lambda: all(self.keys_enabled()), "the keys enabled for control")
        self.assertEqual(self.body("access"), "control")
        before = len(self.a.trace_lines(key_line(2)))
        self.driver.find_element(By.ID, "key-down").click()
        self.wait_trace(key_line(2), before)
        self.wait_rows(10, lambda r: r[0] == "Lat  52 31.1234N", "the position screen")
        self.back_to_status()

    def test_4_enter_held_four_seconds_is_the_long_press(self):
        self.open("http://127.0.0.1:%d/?token=%s" % (self.web_a, CONTROL_TOKEN))
        wait_for(10, lambda: all(self.keys_enabled()), "the keys enabled for control")
        counts = [len(self.a.trace_lines(key_line(c))) for c in (0, 6, 7)]
        enter = self.driver.find_element(By.ID, "key-enter")
        ActionChains(self.driver).click_and_hold(enter).pause(4.2).release().perform()
        self.wait_trace(key_line(7), counts[2])
        enter = [l for l in self.a.trace_lines("RX 8E 8C 00 ") if l.startswith((key_line(0), key_line(6), key_line(7)))]
        # Pressed, held (the long press, after 3.9 s), released; each with its checksum.
        self.assertEqual(enter[-3:], [key_line(0) + " 00 8C", key_line(6) + " 00 92", key_line(7) + " 00 93"])
        self.assertEqual(len(self.a.trace_lines(key_line(6))), counts[1] + 1)
        self.wait_rows(10, lambda r: r[0].rstrip() == "Service menu", "the service menu")
        self.back_to_status()

    def test_5_keyboard_presses_the_same_keys_as_the_window(self):
        self.open("http://127.0.0.1:%d/?token=%s" % (self.web_a, CONTROL_TOKEN))
        wait_for(10, lambda: all(self.keys_enabled()), "the keys enabled for control")
        before = len(self.a.trace_lines(key_line(3)))
        ActionChains(self.driver).send_keys(Keys.ARROW_RIGHT).perform()
        self.wait_trace(key_line(3), before)
        self.wait_rows(10, lambda r: r[0] == "Lat  52 31.1234N", "the position screen")
        before = len(self.a.trace_lines(key_line(4)))
        ActionChains(self.driver).send_keys(Keys.ESCAPE).perform()
        self.wait_trace(key_line(4), before)
        self.wait_rows(10, lambda r: r[0] == "Brisk Mote   RTK", "the status screen again")

    def test_6_wrong_token_gets_403_and_is_logged(self):
        # Once the logger writes its file, refusals go into it.
        wait_for(60, lambda: "* Web client" in self.a.log_text(), "the web panel's lines in the log")
        for token in ("wrong", CONTROL_TOKEN + "x"):
            with self.assertRaises(urllib.error.HTTPError) as refused:
                urllib.request.urlopen("http://127.0.0.1:%d/?token=%s" % (self.web_a, token), timeout=10)
            self.assertEqual(refused.exception.code, 403)
        wait_for(10, lambda: len(re.findall(r"\* Web client 127\.0\.0\.1:\d+ refused: wrong token",
                                            self.a.log_text())) >= 2, "the refusals in the log")
        # The page itself shows nothing then.
        self.driver.get("http://127.0.0.1:%d/?token=wrong" % self.web_a)
        self.assertEqual(self.driver.find_elements(By.ID, "lcd-canvas"), [])

    def test_7_second_plowview_through_the_relay_shows_the_same_rows(self):
        cls = type(self)
        cls.b = Plowview(
            "b",
            "[Connect]\nSerialPortOrCanBus=2\nm_ServerAddress=127.0.0.1\nm_ServerPort=%d\n" % self.relay_port,
            ["--web-panel", str(self.web_b)],
        )
        wait_for(30, lambda: cls.b.url("to look on"), "B's web panel addresses")
        self.open(cls.b.url("to look on"))
        self.wait_rows(40, lambda r: r[0] == "Brisk Mote   RTK" and CLOCK_ROW.match(r[1]), "A's rows on B's page")
        self.assertIn("Brisk Mote 4415A01234", self.driver.find_element(By.ID, "title").text)
        # The same display as A's page shows: the receiver's clock within a second or two.
        b_rows = self.rows()
        self.open("http://127.0.0.1:%d/" % self.web_a)
        a_rows = self.wait_rows(10, lambda r: CLOCK_ROW.match(r[1]), "A's rows")
        self.assertEqual(a_rows[0], b_rows[0])
        seconds = lambda row: int(row[-2:]) + 60 * int(row[-5:-3])
        self.assertLessEqual((seconds(a_rows[1]) - seconds(b_rows[1])) % 3600, 5)

    def test_8_usable_at_phone_and_desktop_widths(self):
        shots = os.environ.get("PLOWVIEW_SCREENSHOT_DIR")
        try:
            for name, width, height in (("desktop", 1000, 800), ("phone", 360, 740)):
                self.driver.set_window_size(width, height)
                self.open("http://127.0.0.1:%d/?token=%s" % (self.web_a, CONTROL_TOKEN))
                self.wait_rows(20, lambda r: r[0] == "Brisk Mote   RTK", "the status rows")
                wait_for(30, lambda: self.driver.execute_script(
                    "return document.getElementById('log-lines').childElementCount > 3;"), "log lines")
                inner = self.driver.execute_script("return window.innerWidth;")
                # Nothing sticks out sideways; every key is on the screen and big enough for a thumb.
                self.assertLessEqual(self.driver.execute_script(
                    "return document.documentElement.scrollWidth;"), inner)
                for key in self.driver.find_elements(By.CSS_SELECTOR, ".key"):
                    box = key.rect
                    self.assertGreaterEqual(box["x"], 0)
                    self.assertLessEqual(box["x"] + box["width"], inner)
                    self.assertGreaterEqual(min(box["width"], box["height"]), 44, key.get_attribute("id"))
                lcd = self.driver.find_element(By.ID, "lcd").rect
                self.assertGreaterEqual(lcd["width"], min(inner - 40, 300))
                if shots:
                    time.sleep(0.4)  # a blink or a second of the clock: the picture as a person sees it
                    self.driver.save_screenshot(os.path.join(shots, "web_panel_%s.png" % name))
        finally:
            self.driver.set_window_size(1000, 720)

    def test_9_network_address_without_both_tokens_refuses_to_start(self):
        for ini, said in (("[WebPanel]\nBindAddress=0.0.0.0\nControlToken=x\n", "set both ControlToken and ViewToken"),
                          ("[WebPanel]\nPort=%d\n" % self.web_a, "cannot listen on 127.0.0.1 port %d" % self.web_a)):
            refused = Plowview("refused", ini, ["--web-panel"])
            try:
                self.assertEqual(refused.process.wait(30), 1)
                self.assertIn(said, refused.err())
                self.assertIsNone(refused.url("to look on"))
            finally:
                refused.stop()
                refused.remove()


if __name__ == "__main__":
    unittest.main(verbosity=2)

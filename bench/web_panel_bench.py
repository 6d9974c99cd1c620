#!/usr/bin/python3
"""Web panel figures: plowview as the network client of a receiver played by this script, its web
panel opened by headless Chromium (through Selenium) and by plain WebSocket pages (wsproto).

  bench/web_panel_bench.py [--bin DIR] [--changes N] [--clicks N] [--pages N] [--seconds S] [--json]

  1. display change to DOM: the receiver sends a display report with a new row; the page's
     MutationObserver stamps the row's change; median and p99 over --changes (200).
  2. click to key packet: Selenium clicks Down on the control page; the time from the page's click
     event to the key packet arriving at the receiver; median over --clicks (50).
  3. --pages (100) connected pages with the display changing at 10 Hz: plowview's CPU (every
     thread, /proc/PID/task/*/schedstat) over --seconds (20) and its memory (VmRSS) beside the same
     with no page connected.
  4. a stalled page (connected, never reads): the latency of ten reading pages from the display
     report on the wire to the state message, without and with it.

Both clocks are this machine's: the browser's performance.timeOrigin + now() and time.time().
"""

import argparse
import json
import os
import re
import select
import signal
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time

from wsproto import ConnectionType, WSConnection
from wsproto.events import AcceptConnection, CloseConnection, Ping, RejectConnection, Request, TextMessage

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DLE, ETX = 0x10, 0x03


def say(text):
    print(text, file=sys.stderr, flush=True)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(seconds, condition, what):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            raise RuntimeError("timed out waiting for " + what)
        time.sleep(0.02)


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(p / 100 * (len(ordered) - 1))))]


# ---- the receiver: KAVO frames in stream messages ------------------------------------------

def frame(packet_id, payload):
    total = sum(payload) & 0xFFFF
    body = bytes(payload) + bytes([total >> 8, total & 0xFF])
    out = bytearray([DLE, packet_id])
    for b in body:
        out.append(b)
        if b == DLE:
            out.append(DLE)
    out += bytes([DLE, ETX])
    return bytes(out)


def message(frame_bytes):
    return struct.pack(">IIHHI", 0xA3A58329, 0x86753001, 1, len(frame_bytes), 0x5C5A7CD6) + frame_bytes


def display_report(row, text):
    chars = text.encode("ascii")[:16].ljust(16) + b"\0"
    return message(frame(0x8F, [0x8C, 0x01, 0, 0, 0, row] + list(chars) + [0] * 6))


def title_report(text):
    return message(frame(0x8F, [0x8C, 0x04, 0x02] + list(text.encode("ascii")) + [0]))


class Receiver:
    """A receiver on TCP as a relay serves one: answers nothing, sends what it is told, and stamps
    every key packet the program sends."""

    def __init__(self):
        self.server = socket.socket()
        self.server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.server.bind(("127.0.0.1", 0))
        self.server.listen(1)
        self.port = self.server.getsockname()[1]
        self.client = None
        self.keys = []  # (time, code)
        self.lock = threading.Lock()
        self.running = True
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        self.client, _ = self.server.accept()
        self.client.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.send(title_report("Bench Mote 0001"))
        self.send(display_report(0, "Bench display"))
        self.send(display_report(1, "start"))
        pending = b""
        while self.running:
            try:
                data = self.client.recv(65536)
            except OSError:
                return
            if not data:
                return
            now = time.time()
            pending += data
            # Whole stream messages only: a key packet is counted once, when its message is in.
            while len(pending) >= 16:
                length = struct.unpack(">H", pending[10:12])[0]
                if len(pending) < 16 + length:
                    break
                body, pending = pending[16:16 + length], pending[16 + length:]
                match = re.match(rb"\x10\x8e\x8c\x00(.)\x00\x00\x00\x00", body, re.S)
                if match:
                    with self.lock:
                        self.keys.append((now, match.group(1)[0]))

    def send(self, data):
        with self.lock:
            self.client.sendall(data)
        return time.time()


# ---- pages without a browser ----------------------------------------------------------------

class Page:
    """A WebSocket page of the live stream; stamps each state message's second row."""

    def __init__(self, port, read=True):
        self.sock = socket.create_connection(("127.0.0.1", port))
        if not read:
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        self.ws = WSConnection(ConnectionType.CLIENT)
        self.sock.sendall(self.ws.send(Request(host="127.0.0.1:%d" % port, target="/live", extra_headers=[
            (b"origin", b"http://127.0.0.1:%d" % port)])))
        self.open = False
        self.closed = False
        self.text = ""
        self.seen = {}  # row text -> time received

    def fileno(self):
        return self.sock.fileno()

    def pump(self):
        try:
            data = self.sock.recv(262144)
        except OSError:
            data = b""
        now = time.time()
        if not data:
            self.closed = True
            return
        self.ws.receive_data(data)
        for event in self.ws.events():
            if isinstance(event, AcceptConnection):
                self.open = True
            elif isinstance(event, (RejectConnection, CloseConnection)):
                self.closed = True
            elif isinstance(event, Ping):
                self.sock.sendall(self.ws.send(event.response()))
            elif isinstance(event, TextMessage):
                self.text += event.data
                if event.message_finished:
                    message = json.loads(self.text)
                    self.text = ""
                    if message.get("t") == "state":
                        row = bytes.fromhex(message["rows"][1]).decode("latin-1").rstrip()
                        self.seen.setdefault(row, now)


class Pages:
    def __init__(self):
        self.pages = []
        self.running = True
        self.lock = threading.Lock()
        threading.Thread(target=self._loop, daemon=True).start()

    def add(self, page):
        with self.lock:
            self.pages.append(page)

    def close(self, pages):
        """Takes `pages` out of the loop, then closes them: never a socket closed under select."""
        with self.lock:
            self.pages = [p for p in self.pages if p not in pages]
            for page in pages:
                page.closed = True
                page.sock.close()

    def _loop(self):
        while self.running:
            with self.lock:
                live = [p for p in self.pages if not p.closed and getattr(p, "reading", True)]
                ready = select.select(live, [], [], 0.01)[0] if live else []
                for page in ready:
                    page.pump()
            if not live:
                time.sleep(0.01)
            time.sleep(0)  # let add() and close() have the lock between two rounds


# ---- plowview -------------------------------------------------------------------------------

def cpu_seconds(pid):
    total = 0
    for task in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/schedstat" % (pid, task)) as f:
                total += int(f.read().split()[0])
        except (OSError, ValueError, IndexError):
            pass
    return total / 1e9


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        return int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1))


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--bin", default=os.environ.get("PLOWVIEW_BIN", os.path.join(ROOT, "build", "bin")))
    ap.add_argument("--changes", type=int, default=200)
    ap.add_argument("--clicks", type=int, default=50)
    ap.add_argument("--pages", type=int, default=100)
    ap.add_argument("--seconds", type=float, default=20)
    ap.add_argument("--json", action="store_true", help="print the figures as one JSON object")
    args = ap.parse_args()

    receiver = Receiver()
    folder = tempfile.mkdtemp(prefix="plowview-web-bench-")
    web_port = free_port()
    ini = os.path.join(folder, "Plowview.ini")
    with open(ini, "w") as f:
        f.write("[Connect]\nSerialPortOrCanBus=2\nm_ServerAddress=127.0.0.1\nm_ServerPort=%d\n"
                "[WebPanel]\nControlToken=bench\nMaxClients=%d\n" % (receiver.port, args.pages + 20))
    plowview = subprocess.Popen([os.path.join(args.bin, "plowview"), "--headless", "--config", ini,
                                 "--web-panel", str(web_port)], cwd=folder,
                                env=dict(os.environ, XDG_RUNTIME_DIR=folder),
                                stdout=subprocess.DEVNULL, stderr=open(os.path.join(folder, "err.txt"), "w"))
    figures = {"load": os.getloadavg()}
    pages = Pages()
    stop = threading.Event()
    try:
        wait_for(20, lambda: receiver.client is not None, "plowview to connect")
        base = "http://127.0.0.1:%d/" % web_port

        # 1 and 2: in the browser.
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        from selenium.webdriver.common.by import By
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--user-data-dir=" + tempfile.mkdtemp(prefix="plowview-web-bench-chromium-")):
            options.add_argument(flag)
        driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        try:
            driver.get(base + "?token=bench")
            wait_for(20, lambda: driver.execute_script("return document.body.dataset.live") == "open", "the page")
            wait_for(20, lambda: driver.execute_script(
                "return !document.getElementById('key-down').disabled"), "the keys")
            driver.execute_script("""
                window.marks = [];
                new MutationObserver(() => window.marks.push(
                    [document.getElementById('row1').textContent, performance.timeOrigin + performance.now()]))
                  .observe(document.getElementById('row1'), {childList: true, characterData: true, subtree: true});
                window.clicks = [];
                document.getElementById('key-down').addEventListener('click',
                    e => window.clicks.push(performance.timeOrigin + e.timeStamp), true);""")
            sent = {}
            for i in range(args.changes):
                text = "change %06d" % i
                sent[text] = receiver.send(display_report(1, text))
                time.sleep(0.05)
            wait_for(10, lambda: driver.execute_script("return window.marks.length") >= args.changes, "the DOM")
            marks = driver.execute_script("return window.marks")
            dom = [stamp - sent[text.rstrip()] * 1000 for text, stamp in marks if text.rstrip() in sent]
            figures["dom_ms"] = {"n": len(dom), "median": statistics.median(dom), "p99": percentile(dom, 99),
                                 "max": max(dom)}
            say("display change to DOM: %r" % figures["dom_ms"])

            down = driver.find_element(By.ID, "key-down")
            keys_before = len(receiver.keys)
            for _ in range(args.clicks):
                down.click()
                time.sleep(0.2)  # well under the 20 keys a second a page may send
            wait_for(10, lambda: len(receiver.keys) >= keys_before + args.clicks, "the key packets")
            clicks = driver.execute_script("return window.clicks")
            arrived = [t for t, code in receiver.keys[keys_before:] if code == 2]
            latency = [a * 1000 - c for a, c in zip(arrived, clicks)]
            figures["click_ms"] = {"n": len(latency), "median": statistics.median(latency),
                                   "p99": percentile(latency, 99), "max": max(latency)}
            say("click to key packet: %r" % figures["click_ms"])
        finally:
            driver.quit()

        # 3: the display at 10 Hz; plowview with no page, then with --pages.
        counter = [0]
        sent_at = {}

        def ticker():
            while not stop.is_set():
                counter[0] += 1
                text = "tick %08d" % counter[0]
                sent_at[text] = receiver.send(display_report(1, text))
                stop.wait(0.1)

        threading.Thread(target=ticker, daemon=True).start()
        time.sleep(2)
        pid = plowview.pid
        rss_before = rss_kib(pid)
        c0, t0 = cpu_seconds(pid), time.monotonic()
        time.sleep(args.seconds)
        idle = (cpu_seconds(pid) - c0) / (time.monotonic() - t0) * 100
        opened = []
        for _ in range(args.pages):
            page = Page(web_port)
            opened.append(page)
            pages.add(page)
        wait_for(30, lambda: all(p.open for p in opened), "%d pages" % args.pages)
        time.sleep(2)
        c0, t0 = cpu_seconds(pid), time.monotonic()
        time.sleep(args.seconds)
        busy = (cpu_seconds(pid) - c0) / (time.monotonic() - t0) * 100
        rss_after = rss_kib(pid)
        figures["pages"] = {"n": args.pages, "cpu_percent_no_pages": idle, "cpu_percent": busy,
                            "rss_mib_before": rss_before / 1024, "rss_mib_added": (rss_after - rss_before) / 1024}
        say("%d pages at 10 Hz: %r" % (args.pages, figures["pages"]))
        pages.close(opened)

        # 4: ten reading pages, without and then with a stalled one.
        def latencies(readers, since):
            out = []
            for page in readers:
                for text, got in page.seen.items():
                    if text in sent_at and sent_at[text] >= since:
                        out.append((got - sent_at[text]) * 1000)
            return out

        readers = [Page(web_port) for _ in range(10)]
        for page in readers:
            pages.add(page)
        wait_for(20, lambda: all(p.open for p in readers), "ten pages")
        since = time.time() + 1
        time.sleep(args.seconds / 2)
        calm = latencies(readers, since)
        stalled = Page(web_port, read=False)
        stalled.reading = False
        pages.add(stalled)
        since = time.time() + 1
        time.sleep(args.seconds / 2)
        loaded = latencies(readers, since)
        figures["stalled"] = {
            "without": {"n": len(calm), "median": statistics.median(calm), "p99": percentile(calm, 99)},
            "with": {"n": len(loaded), "median": statistics.median(loaded), "p99": percentile(loaded, 99)},
        }
        say("ten pages, without / with a stalled page: %r" % figures["stalled"])
    finally:
        stop.set()
        pages.running = False
        receiver.running = False
        plowview.send_signal(signal.SIGTERM)
        try:
            plowview.wait(30)
        except subprocess.TimeoutExpired:
            plowview.kill()
    if args.json:
        print(json.dumps(figures))
    else:
        d, c, p, s = figures["dom_ms"], figures["click_ms"], figures["pages"], figures["stalled"]
        print("display change to DOM, %d changes: median %.1f ms, p99 %.1f ms" % (d["n"], d["median"], d["p99"]))
        print("click to key packet, %d clicks: median %.1f ms, p99 %.1f ms" % (c["n"], c["median"], c["p99"]))
        print("%d pages at 10 Hz: CPU %.2f %% of a core (%.2f %% with none), memory added %.1f MiB" %
              (p["n"], p["cpu_percent"], p["cpu_percent_no_pages"], p["rss_mib_added"]))
        print("ten pages' latency, median / p99: %.1f / %.1f ms without a stalled page, %.1f / %.1f ms with one" %
              (s["without"]["median"], s["without"]["p99"], s["with"]["median"], s["with"]["p99"]))
        print("load average %.1f %.1f %.1f" % figures["load"])


if __name__ == "__main__":
    main()

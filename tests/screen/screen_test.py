#!/usr/bin/python3
"""The station's screen, as a plain HTTP client and a real browser see it.

A station (morvane-cli watch --http) takes the virtual printers linked into
a folder: one does everything, one refuses every frame (darkness first).
The HTTP checks: 200 with the token, 401 without it, 403 for a foreign
Host, 405 for anything but GET and HEAD, and the headers that keep other
pages out. Then headless Chromium (Debian's, through chromedriver) shows
both tiles, the failing key and no password, in English and in Chinese, by
the browser's language and by the page's switch; a printer plugged while the
page is open appears without a reload. Screenshots go to the artifacts.
"""
import argparse
import http.client
import json
import pathlib
import queue
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.common.exceptions import TimeoutException
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

# The profile's pairing password: letters no path, port, address or token holds.
PASSWORD = "Qvwzx"
WAIT = 20  # seconds, for anything the station or the browser does

failures = 0


def check(condition, what):
    global failures
    print(("ok: " if condition else "FAIL: ") + what, flush=True)
    failures += 0 if condition else 1


class Printer:
    """A virtual printer linked into the station's folder: plugged while it runs."""

    def __init__(self, program, link, *faults):
        self.process = subprocess.Popen([program, "--link", str(link), "--no-log", *faults],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + WAIT
        while not link.exists() and time.monotonic() < deadline:
            time.sleep(0.05)

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=WAIT)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def start_station(cli, folder):
    """The station, its standard error as it comes (a list, filled by a
    thread), and the screen's address from it."""
    station = subprocess.Popen(
        [cli, "watch", "--profile", str(folder / "line.profile"), "--journal", str(folder / "journal.jsonl"),
         "--slots", str(folder / "slots"), "-p", str(folder / "plugs" / "*"), "--timeout", "500",
         "--http", "127.0.0.1:0"],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    errors, lines = [], queue.Queue()

    def read_errors():
        for line in station.stderr:
            errors.append(line)
            lines.put(line)
    threading.Thread(target=read_errors, daemon=True).start()
    deadline = time.monotonic() + WAIT
    while time.monotonic() < deadline:
        try:
            line = lines.get(timeout=max(0.0, deadline - time.monotonic()))
        except queue.Empty:
            break
        if line.startswith("station screen: "):
            return station, errors, line.split(": ", 1)[1].strip()
    station.kill()
    station.wait()
    sys.exit("FAIL: the station printed no screen address")


def head_on_the_wire(url):
    """What a HEAD request gets, every byte until the server closes."""
    parts = urllib.parse.urlsplit(url)
    with socket.create_connection((parts.hostname, parts.port), timeout=WAIT) as s:
        s.sendall(f"HEAD /?{parts.query} HTTP/1.1\r\nHost: {parts.netloc}\r\nConnection: close\r\n\r\n".encode())
        answer = b""
        while chunk := s.recv(65536):
            answer += chunk
    return answer


def request(url, method="GET", path=None, host=None):
    """(status, headers, body) of one request; path replaces the URL's path and query."""
    parts = urllib.parse.urlsplit(url)
    connection = http.client.HTTPConnection(parts.hostname, parts.port, timeout=WAIT)
    headers = {"Host": host} if host else {}
    connection.request(method, path if path is not None else parts.path + "?" + parts.query, headers=headers)
    response = connection.getresponse()
    body = response.read()
    connection.close()
    return response.status, {k.lower(): v for k, v in response.getheaders()}, body


def http_checks(url):
    token = urllib.parse.parse_qs(urllib.parse.urlsplit(url).query)["token"][0]
    check(len(token) >= 32, "the token is at least 128 bits of hex")
    status, headers, body = request(url)
    check(status == 200 and headers.get("content-type", "").startswith("text/html"), "GET with the token: the page")
    check(headers.get("content-security-policy") == "default-src 'self'", "Content-Security-Policy: default-src 'self'")
    check(headers.get("x-content-type-options") == "nosniff", "X-Content-Type-Options: nosniff")
    check(not any(k.startswith("access-control-") for k in headers), "no CORS header")
    check(request(url, path="/")[0] == 401, "GET without the token: 401")
    check(request(url, path="/?token=" + ("0" if token[0] != "0" else "1") + token[1:])[0] == 401,
          "a wrong token: 401")
    check(request(url, host="printers.attacker.example")[0] == 403, "a foreign Host: 403")
    check(request(url, host="localhost:" + str(urllib.parse.urlsplit(url).port))[0] == 200, "Host localhost: 200")
    for method in ("POST", "PUT", "DELETE", "OPTIONS"):
        status, headers, _ = request(url, method=method)
        check(status == 405 and headers.get("allow") == "GET, HEAD", method + ": 405, GET and HEAD allowed")
    header, _, after = head_on_the_wire(url).partition(b"\r\n\r\n")
    length = [line.split(b":")[1].strip() for line in header.split(b"\r\n") if line.lower().startswith(b"content-length:")]
    check(header.startswith(b"HTTP/1.1 200") and after == b"" and length == [str(len(body)).encode()],
          "HEAD: the page's header, its length, and nothing after it")
    status, _, body = request(url, path="/state?token=" + token)
    check(status == 200 and "slots" in json.loads(body), "the state, as JSON")
    return token


def browser(language):
    options = Options()
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--window-size=1280,860", "--lang=" + language):
        options.add_argument(argument)
    options.add_experimental_option("prefs", {"intl.accept_languages": language})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def tile(driver, slot, state=""):
    """The text of the slot's tile once it shows `state`, else None after
    WAIT. The page redraws its tiles at every change: a tile found may be
    gone by the time it is read, and is then looked for again."""
    selector = f'article.tile[data-slot="{slot}"]' + (f".{state}" if state else "")

    def text(d):
        try:
            return d.find_element(By.CSS_SELECTOR, selector).text
        except Exception:  # not there yet, or redrawn while read
            return None
    try:
        return WebDriverWait(driver, WAIT, 0.05).until(text)
    except TimeoutException:
        return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--printer", required=True)
    parser.add_argument("--artifacts", required=True)
    args = parser.parse_args()
    artifacts = pathlib.Path(args.artifacts)
    artifacts.mkdir(parents=True, exist_ok=True)

    with tempfile.TemporaryDirectory() as temporary:
        folder = pathlib.Path(temporary)
        (folder / "plugs").mkdir()
        (folder / "line.profile").write_text(
            f'darkness = 4\nbt-name = "Shop {{n}}"\nbt-password = "{PASSWORD}{{n}}"\n')
        plug = {slot: folder / "plugs" / slot.lower() for slot in ("A1", "A2", "A3")}
        (folder / "slots").write_text("".join(f"{path} = {slot}\n" for slot, path in plug.items()))
        printers = [Printer(args.printer, plug["A1"]), Printer(args.printer, plug["A2"], "--fault", "answer-ff")]
        station, errors, url = start_station(args.cli, folder)
        drivers = []
        try:
            http_checks(url)
            english = browser("en-US")
            drivers.append(english)
            english.get(url)
            passed, failed = tile(english, "A1", "pass"), tile(english, "A2", "fail")
            check(passed is not None and "PASS" in passed and "No. " in passed, "A1: PASS, with its number")
            check(failed is not None and "FAIL" in failed and "darkness" in failed,
                  "A2: FAIL, with the key that failed")
            check(tile(english, "A3", "empty") is not None, "A3, named but empty, waits for a printer")
            english.execute_script("window.sameVisit = true")
            printers.append(Printer(args.printer, plug["A3"]))
            check(tile(english, "A3", "pass") is not None, "a printer plugged while the page is open appears")
            check(english.execute_script("return window.sameVisit === true"), "... without a reload")
            WebDriverWait(english, WAIT, 0.05).until(
                lambda d: d.find_element(By.ID, "done").text == "3")
            check(english.find_element(By.ID, "pass").text == "2" and english.find_element(By.ID, "fail").text == "1",
                  "the shift's counts: 2 pass, 1 fail")
            english.save_screenshot(str(artifacts / "station-screen.png"))
            english.find_element(By.ID, "language").click()
            check("通过" in (tile(english, "A1") or "") and "失败" in (tile(english, "A2") or ""),
                  "the page's switch: Chinese")
            chinese = browser("zh-CN")
            drivers.append(chinese)
            chinese.get(url)
            check("失败" in (tile(chinese, "A2", "fail") or "")
                  and chinese.find_element(By.TAG_NAME, "h1").text == "Morvane 工位", "a Chinese browser: Chinese")
            chinese.save_screenshot(str(artifacts / "station-screen-chinese.png"))
            for driver in drivers:
                check(PASSWORD not in driver.page_source and PASSWORD not in driver.find_element(By.TAG_NAME,
                                                                                                 "body").text,
                      "no password in the page")
            _, _, state = request(url, path="/state?" + urllib.parse.urlsplit(url).query)
            check(PASSWORD.encode() not in state, "no password in the state the browser gets")
        finally:
            for driver in drivers:
                driver.quit()
            station.send_signal(signal.SIGINT)
            try:
                out, _ = station.communicate(timeout=WAIT)
            except subprocess.TimeoutExpired:
                station.kill()
                out, _ = station.communicate()
            for p in printers:
                p.stop()
        check(station.returncode == 130, "the station ends on Ctrl-C, screen and all")
        check(PASSWORD not in out and PASSWORD not in "".join(errors),
              "no password on the station's lines, nor on its standard error")
    print(f"{failures} failed" if failures else "all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

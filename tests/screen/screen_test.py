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
import os
import pathlib
import selectors
import signal
import subprocess
import sys
import tempfile
import time
import urllib.parse

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
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
    """The station, and the screen's address from its standard error."""
    station = subprocess.Popen(
        [cli, "watch", "--profile", str(folder / "line.profile"), "--journal", str(folder / "journal.jsonl"),
         "--slots", str(folder / "slots"), "-p", str(folder / "plugs" / "*"), "--timeout", "500",
         "--http", "127.0.0.1:0"],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    watch = selectors.DefaultSelector()
    watch.register(station.stderr, selectors.EVENT_READ)
    deadline = time.monotonic() + WAIT
    while time.monotonic() < deadline and station.poll() is None:
        if watch.select(timeout=deadline - time.monotonic()):
            line = station.stderr.readline()
            if line.startswith("station screen: "):
                return station, line.split(": ", 1)[1].strip()
    station.kill()
    station.wait()
    sys.exit("FAIL: the station printed no screen address")


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
    status, headers, body = request(url, method="HEAD")
    check(status == 200 and body == b"" and int(headers.get("content-length", "0")) > 0, "HEAD: the header alone")
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


def tile(driver, slot, state):
    """The slot's tile once it shows `state`, else None after WAIT."""
    selector = f'article.tile[data-slot="{slot}"].{state}'
    try:
        WebDriverWait(driver, WAIT, 0.05).until(lambda d: d.find_elements(By.CSS_SELECTOR, selector))
    except Exception:
        return None
    return driver.find_element(By.CSS_SELECTOR, selector)


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
        station, url = start_station(args.cli, folder)
        drivers = []
        try:
            http_checks(url)
            english = browser("en-US")
            drivers.append(english)
            english.get(url)
            passed, failed = tile(english, "A1", "pass"), tile(english, "A2", "fail")
            check(passed is not None and "PASS" in passed.text, "A1: PASS")
            check(failed is not None and "FAIL" in failed.text and "darkness" in failed.text,
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
            check("通过" in english.find_element(By.CSS_SELECTOR, 'article[data-slot="A1"]').text
                  and "失败" in english.find_element(By.CSS_SELECTOR, 'article[data-slot="A2"]').text,
                  "the page's switch: Chinese")
            chinese = browser("zh-CN")
            drivers.append(chinese)
            chinese.get(url)
            tile(chinese, "A2", "fail")
            check(chinese.find_element(By.TAG_NAME, "h1").text == "Morvane 工位"
                  and "失败" in chinese.find_element(By.CSS_SELECTOR, 'article[data-slot="A2"]').text,
                  "a Chinese browser: Chinese")
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
        check(PASSWORD not in out, "no password on the station's lines")
    print(f"{failures} failed" if failures else "all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

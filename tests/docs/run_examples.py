#!/usr/bin/env python3
"""Runs every morvane-cli command that the README and docs/ show in a shell
block, against virtual printers, so that no example goes stale.

Device paths become pseudo-terminal printers, network addresses loopback
printers, and the files an example names are those its own text shows
(`# shop.profile` opens the profile's block). A command fails the test when
it is refused as bad usage (exit 2) or ends otherwise than its kind allows;
the station runs until it is stopped, as an operator stops it.

  run_examples.py --cli PATH --printer PATH --root SOURCE_TREE
"""
import argparse
import glob
import os
import re
import select
import shlex
import signal
import subprocess
import sys
import tempfile
import time

BOUND_S = 30  # any one example


def shell_blocks(text):
    """(language, lines) of every fenced block."""
    blocks, lines, lang = [], None, None
    for line in text.split("\n"):
        if line.startswith("```"):
            if lines is None:
                lang, lines = line[3:].strip(), []
            else:
                blocks.append((lang, lines))
                lines = None
        elif lines is not None:
            lines.append(line)
    return blocks


def lines_of(process, n, bound_s=10):
    """The first n lines a printer prints: its paths or URLs."""
    got, deadline = b"", time.monotonic() + bound_s
    while got.count(b"\n") < n:
        ready, _, _ = select.select([process.stdout], [], [], max(0, deadline - time.monotonic()))
        chunk = os.read(process.stdout.fileno(), 4096) if ready else b""
        if not chunk:
            raise RuntimeError("a virtual printer printed no path")
        got += chunk
    return got.decode().split("\n")[:n]


def start_printers(printer, work):
    procs, ptys = [], []
    for _ in range(4):
        p = subprocess.Popen([printer], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, cwd=work)
        procs.append(p)
        ptys += lines_of(p, 1)
    p = subprocess.Popen(
        [printer, "--tcp", "127.0.0.1:0", "--count", "2"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, cwd=work
    )
    procs.append(p)
    urls = lines_of(p, 2)
    return procs, ptys, urls


def substitute(command, ptys, urls):
    command = command.replace("/dev/pts/4", ptys[0])
    command = re.sub(r"/dev/ttyUSB(\d)", lambda m: ptys[int(m.group(1)) % len(ptys)], command)
    command = re.sub(r"tcp://192\.0\.2\.2(\d)", lambda m: urls[int(m.group(1)) % len(urls)], command)
    command = re.sub(r"/srv/(share/)?", "", command)
    # The screen's port may be taken on this machine: any free one.
    command = re.sub(r"--http \S+", "--http 127.0.0.1:0", command)
    return command


def allowed(args):
    """The exit statuses an example may end with, by what it asks."""
    verb = next((a for a in args if not a.startswith("-")), "")
    if verb == "watch":
        return {130}
    if verb == "doctor" and "--udev-rule" not in args:
        return {0, 1}  # what stands in the way depends on the machine
    if any(a.startswith(("usb:", "bt:")) or "usb:" in a for a in args):
        return {0, 3}  # no such printer is plugged in here
    return {0}


def run(args, cli, work):
    argv = [cli] + args
    if args and args[0] == "watch":
        p = subprocess.Popen(argv, cwd=work, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        time.sleep(1.5)
        p.send_signal(signal.SIGINT)
        try:
            out, err = p.communicate(timeout=BOUND_S)
        except subprocess.TimeoutExpired:
            p.kill()
            out, err = p.communicate()
        return p.returncode, out.decode(errors="replace"), err.decode(errors="replace")
    try:
        r = subprocess.run(argv, cwd=work, capture_output=True, timeout=BOUND_S)
    except subprocess.TimeoutExpired:
        return None, "", "took longer than %d s" % BOUND_S
    return r.returncode, r.stdout.decode(errors="replace"), r.stderr.decode(errors="replace")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", required=True)
    ap.add_argument("--printer", required=True)
    ap.add_argument("--root", required=True)
    o = ap.parse_args()
    o.cli, o.printer, o.root = (os.path.abspath(x) for x in (o.cli, o.printer, o.root))
    documents = [os.path.join(o.root, "README.md")] + sorted(glob.glob(os.path.join(o.root, "docs", "*.md")))

    with tempfile.TemporaryDirectory() as work:
        # The files the examples name, from the examples' own text.
        for path in documents:
            for _, lines in shell_blocks(open(path, encoding="utf-8").read()):
                if lines and re.fullmatch(r"# [\w.-]+\.(profile|slots)(:.*)?", lines[0]):
                    name = lines[0][2:].split(":")[0]
                    with open(os.path.join(work, name), "w", encoding="utf-8") as f:
                        f.write("\n".join(lines) + "\n")
        procs, ptys, urls = start_printers(o.printer, work)
        failures, count = [], 0
        try:
            # Journals for the views to read: a job each.
            for journal in ("bench-3.jsonl", "line.jsonl"):
                run(["set", "darkness=4", "-p", ptys[0], "--journal", journal], o.cli, work)
            for path in documents:
                shown = os.path.relpath(path, o.root)
                for lang, lines in shell_blocks(open(path, encoding="utf-8").read()):
                    if lang != "sh":
                        continue
                    for line in lines:
                        m = re.match(r"\s*(?:build/native/cli/)?morvane-cli\s+(.*)", line)
                        if not m:
                            continue
                        command = substitute(m.group(1).split("|")[0].split("#")[0], ptys, urls)
                        args = shlex.split(command)
                        status, out, err = run(args, o.cli, work)
                        count += 1
                        if status not in allowed(args):
                            failures.append("%s: `%s` exited %s\n%s%s" % (shown, line.strip(), status, out, err))
        finally:
            for p in procs:
                p.terminate()
            for p in procs:
                try:
                    p.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    p.kill()
        for f in failures:
            print("FAILED " + f)
        print("%d examples run, %d failed" % (count, len(failures)))
        return 1 if failures or count == 0 else 0


if __name__ == "__main__":
    sys.exit(main())

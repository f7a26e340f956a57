#!/usr/bin/env python3
"""Runs rmrate --report over a tree of the samples, writer-made files of
every kind (MAKER writes them), a text file, an empty file, links (a loop,
one to a file, one to nothing) and a file that cannot be read, and checks
each file's verdict and findings, the order, -j 1 against -j 2, the CSV, the
exit codes, the progress line on a terminal and none off one, and a stop by
Ctrl+C that leaves whole lines.

usage: report_check.py RMRATE MAKER SAMPLES_DIR [RUNNER...]

RUNNER, when given, runs RMRATE and MAKER (Wine's wrapper for the Windows
build): then the tree holds no links, pipe or locked file, and the terminal
and Ctrl+C are not checked.
"""
import csv
import io
import json
import os
import pty
import select
import shutil
import signal
import subprocess
import sys
import tempfile

failures = []
RUNNER = []

SAMPLES = ["demo.rm", "ra144_audio.rm", "rv10_ra144.rm", "rv20_ac3.rm", "rv20_vbr_long.rm", "rv20_video.rmvb"]

# Path in the tree: verdict, video, finding codes (a sorted list).
EXPECTED = {
    # ffmpeg declares a stream's largest bitrate as its average; the busiest
    # second of the video passes it in three of the samples.
    "samples/demo.rm": ("clean", True, []),
    "samples/ra144_audio.rm": ("clean", False, []),
    "samples/rv10_ra144.rm": ("clean", True, ["max_bitrate"]),
    "samples/rv20_ac3.rm": ("clean", True, ["max_bitrate"]),
    "samples/rv20_vbr_long.rm": ("clean", True, []),
    "samples/rv20_video.rmvb": ("clean", True, ["max_bitrate"]),
    "samples/deeper/still/demo copy.rm": ("clean", True, []),
    "made/clean.rm": ("clean", True, []),
    "made/cut_in_packet.rm": ("damaged", True, ["data_size"]),
    "made/garbled.rm": ("damaged", True, []),
    "made/cut_in_headers.rm": ("headers_damaged", False, ["headers"]),
    "made/no_data.rm": ("headers_damaged", False, ["headers"]),
    "made/stub.rm": ("headers_damaged", False, ["headers"]),
    "made/packet_count.rm": ("clean", True, ["packet_count"]),
    "made/duration.rm": ("clean", True, ["duration"]),
    "made/max_bitrate.rm": ("clean", True, ["max_bitrate"]),
    "made/index.rm": ("clean", True, ["index", "index"]),
    "made/data_size_past.rm": ("damaged", True, ["data_size"]),
    "made/data_size_short.rm": ("damaged", True, ["data_size"]),
    "made/hd.rmvb": ("realmedia_hd", False, []),
    "made/bare.ra": ("realaudio", False, []),
    "misc/notes.txt": ("not_realmedia", False, []),
    "misc/empty.rm": ("not_realmedia", False, []),
    # A link to a file the tree holds is that file, reported under its own
    # path; a link to nothing cannot be read.
    "links/dangling.rm": ("unreadable", False, []),
}


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def native_path(path):
    """A path as the program under test takes it: Wine's drive Z: is the Unix root."""
    return "Z:" + path.replace("/", "\\") if RUNNER else path


def run(program, *args):
    # Output goes to files, not pipes: under Wine, helper processes that
    # outlive the program inherit its handles.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        code = subprocess.run([*RUNNER, program, *args], stdout=out, stderr=err, timeout=240).returncode
        out.seek(0)
        err.seek(0)
        text, errors = out.read().decode("ascii"), err.read().decode("utf-8", "replace")
    if RUNNER:
        text, errors = text.replace("\r\n", "\n"), errors.replace("\r\n", "\n")
    return code, text, errors


def make_tree(root, maker, samples):
    tree = os.path.join(root, "tree")
    for folder in ("samples/deeper/still", "made", "misc", "links"):
        os.makedirs(os.path.join(tree, folder))
    for name in SAMPLES:
        shutil.copy(os.path.join(samples, name), os.path.join(tree, "samples", name))
    shutil.copy(os.path.join(samples, "demo.rm"), os.path.join(tree, "samples/deeper/still/demo copy.rm"))
    code, _, err = run(maker, native_path(os.path.join(tree, "made")))
    check(code == 0, f"the maker wrote its files: {err}")
    with open(os.path.join(tree, "misc/notes.txt"), "w") as f:
        f.write("Not a clip, despite the folder it is in.\n")
    open(os.path.join(tree, "misc/empty.rm"), "wb").close()
    if RUNNER:
        del EXPECTED["links/dangling.rm"]
        return tree
    os.mkfifo(os.path.join(tree, "misc/pipe.rm"))  # not a regular file: left out
    os.symlink("..", os.path.join(tree, "links/loop"))
    os.symlink("../samples/demo.rm", os.path.join(tree, "links/a_demo_link.rm"))
    os.symlink("../samples", os.path.join(tree, "links/all_samples"))
    os.symlink("nowhere.rm", os.path.join(tree, "links/dangling.rm"))
    # Root reads any file whatever its mode: then it is just a text file.
    locked = os.path.join(tree, "misc/locked.rm")
    with open(locked, "w") as f:
        f.write("locked\n")
    os.chmod(locked, 0)
    EXPECTED["misc/locked.rm"] = ("not_realmedia" if os.access(locked, os.R_OK) else "unreadable", False, [])
    return tree


def lines_of(out):
    check(out.endswith("\n"), "output ends with a whole line")
    return [json.loads(line) for line in out.splitlines()]


def relative(path, tree):
    if RUNNER:
        path = path[2:].replace("\\", "/")
    return os.path.relpath(path, tree)


def check_tree(rmrate, tree):
    code, out1, err1 = run(rmrate, "--report", "-j", "1", native_path(tree))
    check(code == 1, f"exit 1 when a file is not clean: {code}")
    check(err1 == "", f"nothing on stderr when it is no terminal: {err1!r}")
    code2, out2, _ = run(rmrate, "--report", "-j", "2", native_path(tree + "/"))
    check(code2 == 1 and out2 == out1, "-j 2 writes the same bytes as -j 1")
    code3, out3, _ = run(rmrate, "-j", "3", "--report", native_path(tree))
    check(out3 == out1, "-j 3 writes the same bytes as -j 1")

    docs = lines_of(out1)
    paths = [d["file"] for d in docs]
    check(paths == sorted(paths, key=lambda p: p.encode()), "lines in bytewise path order")
    check(len(set(paths)) == len(paths), "each path once")
    got = {relative(d["file"], tree): d for d in docs}
    check(set(got) == set(EXPECTED), f"the files reported: {sorted(set(got) ^ set(EXPECTED))}")
    for name, (verdict, video, codes) in EXPECTED.items():
        d = got.get(name)
        if not d:
            continue
        check(list(d) == ["file", "verdict", "video", "duration_ms", "streams", "damage", "findings"],
              f"keys of {name}: {list(d)}")
        check(d["verdict"] == verdict, f"verdict of {name}: {d['verdict']} != {verdict}")
        check(d["video"] == video, f"video of {name}")
        check(sorted(f["code"] for f in d["findings"]) == codes, f"findings of {name}: {d['findings']}")
        check(all(f["detail"] for f in d["findings"]), f"every finding of {name} says what")
        check((d["damage"] is not None) == (verdict == "damaged"), f"damage of {name}: {d['damage']}")
        if verdict in ("clean", "damaged"):
            check(d["streams"] and d["duration_ms"] is not None, f"streams and duration of {name}")
        else:
            check(d["streams"] == [] and d["duration_ms"] is None, f"no streams or duration for {name}")

    # What the evidence holds, on files whose every figure is known.
    demo = got["samples/demo.rm"]
    check(demo["duration_ms"] == 35916, f"demo.rm's duration: {demo['duration_ms']}")
    check([(s["number"], s["mime_type"], s["codec"], s["packets"]) for s in demo["streams"]] ==
          [(0, "video/x-pn-realvideo", "RV10", 432), (1, "audio/x-pn-realaudio", "lpcJ", 1801)],
          f"demo.rm's streams: {demo['streams']}")
    check(abs(demo["streams"][0]["kbps"] - 73.6216) < 0.001 and demo["streams"][1]["kbps"] is None,
          "demo.rm's measured rates")
    damage = got["made/garbled.rm"]["damage"]
    check(damage and damage["offset"] == 1904 and damage["last_timestamp_ms"] == 1250 and
          "version" in damage["message"], f"where and why garbled.rm breaks off: {damage}")
    vbr = got["samples/rv20_vbr_long.rm"]["streams"]
    check([s["number"] for s in vbr] == [0, 1], "the file's own stream numbers")
    return docs


def check_csv(rmrate, tree, docs):
    code, out, _ = run(rmrate, "--report", "--csv", "-j", "2", native_path(tree))
    check(code == 1, "CSV: exit 1")
    rows = list(csv.reader(io.StringIO(out)))
    check(rows[0] == ["file", "verdict", "video", "duration_ms", "streams", "damage_offset",
                      "damage_last_timestamp_ms", "damage_message", "findings"], f"CSV header: {rows[0]}")
    check(len(rows) == len(docs) + 1, "one CSV row per file")
    for row, d in zip(rows[1:], docs):
        what = d["file"]
        check(row[0] == d["file"] and row[1] == d["verdict"] and row[2] == str(d["video"]).lower(), f"CSV of {what}")
        check(row[3] == ("" if d["duration_ms"] is None else str(d["duration_ms"])), f"CSV duration of {what}")
        streams = [s.split(":") for s in row[4].split(";")] if row[4] else []
        check([(int(s[0]), s[1], s[3]) for s in streams] ==
              [(s["number"], s["mime_type"], str(s["packets"])) for s in d["streams"]], f"CSV streams of {what}")
        if d["damage"]:
            check(row[5:8] == [str(d["damage"]["offset"]), str(d["damage"]["last_timestamp_ms"]),
                               d["damage"]["message"]], f"CSV damage of {what}")
        else:
            check(row[5:8] == ["", "", ""], f"CSV without damage of {what}")
        check(row[8] == "; ".join(f"{f['code']}: {f['detail']}" for f in d["findings"]), f"CSV findings of {what}")


def check_exit_codes(rmrate, tree, samples):
    clean = [native_path(os.path.join(samples, name)) for name in ("demo.rm", "rv20_vbr_long.rm")]
    code, out, _ = run(rmrate, "--report", *clean)
    check(code == 0 and len(out.splitlines()) == 2, f"exit 0 when every file is clean: {code}")
    again = native_path(os.path.join(samples, ".", "demo.rm"))
    code, out, _ = run(rmrate, "--report", clean[0], clean[0], again)
    check(len(out.splitlines()) == 1, "a file named three ways is reported once")
    code, out, _ = run(rmrate, "--report", native_path(os.path.join(tree, "no such file.rm")))
    check(code == 1 and json.loads(out)["verdict"] == "unreadable", "a missing operand is unreadable")
    for args in (["--report", "--json", tree], ["--report", "--stats", tree], ["-j", "2", clean[0]],
                 ["--report", "-j", "0", tree], ["--report", "-j", "x", tree], ["--report"]):
        code, out, _ = run(rmrate, *args)
        check(code == 2 and out == "", f"usage error for {args}: {code}")


def check_progress(rmrate, tree):
    """On a terminal, stderr shows the progress line; stdout stays the lines."""
    master, slave = pty.openpty()
    with tempfile.TemporaryFile() as out:
        process = subprocess.Popen([rmrate, "--report", "-j", "2", tree], stdout=out, stderr=slave)
        os.close(slave)
        seen = b""
        while True:
            ready, _, _ = select.select([master], [], [], 60)
            if not ready:
                break
            try:
                chunk = os.read(master, 4096)
            except OSError:
                break
            if not chunk:
                break
            seen += chunk
        process.wait(timeout=60)
        os.close(master)
        out.seek(0)
        lines = out.read().decode("ascii").splitlines()
    text = seen.decode("utf-8", "replace")
    total = len(EXPECTED)
    check(f"/{total} files" in text and "MiB" in text, f"a progress line on a terminal: {text[-200:]!r}")
    check(f"{total}/{total} files" in text, "the progress line reaches every file")
    check(text.endswith("\r\x1b[K"), "the progress line is erased at the end")
    check(len(lines) == total, "the lines on stdout as ever")


def check_interrupt(rmrate, root):
    """Ctrl+C while the output is held up: whole lines, then exit 130. The
    output is larger than any pipe holds and is not read until the signal is
    sent, so the run cannot have ended before it."""
    many = os.path.join(root, "many")
    os.mkdir(many)
    for i in range(6000):
        open(os.path.join(many, f"{i:05d}_" + "n" * 200 + ".txt"), "wb").close()
    process = subprocess.Popen([rmrate, "--report", "-j", "2", many], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE)
    first = process.stdout.readline()
    process.send_signal(signal.SIGINT)
    rest, err = process.communicate(timeout=120)
    out = (first + rest).decode("ascii")
    check(process.returncode == 130, f"exit 130 after Ctrl+C: {process.returncode}")
    lines = out.splitlines()
    check(out.endswith("\n") and all(json.loads(line)["verdict"] == "not_realmedia" for line in lines),
          "only whole lines after Ctrl+C")
    check(0 < len(lines) < 6000, f"stopped before the end: {len(lines)} lines")
    check(b"interrupted" in err, f"says it was interrupted: {err!r}")


def main():
    if len(sys.argv) < 4:
        print(__doc__)
        return 2
    rmrate, maker, samples = sys.argv[1:4]
    RUNNER.extend(sys.argv[4:])
    root = tempfile.mkdtemp(prefix="kov-report-")
    try:
        tree = make_tree(root, maker, samples)
        docs = check_tree(rmrate, tree)
        check_csv(rmrate, tree, docs)
        check_exit_codes(rmrate, tree, samples)
        if not RUNNER:
            check_progress(rmrate, tree)
            check_interrupt(rmrate, root)
    finally:
        locked = os.path.join(root, "tree/misc/locked.rm")
        if os.path.exists(locked):
            os.chmod(locked, 0o600)
        shutil.rmtree(root)
    if failures:
        print(f"{len(failures)} checks failed")
        return 1
    print("report check passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Runs rmrate on the sample files and checks its exit codes and output
formats, and its windows against ones worked out here from the packet lists
that sit beside the samples (the files' own packet headers, checked against
ffprobe when the samples were made).

usage: rmrate_check.py RMRATE SAMPLES_DIR [RUNNER...]

RUNNER, when given, is the command that runs RMRATE (Wine's wrapper for the
Windows build's rmrate.exe).
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

REALVIDEO = ("video/x-pn-realvideo", "video/x-pn-realvideo-encrypted")
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


RUNNER = []


def run(rmrate, *args):
    # Output goes to files, not pipes: under Wine, helper processes that
    # outlive the program inherit its handles, and a pipe would stay open
    # until they end.
    with tempfile.TemporaryFile() as out_file, tempfile.TemporaryFile() as err_file:
        code = subprocess.run([*RUNNER, rmrate, *args], stdout=out_file, stderr=err_file).returncode
        out_file.seek(0)
        err_file.seek(0)
        stdout, stderr = out_file.read(), err_file.read()
    check(all(b < 0x80 for b in stdout), f"plain ASCII on stdout for {args}")
    out, err = stdout.decode("ascii", "replace"), stderr.decode("ascii", "replace")
    if RUNNER:
        # A Windows console program writes its lines in text mode: CR LF.
        out, err = out.replace("\r\n", "\n"), err.replace("\r\n", "\n")
    return code, out, err


def table(path):
    """Rows of a samples/*.txt list, comments dropped."""
    with open(path) as f:
        return [line.split() for line in f if line.strip() and not line.startswith("#")]


def expected_windows(stem):
    """The series the run must store, from the sample's stream and packet lists."""
    videos = [int(row[0]) for row in table(stem + ".streams.txt") if row[1] in REALVIDEO]
    if not videos:
        return "ANALYSIS_NO_VIDEO", []
    stream = min(videos)
    start, total, windows = 0, 0, []
    for row in table(stem + ".packets.txt"):
        if int(row[0]) != stream:
            continue
        timestamp, size = int(row[1]), int(row[3])
        total += size
        distance = (timestamp - start) & 0xFFFFFFFF
        if distance <= 1000:
            continue
        if not windows and distance > 10000:
            break
        if windows and distance > 2000:
            return "ANALYSIS_FRAME_GAP", windows
        windows.append([start, min(total * 8 // distance, 0xFFFFFFFF)])
        start, total = timestamp, 0
    return "ANALYSIS_OK", windows


def main():
    rmrate, samples = sys.argv[1], sys.argv[2]
    RUNNER[:] = sys.argv[3:]
    stems = sorted(os.path.join(samples, n[: -len(".packets.txt")])
                   for n in os.listdir(samples) if n.endswith(".packets.txt"))
    media = {}
    for stem in stems:
        for ext in (".rm", ".rmvb"):
            if os.path.exists(stem + ext):
                media[stem] = stem + ext
    check(len(media) >= 2, "at least two samples with packet lists")

    # --json: windows and figures agree with the packet lists.
    ok_files, failing_files = [], []
    for stem, path in media.items():
        code, out, err = run(rmrate, "--json", path)
        lines = out.splitlines()
        check(len(lines) == 1, f"one JSON line for {path}")
        doc = json.loads(lines[0])
        result, windows = expected_windows(stem)
        check(doc["file"] == path, f"file name in JSON for {path}")
        check(doc["result"] == result, f"result of {path}: {doc['result']} != {result}")
        check(doc["windows"] == windows, f"windows of {path}")
        check(code == (0 if result == "ANALYSIS_OK" else 1), f"exit code for {path}")
        (ok_files if result == "ANALYSIS_OK" else failing_files).append(path)
        if windows:
            kbps = [w[1] for w in windows]
            check(doc["max_kbps"] == max(kbps), f"max_kbps of {path}")
            check(doc["average_kbps"] == sum(kbps) // len(kbps), f"average_kbps of {path}")
            check(doc["last_start_ms"] == windows[-1][0], f"last_start_ms of {path}")
            check(doc["max_time_s"] == windows[-1][0] // 1000, f"max_time_s of {path}")
            check(doc["stream_index"] is not None, f"stream_index of {path}")

        # --streams --json: the stream table of the sample.
        code, out, _ = run(rmrate, "--streams", "--json", path)
        doc = json.loads(out)
        mimes = [row[1] for row in table(stem + ".streams.txt")]
        check(doc["result"] == "RM_OK", f"--streams result of {path}")
        check([s["mime_type"] for s in doc["streams"]] == mimes, f"--streams MIME types of {path}")
        check(all(any(p["name"] == "StreamNumber" and p["value"] == s["index"] for p in s["properties"])
                  for s in doc["streams"]), f"StreamNumber properties of {path}")

    # The plain line and the CSV rows of one file.
    path = ok_files[0]
    windows = expected_windows(os.path.splitext(path)[0])[1]
    kbps = [w[1] for w in windows]
    code, out, _ = run(rmrate, path)
    check(out == f"{path}: {len(windows)} windows, max time {windows[-1][0] // 1000} s, "
                 f"max bitrate {max(kbps)} kbps, average bitrate {sum(kbps) // len(kbps)} kbps\n",
          f"plain line for {path}: {out!r}")
    code, out, _ = run(rmrate, "--csv", path)
    check(out.splitlines() == ["start_ms,kbps"] + [f"{s},{k}" for s, k in windows], f"CSV rows of {path}")

    # Exit codes: all measured, one not, usage errors, help.
    check(run(rmrate, *ok_files)[0] == 0, "exit 0 when every file is measured")
    with tempfile.TemporaryDirectory() as tmp:
        junk = os.path.join(tmp, "junk.rm")
        with open(junk, "wb") as f:
            f.write(b"not a RealMedia file at all")
        code, out, _ = run(rmrate, ok_files[0], junk, os.path.join(tmp, "missing.rm"))
        check(code == 1, "exit 1 when any file fails")
        check(out.splitlines()[1:] == [junk + ": There is no RealVideo stream in this file",
                                       os.path.join(tmp, "missing.rm") + ": Sorry, can not open the file"],
              "failure lines")

        # A name that JSON must escape: quote, backslash, non-ASCII.
        odd = os.path.join(tmp, 'a "quoted" \\ na\u00efve.rm')
        shutil.copy(ok_files[0], odd)
        code, out, _ = run(rmrate, "--json", odd)
        check(json.loads(out)["file"] == odd, "escaped file name round-trips through JSON")

    for args in ([], ["--bogus", ok_files[0]], ["--csv", ok_files[0], ok_files[0]], ["--csv", "--json", ok_files[0]]):
        code, out, err = run(rmrate, *args)
        check(code == 2 and out == "" and "usage:" in err, f"usage error for {args}")
    code, out, _ = run(rmrate, "--help")
    check(code == 0 and "usage:" in out, "--help")

    print(f"{len(media)} samples checked, {len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

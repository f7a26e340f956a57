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
import struct
import subprocess
import sys
import tempfile
import time

from sample_windows import expected_windows, packets_of, table, video_stream, windows_of

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


RUNNER = []


def run(rmrate, *args, timeout=None):
    # Output goes to files, not pipes: under Wine, helper processes that
    # outlive the program inherit its handles, and a pipe would stay open
    # until they end.
    with tempfile.TemporaryFile() as out_file, tempfile.TemporaryFile() as err_file:
        code = subprocess.run([*RUNNER, rmrate, *args], stdout=out_file, stderr=err_file,
                              timeout=timeout).returncode
        out_file.seek(0)
        err_file.seek(0)
        stdout, stderr = out_file.read(), err_file.read()
    check(all(b < 0x80 for b in stdout), f"plain ASCII on stdout for {args}")
    out, err = stdout.decode("ascii", "replace"), stderr.decode("ascii", "replace")
    if RUNNER:
        # A Windows console program writes its lines in text mode: CR LF.
        out, err = out.replace("\r\n", "\n"), err.replace("\r\n", "\n")
    return code, out, err


def expected_cut(stem, cut):
    """What a run over the sample's first `cut` bytes must report: its windows,
    the offset where reading fails and the last video timestamp read whole.
    A packet of another stream is skipped, not read: when it runs past the
    cut, the failure lies at the cut (the end of the file)."""
    stream = video_stream(stem)
    timeline, offset = [], None
    for s, t, n, header in packets_of(stem):
        end = header + 12 + n
        if end <= cut:
            if s == stream:
                timeline.append((t, n))
            continue
        offset = header if s == stream or header + 12 > cut else cut
        break
    result, windows = windows_of(timeline)
    return result, windows, offset, timeline[-1][0] if timeline else None


def cut_points(stem):
    """Cuts inside the data, away from its first and last packets: in a video
    packet's header, in its payload, in a packet of another stream."""
    stream = video_stream(stem)
    packets = packets_of(stem)
    middle = packets[len(packets) // 3: 2 * len(packets) // 3]
    video = [p for p in middle if p[0] == stream and p[2] > 20]
    cuts = [video[0][3] + 5, video[len(video) // 2][3] + 12 + video[len(video) // 2][2] // 2]
    others = [p for p in middle if p[0] != stream and p[2] > 4]
    if others:
        cuts.append(others[len(others) // 2][3] + 12 + others[len(others) // 2][2] // 2)
    return cuts


def check_cut_samples(rmrate, media, tmp):
    """A sample cut inside its data keeps the windows before the cut and says
    where it broke; the intact samples end clean."""
    cut_files = []
    for stem, path in media.items():
        if video_stream(stem) is None:
            continue
        with open(path, "rb") as f:
            data = f.read()
        for cut in cut_points(stem):
            cut_path = os.path.join(tmp, f"{os.path.basename(stem)}_cut{cut}.rm")
            with open(cut_path, "wb") as f:
                f.write(data[:cut])
            cut_files.append((stem, cut, cut_path))
    check(len(cut_files) >= 8, "enough cut samples")

    # All in one run: under Wine each start costs seconds.
    code, out, _ = run(rmrate, "--json", *[c[2] for c in cut_files])
    check(code == 1, "exit 1 for damaged files")
    docs = [json.loads(line) for line in out.splitlines()]
    check(len(docs) == len(cut_files), "one JSON line per cut file")
    for (stem, cut, cut_path), doc in zip(cut_files, docs):
        result, windows, offset, last = expected_cut(stem, cut)
        what = f"{os.path.basename(cut_path)}"
        check(doc["result"] == result, f"result of {what}: {doc['result']}")
        check(doc["windows"] == windows, f"windows before the cut of {what}")
        end = doc["end"]
        check(end is not None and end["status"] == "damaged", f"damaged status of {what}: {end}")
        if end:
            check(end["offset"] == offset, f"offset of {what}: {end['offset']} != {offset}")
            check(end["last_timestamp_ms"] == last, f"last timestamp of {what}: {end['last_timestamp_ms']} != {last}")
            check(end["result"].startswith("RM_") and end["result"] != "RM_END_OF_DATA", f"reader result of {what}")
        check(doc["windows_not_stored"] == 0, f"windows_not_stored of {what}")

    # The plain line adds where and what, after the figures.
    stem, cut, cut_path = cut_files[0]
    result, windows, offset, last = expected_cut(stem, cut)
    code, out, _ = run(rmrate, cut_path)
    kbps = [w[1] for w in windows]
    figures = (f"{cut_path}: {len(windows)} windows, max time {windows[-1][0] // 1000} s, "
               f"max bitrate {max(kbps)} kbps, average bitrate {sum(kbps) // len(kbps)} kbps")
    damage = f"; damaged at byte {offset} after {last // 1000}.{last % 1000:03d} s: "
    check(code == 1 and out.startswith(figures + damage) and out.endswith("\n") and len(out.splitlines()) == 1,
          f"plain line of a damaged file: {out!r}")
    # CSV: the rows up to the cut, the damage on stderr.
    code, out, err = run(rmrate, "--csv", cut_path)
    check(code == 1 and out.splitlines() == ["start_ms,kbps"] + [f"{s},{k}" for s, k in windows],
          "CSV rows of a damaged file")
    check(err.startswith(f"{cut_path}: damaged at byte {offset} after "), f"CSV damage on stderr: {err!r}")


def write_rm(path, streams, packets=()):
    """A RealMedia file: one MDPR per (MIME type, type-specific bytes), then a
    DATA chunk with the (stream, timestamp, payload size) packets."""
    def chunk(cid, body):
        return cid + struct.pack(">IH", 10 + len(body), 0) + body
    mdprs = []
    for n, (mime, opaque) in enumerate(streams):
        name = b"s%d" % n
        body = struct.pack(">H7I", n, 1000, 1000, 100, 100, 0, 0, 1000)
        body += bytes([len(name)]) + name + bytes([len(mime)]) + mime + struct.pack(">I", len(opaque)) + opaque
        mdprs.append(chunk(b"MDPR", body))
    rmf = b".RMF" + struct.pack(">IHII", 18, 0, 0, len(streams) + 2)
    data_offset = len(rmf) + 50 + sum(len(m) for m in mdprs)
    prop = chunk(b"PROP", struct.pack(">9IHH", 1000, 1000, 100, 100, len(packets), 1000, 0, 0, data_offset,
                                      len(streams), 0))
    body = b"".join(struct.pack(">HHHIH", 0, 12 + size, stream, timestamp, 0) + bytes(size)
                    for stream, timestamp, size in packets)
    data = b"DATA" + struct.pack(">IHII", 18 + len(body), 0, len(packets), 0) + body
    with open(path, "wb") as f:
        f.write(rmf + prop + b"".join(mdprs) + data)


def check_big_stream_headers(rmrate, tmp):
    """Megabytes of properties are written as they come and arrive whole."""
    path = os.path.join(tmp, "big_headers.rm")
    opaque = bytes(k % 251 for k in range(3 * 1000 * 1000))
    write_rm(path, [(b"audio/x-pn-realaudio", opaque)] * 3)
    code, out, _ = run(rmrate, "--streams", "--json", path)
    doc = json.loads(out)
    check(code == 0 and doc["result"] == "RM_OK" and len(doc["streams"]) == 3, "--streams of large headers")
    check([p["value"] for s in doc["streams"] for p in s["properties"] if p["name"] == "OpaqueData"] ==
          [opaque.hex()] * 3, "large OpaqueData in full")
    code, out, _ = run(rmrate, "--streams", path)
    check(code == 0 and out.startswith(f"{path}: 3 streams\n") and out.count("  OpaqueData buffer ") == 3,
          "plain --streams of large headers")


def check_full_series(rmrate, tmp):
    """A video longer than the series: the windows that found no room are
    counted, and the file is still measured to its end."""
    path = os.path.join(tmp, "long.rm")
    # A packet every 1001 ms closes a window each: 20003 packets close 20002
    # windows, of which the series stores 19999.
    write_rm(path, [(b"video/x-pn-realvideo", b"")], [(0, i * 1001, 1) for i in range(20003)])
    code, out, _ = run(rmrate, "--json", path)
    doc = json.loads(out)
    check(code == 0 and len(doc["windows"]) == 19999 and doc["windows_not_stored"] == 3
          and doc["end"]["status"] == "clean", "JSON of a full series")
    code, out, _ = run(rmrate, path)
    check(code == 0 and out.endswith(" kbps; series full: 3 windows not stored\n"), f"plain line of a full series: {out!r}")


def check_not_files(rmrate, tmp):
    """Nothing but a regular file is read, and refusing takes no time: a device
    or a pipe would block a read for ever."""
    names = [tmp]  # a directory
    if RUNNER:
        names += ["COM1", "AUX"]  # Wine maps COM1 to a serial device
    else:
        fifo = os.path.join(tmp, "fifo.rm")
        os.mkfifo(fifo)
        names += [fifo, "/dev/null"]
    for name in names:
        for mode in ([], ["--streams"]):
            started = time.monotonic()
            try:
                code, out, _ = run(rmrate, *mode, name, timeout=60)
            except subprocess.TimeoutExpired:
                check(False, f"rmrate {' '.join(mode)} {name} returns")
                continue
            check(code == 1 and out == f"{name}: Sorry, can not open the file\n",
                  f"rmrate {' '.join(mode)} {name} cannot open it: {code} {out!r}")
            check(time.monotonic() - started < 30, f"rmrate {' '.join(mode)} {name} answers at once")


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
        check(doc["windows_not_stored"] == 0, f"windows_not_stored of {path}")
        if result == "ANALYSIS_NO_VIDEO":
            check(doc["end"] is None, f"no end for {path} without video")
        else:
            stream = video_stream(stem)
            last = [t for s, t, _, _ in packets_of(stem) if s == stream][-1]
            check(doc["end"] == {"status": "clean", "result": "RM_END_OF_DATA", "message": None, "offset": None,
                                 "last_timestamp_ms": last}, f"clean end of {path}: {doc['end']}")
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

    with tempfile.TemporaryDirectory() as tmp:
        check_cut_samples(rmrate, media, tmp)
        check_not_files(rmrate, tmp)
        check_big_stream_headers(rmrate, tmp)
        check_full_series(rmrate, tmp)

    for args in ([], ["--bogus", ok_files[0]], ["--csv", ok_files[0], ok_files[0]], ["--csv", "--json", ok_files[0]]):
        code, out, err = run(rmrate, *args)
        check(code == 2 and out == "" and "usage:" in err, f"usage error for {args}")
    code, out, _ = run(rmrate, "--help")
    check(code == 0 and "usage:" in out, "--help")

    print(f"{len(media)} samples checked, {len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

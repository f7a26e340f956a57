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


def run_bytes(rmrate, *args, timeout=None):
    # Output goes to files, not pipes: under Wine, helper processes that
    # outlive the program inherit its handles, and a pipe would stay open
    # until they end.
    with tempfile.TemporaryFile() as out_file, tempfile.TemporaryFile() as err_file:
        code = subprocess.run([*RUNNER, rmrate, *args], stdout=out_file, stderr=err_file,
                              timeout=timeout).returncode
        out_file.seek(0)
        err_file.seek(0)
        stdout, stderr = out_file.read(), err_file.read()
    if RUNNER:
        # A Windows console program writes its lines in text mode: CR LF.
        stdout, stderr = stdout.replace(b"\r\n", b"\n"), stderr.replace(b"\r\n", b"\n")
    # Paths are written as they were given; everything else is ASCII, and
    # JSON is ASCII whole.
    rest = stdout
    if "--json" not in args:
        for arg in args:
            rest = rest.replace(os.fsencode(arg), b"")
    check(all(b < 0x80 for b in rest), f"plain ASCII on stdout for {args}")
    return code, stdout, stderr


def run(rmrate, *args, timeout=None):
    code, stdout, stderr = run_bytes(rmrate, *args, timeout=timeout)
    return code, stdout.decode("ascii", "replace"), stderr.decode("ascii", "replace")


def expected_cut(stem, cut):
    """What a run over the sample's first `cut` bytes must report: its windows,
    the offset where reading fails and the last video timestamp read whole.
    The failure lies at the first packet the cut leaves incomplete, whether
    its stream is measured or skipped."""
    stream = video_stream(stem)
    timeline, offset = [], None
    for s, t, n, header in packets_of(stem):
        end = header + 12 + n
        if end <= cut:
            if s == stream:
                timeline.append((t, n))
            continue
        offset = header
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
    check(code == 1 and csv_windows(out) == ["start_ms,kbps"] + [f"{s},{k}" for s, k in windows],
          "CSV rows of a damaged file")
    check(err.startswith(f"{cut_path}: damaged at byte {offset} after "), f"CSV damage on stderr: {err!r}")


def csv_windows(out):
    """The start_ms and kbps columns of CSV output (its keyframes column is
    checked against the JSON by check_stats)."""
    return [",".join(line.split(",")[:2]) for line in out.splitlines()]


def stream_totals(stem):
    """Per stream: packets, payload bytes, smallest and largest timestamp,
    counted from the sample's packet list."""
    totals = {}
    for stream, timestamp, size, _ in packets_of(stem):
        t = totals.setdefault(stream, [0, 0, timestamp, timestamp])
        t[0] += 1
        t[1] += size
        t[2], t[3] = min(t[2], timestamp), max(t[3], timestamp)
    return [totals[k] for k in sorted(totals)]


def check_stats(rmrate, media, tmp):
    """--stats: JSON that parses for every sample, its windows the same as
    without it, CSV rows equal to its windows, every stream's totals equal
    to a count from the packet list; the plain block under the unchanged
    line; --peak-window and its usage errors."""
    paths = list(media.values())
    code, out, _ = run(rmrate, "--json", *paths)
    code_stats, out_stats, _ = run(rmrate, "--stats", "--json", *paths)
    check(code == code_stats, "--stats keeps the exit status")
    for (stem, path), plain_line, line in zip(media.items(), out.splitlines(), out_stats.splitlines()):
        doc, plain = json.loads(line), json.loads(plain_line)
        check(all(doc[k] == v for k, v in plain.items()), f"--stats keeps every JSON key and value of {path}")
        check(list(doc)[:len(plain)] == list(plain), f"--stats adds keys after the old ones for {path}")
        totals = stream_totals(stem)
        got = [[s["packets"], s["bytes"], s["first_ms"], s["last_ms"]] for s in doc["streams"]]
        check(got == totals, f"stream totals of {path}: {got} != {totals}")
        check(doc["file_bytes"] == sum(t[1] for t in totals), f"file_bytes of {path}")
        check(doc["totals_end"] == "clean", f"totals_end of {path}")
        # The file's own account: its size, the PROP duration rm_walk.py
        # read, the picture ffprobe decodes (the same as declared in these).
        check(doc["file_size"] == os.path.getsize(path), f"file_size of {path}")
        prop = [line for line in open(stem + ".streams.txt") if line.startswith("# PROP ")][0].split()
        check(doc["duration_ms"] == int(prop[prop.index("duration_ms") + 1].rstrip(",")), f"duration_ms of {path}")
        check(doc["file_info"] is None and (doc["content"] is None or set(doc["content"]) ==
                                           {"title", "author", "copyright", "comment"}), f"content of {path}")
        picture = ffprobe_picture(path)
        if picture:
            format_ = doc["video_format"] or {}
            check(picture == (format_.get("width"), format_.get("height"), format_.get("fps")),
                  f"video_format of {path}: {format_} != {picture}")
        if doc["windows"]:
            kbps = sorted(w[1] for w in doc["windows"])
            st = doc["statistics"]
            check(st["min_kbps"] == kbps[0] and st["max_kbps"] == kbps[-1], f"min/max of {path}")
            low, high = kbps[(len(kbps) - 1) // 2], kbps[len(kbps) // 2]
            median = (low + high) / 2
            check(abs(st["median_kbps"] - median) < 1e-9, f"median of {path}: {st['median_kbps']} != {median}")
            check(doc["keyframes"]["count"] > 0, f"keyframes of {path}")
            # Keyframes from the list (one per timestamp), counted in the
            # window their time falls in.
            keys = []
            for line in table(stem + ".packets.txt"):
                if int(line[0]) == doc["stream_index"] and line[2] == "1" and int(line[1]) not in keys[-1:]:
                    keys.append(int(line[1]))
            ends = [w[0] for w in doc["windows"][1:]] + [doc["series_end_ms"]]
            per_window = [sum(1 for t in keys if w[0] <= t < end) for w, end in zip(doc["windows"], ends)]
            check(doc["window_keyframes"] == per_window, f"window_keyframes of {path}")
            check(doc["keyframes"]["count"] == len(keys) and doc["keyframes"]["first_ms"] == keys[0],
                  f"keyframe count of {path}")
            code, csv_out, _ = run(rmrate, "--csv", path)
            rows = [line.split(",") for line in csv_out.splitlines()]
            check(rows[0] == ["start_ms", "kbps", "keyframes"] and
                  [[int(x) for x in r] for r in rows[1:]] ==
                  [w + [k] for w, k in zip(doc["windows"], doc["window_keyframes"])],
                  f"CSV rows of {path} equal its JSON windows")

    path = next(p for p in paths if "demo" in p)
    code, out, _ = run(rmrate, path)
    code_stats, out_stats, _ = run(rmrate, "--stats", path)
    lines = out_stats.splitlines()
    check(code == code_stats == 0 and lines[0] == out.rstrip("\n") and len(lines) > 8 and
          all(line.startswith("  ") for line in lines[1:]) and "  Streams: 2" in lines,
          f"plain --stats block: {out_stats!r}")
    code, out, _ = run(rmrate, "--stats", "--json", "--peak-window", "5", path)
    check(code == 0 and json.loads(out)["statistics"]["peak"]["span_ms"] == 5000, "--peak-window 5")
    for args in (["--peak-window", "5", path], ["--stats", "--peak-window", "0", path],
                 ["--stats", "--peak-window", "ten", path], ["--stats", "--peak-window", "nan", path],
                 ["--stats", "--peak-window", "inf", path], ["--csv", "--stats", path], ["--no-such", path]):
        code, out, err = run(rmrate, *args)
        check(code == 2 and out == "" and err.startswith("rmrate: ") and "usage:" in err,
              f"usage error for {args}: {code} {err!r}")
    code, out, err = run(rmrate, "--bogus", path)
    check("--bogus" in err, f"the unknown option is named: {err!r}")
    missing = os.path.join(tmp, "no such file.rm")
    code, out, _ = run(rmrate, "--stats", missing)
    check(code == 1 and out == f"{missing}: Sorry, can not open the file\n", f"missing file with --stats: {out!r}")

    # Hostile names and strings: JSON stays valid ASCII (run() checks ASCII).
    # Windows names hold no quote or backslash: Wine could not open such a file.
    hostile = os.path.join(tmp, ("x" if RUNNER else 'q"uo\\te') + '\u00e9\u4e2d\U0001f600 .rm')
    write_rm(hostile, [(b"video/x-pn-realvideo", b""), (b'\xff\xfe"\\\x01\x7f\xc3(\xe2\x82', b"VIDO")],
             [(0, 0, 100), (1, 0, 10), (0, 1200, 100)])
    names = [hostile]
    if not RUNNER:
        raw = os.path.join(os.fsencode(tmp), b"latin1 \xe9\xff\x01.rm")
        shutil.copy(hostile, raw)
        names.append(raw)
    for name in names:
        code, out, _ = run(rmrate, "--stats", "--json", name)
        doc = json.loads(out)
        expected = name if isinstance(name, str) else name.decode("latin-1")
        check(doc["file"] == expected, f"hostile file name in JSON: {doc['file']!r}")
        check(doc["streams"][1]["mime_type"] == '\u00ff\u00fe"\\\x01\x7f\u00c3(\u00e2\u0082',
              f"hostile MIME type in JSON: {doc['streams'][1]['mime_type']!r}")
        code, out, _ = run(rmrate, "--stats", name)
        check(code == 0 and "\\xff\\xfe" in out, f"hostile MIME type in plain text: {out!r}")


def ffprobe_picture(path):
    """(width, height, frames per second) of the first video stream as
    ffprobe sees it, or None without ffprobe or a video stream."""
    if not shutil.which("ffprobe"):
        return None
    run = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                          "stream=width,height,r_frame_rate", "-of", "json", path], capture_output=True)
    streams = json.loads(run.stdout or b"{}").get("streams", [])
    if run.returncode != 0 or not streams:
        return None
    num, den = streams[0]["r_frame_rate"].split("/")
    return streams[0]["width"], streams[0]["height"], int(num) / int(den)


def check_paths_as_given(rmrate, media, tmp):
    """Plain lines, the --stats block, --streams and what --csv writes to
    stderr name a file by the very bytes it was given; JSON escapes them."""
    demo = next(p for p in media.values() if "demo" in p)
    folder = os.path.join(tmp, "my clips")
    os.makedirs(folder, exist_ok=True)
    names = [os.path.join(folder, "\u0432\u0438\u0434\u0435\u043e \u4e2d\U0001f600.rm")]
    if not RUNNER:
        names.append(os.path.join(os.fsencode(folder), b"latin1 \xe9\xff.rm"))
    with open(demo, "rb") as f:
        data = f.read()
    for name in names:
        given = os.fsencode(name)
        with open(name, "wb") as f:
            f.write(data)
        cut = name + (".cut" if isinstance(name, str) else b".cut")
        with open(cut, "wb") as f:
            f.write(data[: len(data) * 2 // 3])
        missing = name + (".missing" if isinstance(name, str) else b".missing")
        for args, stream, start in (([name], 1, b": "), (["--stats", name], 1, b": "),
                                    (["--streams", name], 1, b": 2 streams\n"),
                                    (["--csv", cut], 2, b".cut: damaged at byte "),
                                    ([missing], 1, b".missing: Sorry, can not open the file\n")):
            output = run_bytes(rmrate, *args)[stream]
            check(output.startswith(given + start), f"the path as given in {args!r}: {output[:120]!r}")
        code, out, _ = run(rmrate, "--json", name)
        expected = name if isinstance(name, str) else name.decode("latin-1")
        check(code == 0 and json.loads(out)["file"] == expected, f"JSON of {name!r}: {out[:120]!r}")


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


def check_empty_charts(rmrate, tmp):
    """A chart with no window is no measurement: each says why, and exits 1."""
    video = (b"video/x-pn-realvideo", b"")
    cases = [
        ("no_packets", [video], [], "the video stream holds no packets"),
        # The first of two video streams is measured, and it holds nothing.
        ("no_packets", [video, video], [(1, 0, 100), (1, 1200, 100)], "the video stream holds no packets"),
        ("starts_late", [video], [(0, 10001, 100), (0, 10500, 100)], "the video starts after 0:10"),
        ("too_short", [video], [(0, 0, 100), (0, 500, 100), (0, 1000, 100)], "the video ends before its first"),
    ]
    paths = []
    for k, (name, streams, packets, phrase) in enumerate(cases):
        path = os.path.join(tmp, f"empty{k}.rm")
        write_rm(path, streams, packets)
        paths.append(path)
    # Cut inside its second video packet, before the first window closes.
    cut = os.path.join(tmp, "empty_cut.rm")
    write_rm(cut, [video], [(0, 0, 100), (0, 500, 100), (0, 1200, 100)])
    with open(cut, "r+b") as f:
        f.truncate(os.path.getsize(cut) - 2 * 112 + 40)
    cases.append(("damaged", None, None, "the file breaks off before"))
    paths.append(cut)
    for (name, _, _, phrase), path in zip(cases, paths):
        code, out, _ = run(rmrate, path)
        check(code == 1 and out.startswith(f"{path}: 0 windows, ") and f"; nothing charted: {phrase}" in out,
              f"plain line of an empty chart ({name}): {code} {out!r}")
        code, out, _ = run(rmrate, "--json", path)
        doc = json.loads(out)
        check(code == 1 and doc["result"] == "ANALYSIS_OK" and doc["windows"] == [] and doc["empty_chart"] == name,
              f"JSON of an empty chart ({name}): {code} {doc.get('empty_chart')}")
    code, out, _ = run(rmrate, "--json", *paths)
    check(code == 1 and len(out.splitlines()) == len(paths), "one line per empty chart")


def check_frame_lists(rmrate, media, tmp):
    """--frames and --gops: a header row and one row per frame or GOP, as
    many as --stats counts; JSON with the same fields; an audio file lists
    nothing and exits 1; usage errors."""
    for stem, path in media.items():
        code, out, _ = run(rmrate, "--stats", "--json", path)
        stats = json.loads(out)
        code_frames, frames, err = run(rmrate, "--frames", path)
        code_gops, gops, _ = run(rmrate, "--gops", path)
        rows, gop_rows = frames.splitlines(), gops.splitlines()
        check(rows[0] == "offset,timestamp_ms,bytes,packets,keyframe,type", f"--frames header of {path}")
        check(gop_rows[0] == "start_ms,frames,bytes,duration_ms,kbps", f"--gops header of {path}")
        if stats["frames"] is None:
            check(code_frames == 1 and len(rows) == 1 and "no RealVideo stream" in err, f"--frames of {path}: {err!r}")
            continue
        check(code_frames == code == 0 and code_gops == 0, f"--frames and --gops exit codes of {path}")
        check(len(rows) - 1 == stats["frames"]["count"], f"--frames rows of {path}")
        check(len(gop_rows) - 1 == stats["gops"]["count"], f"--gops rows of {path}")
        fields = [r.split(",") for r in rows[1:]]
        check(sum(int(f[2]) for f in fields) == stats["frames"]["bytes"], f"--frames bytes of {path}")
        check(all(f[4] in ("0", "1") and f[5] in ("I", "P", "B", "?") for f in fields), f"--frames fields of {path}")
        check(sum(int(g.split(",")[1]) for g in gop_rows[1:]) == len(fields), f"--gops frames of {path}")
        code, out, _ = run(rmrate, "--frames", "--json", path)
        doc = json.loads(out)
        check(code == 0 and doc["file"] == path and doc["end"]["status"] == "clean" and
              [[str(x["offset"]), str(x["timestamp_ms"]), str(x["bytes"]), str(x["packets"]), str(x["keyframe"]),
                x["type"]] for x in doc["frames"]] == fields, f"--frames --json of {path}")
    some = next(iter(media.values()))
    for args in (["--frames", some, some], ["--frames", "--csv", some], ["--gops", "--stats", some],
                 ["--frames", "--gops", some], ["--frames", "--streams", some]):
        code, out, err = run(rmrate, *args)
        check(code == 2 and out == "" and "usage:" in err, f"usage error for {args}: {code} {err!r}")


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


def whole_file_windows(timeline):
    """The whole file's windows: the window rule over every stream's packets in
    time order (a stable sort keeps the file's order within a timestamp), as
    the streams may lie in DATA chunks of their own."""
    return windows_of(sorted(timeline, key=lambda packet: packet[0]))[1]


def check_every_stream(rmrate, media):
    """--stream N for every stream of every sample and --stream all: the
    windows worked out from the packet list; --stats lists each stream's
    number and 1-second maximum, and the whole file's."""
    for stem, path in media.items():
        packets = packets_of(stem)
        numbers = [int(row[0]) for row in table(stem + ".streams.txt")]
        code, out, _ = run(rmrate, "--stats", "--json", path)
        stats = json.loads(out)
        check([s["number"] for s in stats["streams"]] == numbers, f"stream numbers of {path}")
        for index, number in enumerate(numbers):
            result, windows = windows_of([(t, n) for s, t, n, _ in packets if s == number])
            code, out, _ = run(rmrate, "--json", "--stream", str(number), path)
            doc = json.loads(out)
            check(doc["windows"] == windows and doc["stream_index"] == index and doc["stream"] == number,
                  f"--stream {number} of {path}")
            check(doc["result"] == result, f"--stream {number} result of {path}: {doc['result']}")
            own = stats["streams"][index]["max_1s_kbps"]
            check(own == (max(k for _, k in windows) if windows else None), f"1-second maximum of {number} in {path}")
        whole = whole_file_windows([(t, n) for _, t, n, _ in packets])
        code, out, _ = run(rmrate, "--json", "--stream", "all", path)
        doc = json.loads(out)
        check(doc["windows"] == whole and doc["stream_index"] is None and doc["stream"] == "all",
              f"--stream all of {path}")
        # The whole file's windows cost memory: only --stream all measures them.
        code, out, _ = run(rmrate, "--stats", "--json", "--stream", "all", path)
        check(stats["file_max_1s_kbps"] is None and
              json.loads(out)["file_max_1s_kbps"] == (max(k for _, k in whole) if whole else None),
              f"the whole file's 1-second maximum of {path}")
        code, out, _ = run(rmrate, "--stream", str(max(numbers) + 1), path)
        check(code == 1 and out == f"{path}: The file has no stream {max(numbers) + 1}.\n",
              f"no such stream in {path}: {out!r}")
    for bad in ("-1", "65536", "x", ""):
        code, out, err = run(rmrate, "--stream", bad, path)
        check(code == 2 and "usage:" in err, f"--stream {bad!r} is a usage error")


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
        check(doc["empty_chart"] is None, f"no empty chart for {path}")
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
    check(csv_windows(out) == ["start_ms,kbps"] + [f"{s},{k}" for s, k in windows], f"CSV rows of {path}")

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
        check_empty_charts(rmrate, tmp)
        check_frame_lists(rmrate, media, tmp)
        check_big_stream_headers(rmrate, tmp)
        check_full_series(rmrate, tmp)
        check_stats(rmrate, media, tmp)
        check_paths_as_given(rmrate, media, tmp)
    check_every_stream(rmrate, media)

    for args in ([], ["--bogus", ok_files[0]], ["--csv", ok_files[0], ok_files[0]], ["--csv", "--json", ok_files[0]]):
        code, out, err = run(rmrate, *args)
        check(code == 2 and out == "" and "usage:" in err, f"usage error for {args}")
    code, out, _ = run(rmrate, "--help")
    check(code == 0 and "usage:" in out, "--help")

    print(f"{len(media)} samples checked, {len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Compares rmrate's frame list with ffprobe's view of the same files.

usage: frames_check.py [--runner COMMAND] RMRATE FILE...

Runs `RMRATE --frames FILE` (CSV: offset,timestamp_ms,bytes,packets,keyframe,type,
a header row first) and `ffprobe -show_packets -show_frames` on the file's first
video stream, and checks, frame by frame:
  - the same number of frames as ffprobe has packets (it lists one per frame);
  - bytes + 1 + 8 x packets = ffprobe's packet size (ffprobe puts a table of
    1 + 8 bytes per packet in front of the frame);
  - the keyframe flag = ffprobe's K flag;
  - the type = pict_type of ffprobe's decoded frame with the packet's pts. The
    timestamps in the file are in decode order (a B-frame's is its reference
    frame's + 1 ms), so frames are joined on ffprobe's pts, never on timestamps.
    '?' agrees only with a packet ffprobe decoded no frame of.

COMMAND (split like a shell's words) runs RMRATE, e.g. Wine's wrapper for the
Windows build's rmrate.exe. Exit status 0 when everything agrees, 1 with a list
of the differences otherwise, 2 for a usage error.
"""
import csv
import io
import json
import shlex
import subprocess
import sys

HEADER = ["offset", "timestamp_ms", "bytes", "packets", "keyframe", "type"]
SHOWN = 20  # differences listed per file; the rest are counted


def our_frames(runner, rmrate, path):
    """The rows rmrate writes, as dicts of ints (type a letter), or a text saying what went wrong."""
    try:
        run = subprocess.run([*runner, rmrate, "--frames", path], capture_output=True, timeout=600)
    except (OSError, subprocess.SubprocessError) as e:
        return f"cannot run {rmrate}: {e}"
    # A Windows console program writes CR LF.
    text = run.stdout.decode("ascii", "replace").replace("\r\n", "\n")
    if run.returncode != 0:
        err = run.stderr.decode("ascii", "replace").strip()
        return f"{rmrate} --frames exited {run.returncode}: {err}"
    rows = list(csv.reader(io.StringIO(text)))
    if not rows or rows[0] != HEADER:
        return f"{rmrate} --frames: the first row is {rows[0] if rows else 'missing'}, not {','.join(HEADER)}"
    frames = []
    for number, row in enumerate(rows[1:], 2):
        try:
            if len(row) != len(HEADER) or row[5] not in ("I", "P", "B", "?") or row[4] not in ("0", "1"):
                raise ValueError
            frames.append({**{k: int(v) for k, v in zip(HEADER[:5], row)}, "type": row[5]})
        except ValueError:
            return f"{rmrate} --frames: row {number} is not a frame: {','.join(row)}"
    return frames


def ffprobe_view(path):
    """(packets, frames) of the first video stream in ffprobe's order, or a text saying what went wrong."""
    command = ["ffprobe", "-v", "error", "-threads", "1", "-select_streams", "v:0", "-show_packets",
               "-show_frames", "-show_entries", "packet=pts,size,flags:frame=pts,pkt_size,pict_type",
               "-of", "json", path]
    try:
        run = subprocess.run(command, capture_output=True, check=True, timeout=600)
        view = json.loads(run.stdout)
    except (OSError, subprocess.SubprocessError, ValueError) as e:
        return f"ffprobe failed: {e}"
    # One list of both, tagged, when both are asked for; two lists in other versions.
    mixed = view.get("packets_and_frames", [])
    packets = view.get("packets", []) + [e for e in mixed if e.get("type") == "packet"]
    frames = view.get("frames", []) + [e for e in mixed if e.get("type") == "frame"]
    return packets, frames


def differences(ours, packets, decoded):
    found = []
    if len(ours) != len(packets):
        found.append(f"{len(ours)} frames, ffprobe {len(packets)} packets")
    by_pts = {}
    for f in decoded:
        by_pts.setdefault(f.get("pts"), []).append(f)
    for i, (a, p) in enumerate(zip(ours, packets)):
        where = f"frame {i} at offset {a['offset']} ({a['timestamp_ms']} ms)"
        size = a["bytes"] + 1 + 8 * a["packets"]
        if size != int(p["size"]):
            found.append(f"{where}: {a['bytes']} + 1 + 8 x {a['packets']} = {size} bytes, ffprobe {p['size']}")
        key = 1 if "K" in p.get("flags", "") else 0
        if a["keyframe"] != key:
            found.append(f"{where}: keyframe {a['keyframe']}, ffprobe {key}")
        # Two packets may share a pts: the decoded frame of this one has its size too.
        same = [f for f in by_pts.get(p.get("pts"), []) if f.get("pkt_size", p["size"]) == p["size"]]
        want = "?" if not same else same[0].get("pict_type", "?") if len(same) == 1 else "one of several"
        if a["type"] != want:
            found.append(f"{where}: type {a['type']}, ffprobe {want} (pts {p.get('pts')})")
        if size != int(p["size"]) and len(ours) != len(packets):
            # Perhaps a frame missing or extra here: every later pair would differ too.
            found.append(f"frames after {i} not compared, as the lists differ in length")
            break
    return found


def check(runner, rmrate, path):
    ours = our_frames(runner, rmrate, path)
    view = ffprobe_view(path)
    if isinstance(ours, str) or isinstance(view, str):
        print(f"{path}: cannot compare: {ours if isinstance(ours, str) else view}")
        return False
    found = differences(ours, *view)
    if not found:
        types = " ".join(f"{t} {sum(1 for f in ours if f['type'] == t)}" for t in "IPB?")
        print(f"{path}: {len(ours)} frames agree with ffprobe ({types})")
        return True
    print(f"{path}: {len(found)} difference(s) from ffprobe:")
    for line in found[:SHOWN]:
        print("  " + line)
    if len(found) > SHOWN:
        print(f"  ... and {len(found) - SHOWN} more")
    return False


def main(args):
    runner = []
    if args[:1] == ["--runner"] and len(args) > 1:
        runner, args = shlex.split(args[1]), args[2:]
    if len(args) < 2 or args[0].startswith("-"):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    results = [check(runner, args[0], path) for path in args[1:]]
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

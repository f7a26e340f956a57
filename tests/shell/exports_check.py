#!/usr/bin/env python3
"""Checks the files KOV's exports wrote in the shell tests (file_exports_test),
from outside KOV:

    exports_check.py EXPORTS_DIR RMRATE_EXE SAMPLE WINEPREFIX

- chart.png, decoded by PIL, holds exactly the pixels of chart_back_buffer.ppm,
  the back buffer as the test read it, and names demo.rm as its title, as
  chart_named.png names a file whose name is not ASCII;
- demo.csv and demo.frames.csv, exported for SAMPLE, hold exactly the bytes
  rmrate.exe --csv and --frames write for the same file.
Exit status 0 when all hold.
"""
import os
import subprocess
import sys

from PIL import Image


def check_titles(exports):
    """Each picture names the measured file in its text, as PIL reads it."""
    problems = []
    for name, title in (("chart.png", "demo.rm"), ("chart_named.png", "\u6f14\u793a \u0434\u0435\u043c\u043e.rm")):
        picture = Image.open(os.path.join(exports, name))
        picture.load()
        if picture.text.get("Title") != title:
            problems.append("%s: its title is %r, not %r" % (name, picture.text.get("Title"), title))
    return problems


def check_picture(exports):
    picture = Image.open(os.path.join(exports, "chart.png"))
    if picture.format != "PNG":
        return ["chart.png is %s, not PNG" % picture.format]
    picture = picture.convert("RGB")
    back_buffer = Image.open(os.path.join(exports, "chart_back_buffer.ppm")).convert("RGB")
    if picture.size != back_buffer.size:
        return ["chart.png is %r, the back buffer %r" % (picture.size, back_buffer.size)]
    if picture.tobytes() == back_buffer.tobytes():
        return []
    width = picture.size[0]
    a, b = picture.tobytes(), back_buffer.tobytes()
    first = next(i for i in range(0, len(a), 3) if a[i:i + 3] != b[i:i + 3]) // 3
    x, y = first % width, first // width
    return ["chart.png differs from the back buffer, first at (%d, %d): %r instead of %r"
            % (x, y, picture.getpixel((x, y)), back_buffer.getpixel((x, y)))]


def check_rows(exports, rmrate, sample, prefix, option, name):
    runner = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir, "cmake", "wine-run.sh")
    windows_sample = "Z:" + os.path.abspath(sample).replace("/", "\\")
    result = subprocess.run([runner, "--prefix=" + prefix, rmrate, option, windows_sample],
                            capture_output=True, timeout=240)
    if result.returncode != 0:
        return ["rmrate.exe %s ended with %d: %s" % (option, result.returncode,
                                                    result.stderr.decode(errors="replace"))]
    with open(os.path.join(exports, name), "rb") as f:
        exported = f.read()
    if exported != result.stdout:
        return ["%s (%d bytes) is not what rmrate.exe %s wrote (%d bytes): %r... against %r..."
                % (name, len(exported), option, len(result.stdout), exported[:60], result.stdout[:60])]
    return []


def main():
    exports, rmrate, sample, prefix = sys.argv[1:]
    problems = (check_picture(exports) + check_titles(exports) + check_rows(exports, rmrate, sample, prefix, "--csv", "demo.csv") +
                check_rows(exports, rmrate, sample, prefix, "--frames", "demo.frames.csv"))
    for problem in problems:
        print("exports_check: " + problem, file=sys.stderr)
    if not problems:
        print("exports_check: chart.png holds the back buffer's pixels and its file's name; demo.csv and "
              "demo.frames.csv are rmrate.exe's output")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())

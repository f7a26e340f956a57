#!/usr/bin/env python3
"""End to end under Wine: KOV.EXE and rmrate.exe with the names and command
lines users have.

- Files whose names hold Chinese, Cyrillic, emoji and blanks, in folders
  with long Chinese names, so that each path takes about 590 bytes in UTF-8
  (KOV's code page) while staying within the 260 UTF-16 units Windows allows:
  rmrate.exe reads them, and KOV.EXE opens them through its command line, a
  drop (the X drag-and-drop a file manager does) and the Open dialog; each
  chart must be the one of the windows rmrate.exe measures for a copy with
  an ASCII name.
- Command lines as Windows hands them over: a program path written with
  forward slashes, with and without a file, an argument quoted whole
  around a path with blanks ("/D:\\my clips\\a.rm"), and paths without a
  '/' as "Open with" passes them: unquoted, quoted, with blanks, non-ASCII.
- After each chart the title bar names its file.

    names_and_command_lines.py KOV.EXE RMRATE.EXE KOV_REMOTE.EXE SAMPLES WINEPREFIX WORKDIR

Needs DISPLAY (scripts/test.sh provides its own Xvfb) and python3 with PIL.
"""
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kov_screen  # noqa: E402

TITLE = "KOV - Quorrel v1.0 for Pelsk special version"
# Three samples with three different charts, so each way of opening shows
# that it opened its own file.
SAMPLES = [
    ("demo.rm", "演示 демо 😀.rm"),
    ("rv20_vbr_long.rm", "长 длинный 🎬.rm"),
    ("rv20_video.rmvb", "视频 видео 🙂.rmvb"),
]
# Three folders of 60 Chinese characters: 180 bytes each in UTF-8, within the
# 255 a Linux file name may take.
FOLDERS = ["文件夹" * 20, "长路径" * 20, "中文名" * 20]


class Failed(Exception):
    pass


def windows_path(unix_path):
    # Drive Z: is the Unix root in every Wine prefix.
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def kov_window():
    return kov_screen.window_titled(TITLE)


def wait_window(seconds=90):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if kov_window():
            return
        time.sleep(0.3)
    raise Failed("KOV's window did not appear")


def expect_chart(windows, what, shot):
    problems = kov_screen.wait_for_chart(kov_window, kov_screen.expected_chart(windows), 90, shot)
    if problems:
        raise Failed("%s: the chart is not the one rmrate measured (%s); screen in %s"
                     % (what, "; ".join(problems), shot))
    print("names_and_command_lines: %s: chart checked" % what)


def expect_title(path, what):
    """The title bar names the charted file before KOV's own title."""
    found = kov_window()
    title = kov_screen.window_title(found[0]) if found else None
    expected = "%s - %s" % (os.path.basename(path), TITLE)
    if title != expected:
        raise Failed("%s: the title is %r, not %r" % (what, title, expected))


def close_kov(process, what):
    found = kov_window()
    if not found or not kov_screen.close_window(found[0]):
        raise Failed("%s: could not ask KOV to close" % what)
    try:
        status = process.wait(timeout=30)
    except subprocess.TimeoutExpired:
        raise Failed("%s: KOV did not end within 30 s of being closed" % what)
    if status != 0:
        raise Failed("%s: KOV ended with exit code %d" % (what, status))


def kill_leftover_kov():
    """Ends a KOV that a failed check left running (found by its window, since
    kov_remote starts it), without touching other processes of the prefix."""
    found = kov_window()
    if not found:
        return
    pid = subprocess.run(["xdotool", "getwindowpid", str(found[0])], capture_output=True, text=True).stdout
    if pid.strip().isdigit():
        os.kill(int(pid), signal.SIGKILL)


def check_rmrate(rmrate, ascii_paths, named_paths):
    """rmrate.exe reads the named copies as it reads the ASCII ones; returns
    the windows of each sample."""
    paths = [windows_path(p) for p in ascii_paths + named_paths]
    run = subprocess.run(["wine", rmrate, "--json"] + paths, capture_output=True, timeout=180)
    lines = run.stdout.decode("ascii").splitlines()
    if run.returncode != 0 or len(lines) != len(paths):
        raise Failed("rmrate.exe --json: exit code %d, %d lines for %d files: %s"
                     % (run.returncode, len(lines), len(paths), run.stderr.decode(errors="replace")))
    reports = [json.loads(line) for line in lines]
    for path, report in zip(paths, reports):
        # The name arrived whole: its JSON string decodes to the very path.
        if report["file"] != path or report["result"] != "ANALYSIS_OK" or not report["windows"]:
            raise Failed("rmrate.exe on %s: %s" % (path, json.dumps(report)[:300]))
    count = len(ascii_paths)
    for ascii_report, named_report in zip(reports[:count], reports[count:]):
        if named_report["windows"] != ascii_report["windows"]:
            raise Failed("rmrate.exe measured %s unlike its ASCII copy" % named_report["file"])
    print("names_and_command_lines: rmrate.exe read every name")
    return [[tuple(w) for w in report["windows"]] for report in reports[:count]]


def check_names(kov, remote, ascii_paths, named_paths, windows, work):
    # Started as a user starts it from a shell, with '/' and the path.
    process = subprocess.Popen(["wine", kov, "/" + windows_path(named_paths[0])])
    try:
        expect_chart(windows[0], "command line", os.path.join(work, "names_command_line.png"))
        expect_title(named_paths[0], "command line")

        found = kov_window()
        problem = kov_screen.drop_file(found[0], found[1], named_paths[1]) if found else "no window"
        if problem:
            raise Failed("drop: " + problem)
        expect_chart(windows[1], "drop", os.path.join(work, "names_drop.png"))
        expect_title(named_paths[1], "drop")

        status = subprocess.run(["wine", remote, "open", windows_path(named_paths[2])], timeout=120).returncode
        if status != 0:
            raise Failed("the Open dialog could not be worked (kov_remote exit code %d)" % status)
        expect_chart(windows[2], "Open dialog", os.path.join(work, "names_open_dialog.png"))
        expect_title(named_paths[2], "Open dialog")
        close_kov(process, "names")
    finally:
        if process.poll() is None:
            process.kill()


def start_with_command_line(remote, command_line):
    return subprocess.Popen(["wine", remote, "start", command_line])


def check_command_lines(kov, remote, ascii_paths, named_paths, blanks_path, windows, work):
    program_forward = os.path.abspath(kov)
    if not program_forward.startswith("/"):
        raise Failed("no absolute path for " + kov)
    program_forward = "Z:" + program_forward  # Z:/.../KOV.EXE, forward slashes
    program = windows_path(kov)

    # A forward-slash program path and no file: KOV starts on nothing (no
    # chart, no message box), as with any program path.
    what = "Z:/.../KOV.EXE"
    process = start_with_command_line(remote, program_forward)
    try:
        wait_window()
        time.sleep(3)  # a run started by mistake would have put up its box by now
        titles = kov_screen.visible_titles()
        if titles != [TITLE]:
            raise Failed("%s: windows on the screen: %r" % (what, titles))
        found = kov_window()
        if kov_screen.locate_plot(kov_screen.screenshot(), found[1]):
            raise Failed("%s: a chart was drawn" % what)
        print("names_and_command_lines: %s: no file, no run" % what)
        close_kov(process, what)
    finally:
        if process.poll() is None:
            process.kill()

    # With a '/', and without one as Explorer's "Open with", a drop on the
    # program's icon or a shortcut passes the path: quoted or not, with
    # blanks, in any script.
    cases = [
        ("Z:/.../KOV.EXE /path", program_forward + " /" + windows_path(ascii_paths[0]), 0, ascii_paths[0]),
        ('"...\\KOV.EXE" "/path with blanks"', '"%s" "/%s"' % (program, windows_path(blanks_path)), 0, blanks_path),
        ('"...\\KOV.EXE" path', '"%s" %s' % (program, windows_path(ascii_paths[1])), 1, ascii_paths[1]),
        ('"...\\KOV.EXE" "path with blanks"', '"%s" "%s"' % (program, windows_path(blanks_path)), 0, blanks_path),
        ('"...\\KOV.EXE" path with blanks', '"%s" %s' % (program, windows_path(blanks_path)), 0, blanks_path),
        ('"...\\KOV.EXE" "non-ASCII path"', '"%s" "%s"' % (program, windows_path(named_paths[2])), 2,
         named_paths[2]),
    ]
    for what, command_line, sample, path in cases:
        process = start_with_command_line(remote, command_line)
        try:
            expect_chart(windows[sample], what, os.path.join(work, "command_line.png"))
            expect_title(path, what)
            close_kov(process, what)
        finally:
            if process.poll() is None:
                process.kill()


def main():
    if len(sys.argv) != 7:
        print(__doc__, file=sys.stderr)
        return 2
    kov, rmrate, remote, samples, prefix, work = sys.argv[1:]
    if not os.environ.get("DISPLAY"):
        print("names_and_command_lines: no DISPLAY: run it through scripts/test.sh", file=sys.stderr)
        return 1
    here = os.path.dirname(os.path.abspath(__file__))
    root = os.path.dirname(os.path.dirname(here))
    subprocess.run([os.path.join(root, "cmake", "wine-run.sh"), "--prefix=" + prefix, "--init"], check=True)
    os.environ["WINEPREFIX"] = prefix
    os.environ.setdefault("WINEDEBUG", "-all")

    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(os.path.join(work, "ascii"))
    # The long names live in a short temporary folder, so that the path stays
    # within Windows' 260 units wherever the build tree is.
    names_root = tempfile.mkdtemp(prefix="kov-")
    named_folder = os.path.join(names_root, *FOLDERS)
    os.makedirs(named_folder)
    ascii_paths, named_paths = [], []
    for sample, name in SAMPLES:
        ascii_paths.append(os.path.join(work, "ascii", sample))
        named_paths.append(os.path.join(named_folder, name))
        shutil.copyfile(os.path.join(samples, sample), ascii_paths[-1])
        shutil.copyfile(os.path.join(samples, sample), named_paths[-1])
    for path in named_paths:
        utf16_units = len(windows_path(path).encode("utf-16-le")) // 2
        if utf16_units >= 260 or len(windows_path(path).encode()) <= 500:
            print("names_and_command_lines: %s takes %d units, %d bytes: not the path meant"
                  % (path, utf16_units, len(windows_path(path).encode())), file=sys.stderr)
            return 1
    blanks_path = os.path.join(work, "my clips", "path with blanks.rm")
    os.makedirs(os.path.dirname(blanks_path))
    shutil.copyfile(os.path.join(samples, SAMPLES[0][0]), blanks_path)

    try:
        windows = check_rmrate(rmrate, ascii_paths, named_paths)
        check_names(kov, remote, ascii_paths, named_paths, windows, work)
        check_command_lines(kov, remote, ascii_paths, named_paths, blanks_path, windows, work)
    except (Failed, subprocess.TimeoutExpired) as failure:
        print("names_and_command_lines: %s" % failure, file=sys.stderr)
        kill_leftover_kov()
        return 1
    finally:
        shutil.rmtree(names_root, ignore_errors=True)
    print("names_and_command_lines: every name and command line opened its file")
    return 0


if __name__ == "__main__":
    sys.exit(main())

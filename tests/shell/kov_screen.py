#!/usr/bin/env python3
"""KOV's window on an X display, seen from outside: screenshots, a check of the
chart drawn on them, closing the window the way a window manager would, and
dropping a file on it the way a file manager would.

    kov_screen.py wait-chart (--pid PID | --title TITLE) [--packets LIST | --windows CSV]
                  [--out PNG] [--timeout S]
        Waits until KOV's main window (of the Wine process PID, or the window
        with that title) shows a chart, saves a screenshot of that window to
        PNG and prints its path. With --packets (a sample's packet list from
        samples/) or --windows (rmrate --csv output), the chart must be the one
        of those windows, checked pixel by pixel at the positions computed from
        them. Exit status 0 when it is, 1 when not in time.
    kov_screen.py close (--pid PID | --title TITLE)
        Asks the window to close (WM_DELETE_WINDOW, as a title bar's close box).
    kov_screen.py drop (--pid PID | --title TITLE) --file PATH
        Drops the file (a Unix path) on the middle of the window through the X
        drag-and-drop protocol (XDND), as a file manager's drag does.

Needs python3 with PIL, xwd, xwininfo and xdotool; DISPLAY must be set.
"""
import argparse
import ctypes
import ctypes.util
import os
import re
import struct
import subprocess
import sys
import time
import urllib.parse

from PIL import Image

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "analysis"))
import sample_windows  # noqa: E402

BACKGROUND = (74, 74, 74)
GRID = (85, 85, 85)
WHITE = (255, 255, 255)
RED = (255, 0, 0)
YELLOW = (255, 255, 0)

PLOT_LEFT = 110
PLOT_TOP = 50
RIGHT_MARGIN = 94
BOTTOM_MARGIN = 68
GRID_ROW_STEP = 27


# ---------------------------------------------------------------- the display

def largest_window(search, smallest=0):
    """(window, geometry) of the largest viewable X window that xdotool's
    search finds and that is wider and taller than smallest, or None."""
    try:
        out = subprocess.run(["xdotool", "search", "--onlyvisible", *search],
                             capture_output=True, text=True, timeout=10).stdout
    except subprocess.TimeoutExpired:
        return None
    best = None
    for line in out.split():
        geometry = window_geometry(int(line))
        if geometry and geometry[2] > smallest and geometry[3] > smallest:
            if best is None or geometry[2] * geometry[3] > best[1][2] * best[1][3]:
                best = (int(line), geometry)
    return best


def main_window_of(pid):
    """The main window of the Wine process: its largest, of more than 100 x 100 pixels."""
    return largest_window(["--pid", str(pid)], smallest=100)


def extended_regex_escape(text):
    """`text` as a POSIX extended regular expression (xdotool's) matching it alone."""
    return "".join("\\" + c if c in ".[]()*+?{}|^$\\" else c for c in text)


def window_titled(title):
    """The largest viewable X window with this title, alone or after the
    charted file's name and " - ", as KOV's title bar names the file."""
    return largest_window(["--name", "^(.+ - )?%s$" % extended_regex_escape(title)])


def window_title(window):
    """The X window's title (its UTF-8 _NET_WM_NAME) as text."""
    out = subprocess.run(["xprop", "-id", str(window), "-notype", "_NET_WM_NAME"], capture_output=True, timeout=10,
                         env=dict(os.environ, LC_ALL="C.UTF-8")).stdout.decode("utf-8", "replace").strip()
    _, _, value = out.partition(" = ")
    if not (value.startswith('"') and value.endswith('"')):
        return None
    return re.sub(r'\\(.)', r'\1', value[1:-1])


def visible_titles():
    """The titles of every viewable, named X window on the display."""
    out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "."],
                         capture_output=True, text=True, timeout=10).stdout
    titles = []
    for line in out.split():
        if window_geometry(int(line)):
            name = subprocess.run(["xdotool", "getwindowname", line], capture_output=True, text=True).stdout
            titles.append(name.rstrip("\n"))
    return titles


def window_geometry(window):
    """(x, y, width, height) on the screen, or None when not viewable."""
    out = subprocess.run(["xwininfo", "-id", str(window)], capture_output=True, text=True).stdout
    fields = {}
    for line in out.splitlines():
        if ":" in line:
            key, _, value = line.strip().partition(":")
            fields[key.strip()] = value.strip()
    if fields.get("Map State") != "IsViewable":
        return None
    try:
        return (int(fields["Absolute upper-left X"]), int(fields["Absolute upper-left Y"]),
                int(fields["Width"]), int(fields["Height"]))
    except (KeyError, ValueError):
        return None


def screenshot():
    """The whole screen as an RGB image (xwd's ZPixmap, read by hand)."""
    data = subprocess.run(["xwd", "-root", "-silent"], capture_output=True, check=True).stdout
    header = struct.unpack(">25I", data[:100])
    header_size, width, height = header[0], header[4], header[5]
    byte_order, bits_per_pixel, bytes_per_line, colours = header[7], header[11], header[12], header[19]
    offset = header_size + 12 * colours
    pixels = data[offset:offset + bytes_per_line * height]
    if bits_per_pixel == 24:
        raw = "BGR" if byte_order == 0 else "RGB"
    elif bits_per_pixel == 32:
        raw = "BGRX" if byte_order == 0 else "XRGB"
    else:
        raise RuntimeError("unexpected screen format: %d bits per pixel" % bits_per_pixel)
    return Image.frombytes("RGB", (width, height), pixels, "raw", raw, bytes_per_line)


class _ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("data", ctypes.c_long * 5)]


class _SelectionRequest(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("owner", ctypes.c_ulong), ("requestor", ctypes.c_ulong),
                ("selection", ctypes.c_ulong), ("target", ctypes.c_ulong), ("property", ctypes.c_ulong),
                ("time", ctypes.c_ulong)]


class _SelectionNotify(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("requestor", ctypes.c_ulong), ("selection", ctypes.c_ulong),
                ("target", ctypes.c_ulong), ("property", ctypes.c_ulong), ("time", ctypes.c_ulong)]


class _Event(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("xclient", _ClientMessage), ("xselectionrequest", _SelectionRequest),
                ("xselection", _SelectionNotify), ("pad", ctypes.c_long * 24)]


CLIENT_MESSAGE = 33
SELECTION_REQUEST = 30
SELECTION_NOTIFY = 31


def _xlib():
    x11 = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11") or "libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XDefaultRootWindow.restype = ctypes.c_ulong
    x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x11.XCreateSimpleWindow.restype = ctypes.c_ulong
    x11.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                        ctypes.c_uint, ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong,
                                        ctypes.c_ulong]
    x11.XDestroyWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    x11.XSetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong]
    x11.XChangeProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong,
                                    ctypes.c_int, ctypes.c_int, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.POINTER(_Event)]
    x11.XPending.argtypes = [ctypes.c_void_p]
    x11.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.POINTER(_Event)]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = x11.XOpenDisplay(None)
    if not display:
        raise RuntimeError("cannot open the X display")
    return x11, display


def _send_client_message(x11, display, window, kind, data):
    event = _Event()
    event.xclient.type = CLIENT_MESSAGE
    event.xclient.window = window
    event.xclient.message_type = x11.XInternAtom(display, kind, 0)
    event.xclient.format = 32
    for i, value in enumerate(data):
        event.xclient.data[i] = value
    sent = x11.XSendEvent(display, window, 0, 0, ctypes.byref(event))
    x11.XFlush(display)
    return sent != 0


def close_window(window):
    """Sends WM_PROTOCOLS / WM_DELETE_WINDOW, which Wine turns into SC_CLOSE."""
    x11, display = _xlib()
    sent = _send_client_message(x11, display, window, b"WM_PROTOCOLS",
                                [x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)])
    x11.XCloseDisplay(display)
    return sent


def drop_file(window, geometry, path, timeout=30):
    """Drags the file onto the middle of the window and drops it there, as the
    source of an XDND exchange (protocol version 5): enter with the one type
    text/uri-list, a position, and on the target's acceptance the drop; the
    target asks for the URI list through the XdndSelection meanwhile. Returns
    None when the target took the drop, else what went wrong."""
    x11, display = _xlib()

    def atom(name):
        return x11.XInternAtom(display, name.encode(), 0)

    source = x11.XCreateSimpleWindow(display, x11.XDefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0)
    uri_list = atom("text/uri-list")
    data = ("file://" + urllib.parse.quote(os.path.abspath(path)) + "\r\n").encode()
    x11.XSetSelectionOwner(display, atom("XdndSelection"), source, 0)
    x, y = geometry[0] + geometry[2] // 2, geometry[1] + geometry[3] // 2
    _send_client_message(x11, display, window, b"XdndEnter", [source, 5 << 24, uri_list, 0, 0])
    _send_client_message(x11, display, window, b"XdndPosition",
                         [source, 0, (x << 16) | y, 0, atom("XdndActionCopy")])
    problem = "the window did not answer the drag"
    dropped = False
    deadline = time.time() + timeout
    while time.time() < deadline:
        if not x11.XPending(display):
            time.sleep(0.01)
            continue
        event = _Event()
        x11.XNextEvent(display, ctypes.byref(event))
        if event.type == SELECTION_REQUEST:
            request = event.xselectionrequest
            reply = _Event()
            reply.xselection.type = SELECTION_NOTIFY
            reply.xselection.requestor = request.requestor
            reply.xselection.selection = request.selection
            reply.xselection.target = request.target
            reply.xselection.time = request.time
            reply.xselection.property = 0  # refused, unless it is the URI list
            if request.target == uri_list:
                x11.XChangeProperty(display, request.requestor, request.property, uri_list, 8, 0, data, len(data))
                reply.xselection.property = request.property
            x11.XSendEvent(display, request.requestor, 0, 0, ctypes.byref(reply))
            x11.XFlush(display)
        elif event.type == CLIENT_MESSAGE and event.xclient.message_type == atom("XdndStatus"):
            if not event.xclient.data[1] & 1:
                problem = "the window refused the drop"
                break
            if not dropped:
                _send_client_message(x11, display, window, b"XdndDrop", [source, 0, 0, 0, 0])
                dropped = True
                problem = None
                # The drop is posted to the window before the target says it
                # has finished; a short wait for that is enough.
                deadline = min(deadline, time.time() + 5)
        elif event.type == CLIENT_MESSAGE and event.xclient.message_type == atom("XdndFinished"):
            break
    x11.XDestroyWindow(display, source)
    x11.XCloseDisplay(display)
    return problem


# ---------------------------------------------------------------- what the chart must show

def expected_series(packets_path):
    """The windows a run stores for the sample whose packet list this is (the
    .streams.txt beside it names its streams); one empty window when none."""
    stem = packets_path[: -len(".packets.txt")]
    if sample_windows.video_stream(stem) is None:
        raise RuntimeError("no RealVideo stream in %s.streams.txt" % stem)
    return sample_windows.expected_windows(stem)[1] or [(0, 0)]


def read_windows_csv(csv_path):
    """The windows of rmrate --csv output: (start_ms, kbps) per row."""
    windows = []
    with open(csv_path) as f:
        for line in f:
            fields = line.strip().split(",")
            if len(fields) == 2 and fields[0].isdigit():
                windows.append((int(fields[0]), int(fields[1])))
    return windows or [(0, 0)]


def expected_chart(windows):
    kbps = [k for _, k in windows]
    n = len(kbps)
    maximum = max(kbps)
    average = sum(kbps) // n
    if n <= 512:
        points = [float(k) for k in kbps for _ in (0, 1)]
    else:
        last = max(s for s, _ in windows)
        points, bucket = [0.0] * 1024, 0
        for start, k in windows:
            b = start * 1024 // (last + 1)
            for i in range(bucket, b + 1):
                points[i] = max(points[i], float(k))
            bucket = b
        points = points[:bucket + 1]
    return {"max": maximum, "average": average, "last_start": windows[-1][0], "points": points}


def row_of(value, top, plot_height, value_range):
    # The chart's own mapping with scale 1 and offset 0, truncated toward zero.
    return int(plot_height * (top - value) / value_range + PLOT_TOP)


# ---------------------------------------------------------------- finding and checking the chart

def locate_plot(image, box):
    """Client origin and size from the axes: the value axis is the column with
    the most white pixels that have the chart's grey to their right (which
    leaves out a white window frame); its longest white run goes from the
    plot's top edge down to the time axis."""
    left, top, width, height = box
    pixels = image.load()
    columns = {}
    for x in range(left, left + width - 1):
        columns[x] = sum(1 for y in range(top, top + height)
                         if pixels[x, y] == WHITE and pixels[x + 1, y] in (BACKGROUND, GRID))
    axis_x = max(columns, key=columns.get)
    if columns[axis_x] < 100:
        return None
    # The average line and a curve point may cover a pixel of the axis.
    best, run_start = (0, 0), None
    for y in range(top, top + height + 1):
        inside = y < top + height and pixels[axis_x, y] in (WHITE, YELLOW, RED)
        if inside and run_start is None:
            run_start = y
        elif not inside and run_start is not None:
            if y - run_start > best[1] - best[0]:
                best = (run_start, y)
            run_start = None
    # The first time tick continues the value axis 5 pixels below the time
    # axis; the time axis is the lowest row of the run that goes on to the right.
    plot_top, axis_y = best[0], best[1] - 1
    while axis_y > plot_top and not all(pixels[axis_x + d, axis_y] == WHITE for d in (1, 2, 3)):
        axis_y -= 1
    if axis_y - plot_top < 40:
        return None
    # Along the time axis to its right end.
    x = axis_x
    while x + 1 < left + width and pixels[x + 1, axis_y] in (WHITE, YELLOW):
        x += 1
    origin_x = axis_x - PLOT_LEFT
    origin_y = plot_top - PLOT_TOP
    client_width = x + 1 - origin_x + RIGHT_MARGIN
    client_height = axis_y - origin_y + BOTTOM_MARGIN
    return origin_x, origin_y, client_width, client_height


def check_chart(image, box, chart):
    """Problems found comparing the screen with the expected chart; empty when it matches."""
    located = locate_plot(image, box)
    if not located:
        return ["no chart axes on the screen"]
    ox, oy, w, h = located
    pixels = image.load()
    problems = []

    def at(x, y):
        return pixels[ox + x, oy + y]

    plot_right, plot_bottom = w - RIGHT_MARGIN, h - BOTTOM_MARGIN
    plot_width, plot_height = w - 204, h - 118
    if plot_width < 70 or plot_height < 40:
        problems.append("plot area of %d x %d pixels is too small to check" % (plot_width, plot_height))
        return problems
    if not (0 <= ox - box[0] < 20 and 0 <= oy - box[1] < 80 and w <= box[2] and h <= box[3]):
        problems.append("client area %r does not fit the window %r" % ((ox, oy, w, h), box))
        return problems

    # Background where nothing is drawn: the right margin.
    for y in (PLOT_TOP + 10, plot_bottom // 2, plot_bottom - 30):
        if at(w - 20, y) != BACKGROUND:
            problems.append("background expected at (%d, %d), found %r" % (w - 20, y, at(w - 20, y)))

    # Grid rows every 27 pixels from the top (a 2-pixel pen): mostly grid grey.
    for y in range(PLOT_TOP + GRID_ROW_STEP, plot_bottom, GRID_ROW_STEP):
        band = [at(x, yy) for x in range(PLOT_LEFT + 1, plot_right) for yy in (y - 1, y, y + 1)]
        if band.count(GRID) < (plot_right - PLOT_LEFT) // 2:
            problems.append("grid row at y = %d missing" % y)

    # The red average line, at the row the average maps to.
    top = float(chart["max"])
    if top > 0:
        y_avg = row_of(float(chart["average"]), top, plot_height, top)
        row = [at(x, y_avg) for x in range(PLOT_LEFT + 1, plot_right)]
        if row.count(RED) < 0.8 * len(row):
            problems.append("average line not at y = %d (%d of %d red)" % (y_avg, row.count(RED), len(row)))
        for other in (y_avg - 1, y_avg + 1):
            if [at(x, other) for x in range(PLOT_LEFT + 1, plot_right)].count(RED) > 0.2 * len(row):
                problems.append("red line also at y = %d" % other)

    # The Video curve: each point where a segment starts is yellow (the
    # tick marks drawn later may cover a point on the axes).
    points = chart["points"]
    value_range = top if top != 0 else 1.0
    count = len(points)
    missed = []
    for j in range(count - 1):
        x = PLOT_LEFT + (j * plot_width) // (count - 1)
        y = row_of(points[j], top, plot_height, value_range)
        if x == PLOT_LEFT or y >= plot_bottom:
            continue
        if at(x, y) != YELLOW:
            missed.append((x, y, at(x, y)))
    if missed:
        problems.append("%d of %d curve points not yellow, e.g. %r" % (len(missed), count - 1, missed[:3]))

    # The axes themselves.
    if at(PLOT_LEFT, plot_bottom - 1) != WHITE or at(plot_right - 1, plot_bottom) != WHITE:
        problems.append("axes not white")
    return problems


def wait_for_chart(find, chart, timeout, out=None):
    """Waits until the window that find() returns shows the chart (any chart
    when chart is None). Saves the window's picture to out, or the whole
    screen when it never does. Returns the problems seen last; empty when
    the chart showed."""
    deadline = time.time() + timeout
    last_problems = ["no window"]
    while time.time() < deadline:
        found = find()
        if found:
            window, box = found
            image = screenshot()
            if chart:
                last_problems = check_chart(image, box, chart)
            else:
                last_problems = [] if locate_plot(image, box) else ["no chart axes on the screen"]
                if not last_problems:
                    # The axes appear with the rest of the picture in one
                    # paint, but the red line tells the run has ended.
                    pixels = image.load()
                    if not any(pixels[x, y] == RED for y in range(box[1], box[1] + box[3])
                               for x in range(box[0] + 120, box[0] + 130)):
                        last_problems = ["no average line yet"]
            if not last_problems:
                if out:
                    image.crop((box[0], box[1], box[0] + box[2], box[1] + box[3])).save(out)
                return []
        time.sleep(0.5)
    if out:
        try:
            screenshot().save(out)
        except (OSError, subprocess.CalledProcessError, RuntimeError):
            pass
    return last_problems


def finder(args):
    if args.pid is not None:
        return lambda: main_window_of(args.pid)
    return lambda: window_titled(args.title)


def wait_chart(args):
    chart = None
    if args.packets:
        chart = expected_chart(expected_series(args.packets))
    elif args.windows:
        chart = expected_chart(read_windows_csv(args.windows))
    problems = wait_for_chart(finder(args), chart, args.timeout, args.out)
    if not problems:
        if args.out:
            print(os.path.abspath(args.out))
        return 0
    for problem in problems:
        print("kov_screen: " + problem, file=sys.stderr)
    if args.out:
        print("kov_screen: the screen as it was: " + os.path.abspath(args.out), file=sys.stderr)
    return 1


def close(args):
    found = finder(args)()
    if not found:
        print("kov_screen: no such window", file=sys.stderr)
        return 1
    return 0 if close_window(found[0]) else 1


def drop(args):
    found = finder(args)()
    if not found:
        print("kov_screen: no such window", file=sys.stderr)
        return 1
    problem = drop_file(found[0], found[1], args.file)
    if problem:
        print("kov_screen: " + problem, file=sys.stderr)
        return 1
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)

    def add_command(name):
        command = commands.add_parser(name)
        which = command.add_mutually_exclusive_group(required=True)
        which.add_argument("--pid", type=int)
        which.add_argument("--title")
        return command

    wait = add_command("wait-chart")
    expected = wait.add_mutually_exclusive_group()
    expected.add_argument("--packets")
    expected.add_argument("--windows")
    wait.add_argument("--out")
    wait.add_argument("--timeout", type=float, default=60)
    add_command("close")
    add_command("drop").add_argument("--file", required=True)
    args = parser.parse_args()
    return {"wait-chart": wait_chart, "close": close, "drop": drop}[args.command](args)


if __name__ == "__main__":
    sys.exit(main())

"""The windows KOV's analysis stores for a sample, worked out from the lists
beside it in samples/: its streams and its packets (the file's own packet
headers, checked against ffprobe when the samples were made). rmrate's check
and the checks of KOV's chart on the screen both judge against these."""

REALVIDEO = ("video/x-pn-realvideo", "video/x-pn-realvideo-encrypted")
# The series' last entry is never written: it keeps the zero end marker.
STORABLE_WINDOWS = 20000 - 1


def table(path):
    """Rows of a samples/*.txt list, comments dropped."""
    with open(path) as f:
        return [line.split() for line in f if line.strip() and not line.startswith("#")]


def packets_of(stem):
    """(stream, timestamp, size, header offset) of each packet, in file order."""
    return [(int(r[0]), int(r[1]), int(r[3]), int(r[4]) - 12) for r in table(stem + ".packets.txt")]


def video_stream(stem):
    """The stream a run measures: the first RealVideo stream, or None."""
    videos = [int(row[0]) for row in table(stem + ".streams.txt") if row[1] in REALVIDEO]
    return min(videos) if videos else None


def windows_of(timeline):
    """The run's result and the series it stores from the measured stream's
    (timestamp, size) list: a window closes on the first packet more than
    1000 ms past its start; before the first window is stored a packet 10 s
    in ends the run, after it one more than 2 s on is a frame gap. Windows
    beyond the series' room are measured but not stored."""
    start, total, windows = 0, 0, []
    for timestamp, size in timeline:
        total += size
        distance = (timestamp - start) & 0xFFFFFFFF
        if distance <= 1000:
            continue
        if not windows and distance > 10000:
            break
        if windows and distance > 2000:
            return "ANALYSIS_FRAME_GAP", windows
        if len(windows) < STORABLE_WINDOWS:
            windows.append([start, min(total * 8 // distance, 0xFFFFFFFF)])
        start, total = timestamp, 0
    return "ANALYSIS_OK", windows


def expected_windows(stem):
    """The result and the series a run over the sample must give."""
    stream = video_stream(stem)
    if stream is None:
        return "ANALYSIS_NO_VIDEO", []
    return windows_of([(t, n) for s, t, n, _ in packets_of(stem) if s == stream])

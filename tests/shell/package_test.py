#!/usr/bin/env python3
"""What a Windows user downloads, checked under Wine: scripts/package.sh makes
the setup program and the portable zip from the Windows build, then

- both carry the version of KOV.EXE's version resource in their names;
- the zip holds exactly KOV.EXE, rmrate.exe, README.txt and LICENSE.txt, and
  its KOV.EXE, unpacked into a fresh Wine prefix, charts a sample;
- the setup program, worked page by page as a user does (kov_remote), names
  no installer system under its pages, and its last page offers "Run KOV",
  ticked: Finish starts KOV;
- it installs silently (/S) into that prefix, starting nothing: the files,
  the Start menu shortcut, the file types (.rm, .rmvb, .rv) and the
  uninstall entry are there;
- opening a .rm and a .rv file (wine start: ShellExecute through the
  association) starts KOV on it and its chart shows, checked on a screenshot;
- the uninstaller, run silently, leaves none of the files, the shortcut or
  the registry keys behind, puts back the file type .rmvb had before, leaves
  .rm alone, which another program took over after the install, and leaves
  .rv as it found it.

    package_test.py REPO_ROOT WORKDIR KOV_REMOTE_EXE

The prefix is made anew under WORKDIR on every run (about half a minute
here) and removed when everything passed. Needs DISPLAY and python3 with PIL.
"""
import os
import re
import shutil
import struct
import subprocess
import sys
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import kov_screen  # noqa: E402

TITLE = "KOV - Quorrel v1.0 for Pelsk special version"
PACKAGE_FILES = ["KOV.EXE", "rmrate.exe", "README.txt", "LICENSE.txt"]
PROGID = "KOV.RealMedia"
UNINSTALL_KEY = r"Software\Microsoft\Windows\CurrentVersion\Uninstall\KOV"

# Before the install: Wine's windows unmanaged (no window manager runs on the
# test display), no crash dialog, and .rmvb already some other player's.
BEFORE_INSTALL = r'''REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_LOCAL_MACHINE\Software\Classes\.rmvb]
@="Other.Player"

[HKEY_LOCAL_MACHINE\Software\Classes\Other.Player\shell\open\command]
@="C:\\windows\\notepad.exe \"%1\""
'''

# After the install another program takes .rm: the uninstaller must leave it.
LATER_PLAYER = r'''REGEDIT4

[HKEY_LOCAL_MACHINE\Software\Classes\.rm]
@="Later.Player"

[HKEY_LOCAL_MACHINE\Software\Classes\Later.Player\shell\open\command]
@="C:\\windows\\notepad.exe \"%1\""
'''


class Failed(Exception):
    pass


def log(text):
    print("package_test: " + text, flush=True)


def windows_path(unix_path):
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


# ---------------------------------------------------------------- the prefix

class Prefix:
    def __init__(self, path):
        self.path = path
        self.env = dict(os.environ, WINEPREFIX=path, WINEARCH="win32", WINEDEBUG="-all",
                        # No Mono or Gecko to ask for; no menu entries or file
                        # types exported to the Linux desktop of this machine.
                        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")

    def create(self):
        shutil.rmtree(self.path, ignore_errors=True)
        started = time.time()
        self.run(["wineboot", "-i"], timeout=600)
        self.settle()
        log("fresh prefix made in %.0f s" % (time.time() - started))

    def run(self, command, timeout=300, stdout=None):
        return subprocess.run(command, env=self.env, timeout=timeout, stdout=stdout).returncode

    def popen(self, command):
        return subprocess.Popen(command, env=self.env)

    def wine(self, *args, timeout=300):
        return self.run(["wine"] + list(args), timeout=timeout)

    def import_registry(self, text, name):
        reg = os.path.join(os.path.dirname(self.path), name)
        with open(reg, "w", newline="\r\n") as f:
            f.write(text)
        if self.wine("regedit", "/S", windows_path(reg)) != 0:
            raise Failed("regedit could not import " + name)

    def settle(self):
        """Waits until every process of the prefix has ended and the server
        has written the registry to its files."""
        self.run(["wineserver", "-w"], timeout=300)

    def kill(self):
        self.run(["wineserver", "-k"], timeout=60)

    def drive_c(self, *parts):
        return os.path.join(self.path, "drive_c", *parts)

    def registry(self):
        """HKEY_LOCAL_MACHINE as the server last wrote it: {key (lower case):
        {value name (lower case, '' for the default): string}}."""
        return read_reg_file(os.path.join(self.path, "system.reg"))

    def registry_text(self):
        texts = []
        for name in ("system.reg", "user.reg"):
            with open(os.path.join(self.path, name), encoding="utf-8", errors="replace") as f:
                texts.append(f.read())
        return "\n".join(texts)


def unescape(text):
    return re.sub(r"\\(.)", r"\1", text)


def read_reg_file(path):
    keys = {}
    current = None
    value_line = re.compile(r'^(@|"((?:[^"\\]|\\.)*)")=(.*)$')
    string_value = re.compile(r'^"((?:[^"\\]|\\.)*)"$')
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            line = line.rstrip("\n")
            if line.startswith("["):
                current = keys.setdefault(unescape(line[1:line.rindex("]")]).lower(), {})
                continue
            match = value_line.match(line)
            if current is None or not match:
                continue
            name = "" if match.group(1) == "@" else unescape(match.group(2)).lower()
            text = string_value.match(match.group(3))
            current[name] = unescape(text.group(1)) if text else match.group(3)
    return keys


# ---------------------------------------------------------------- checks

def file_version(exe):
    """The file version of a PE file's version resource (its fixed part)."""
    with open(exe, "rb") as f:
        data = f.read()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        raise Failed("no version resource in " + exe)
    ms, ls = struct.unpack_from("<II", data, at + 8)
    return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def make_packages(root, out):
    run = subprocess.run([os.path.join(root, "scripts", "package.sh"), "--no-build", "--out", out],
                         capture_output=True, text=True, timeout=300)
    if run.returncode != 0:
        raise Failed("package.sh failed:\n" + run.stdout + run.stderr)
    setup, zip_path = run.stdout.split()[-2:]
    names = re.fullmatch(r"KOV-(.+)-setup\.exe", os.path.basename(setup)), \
        re.fullmatch(r"KOV-(.+)-win32\.zip", os.path.basename(zip_path))
    if not all(names) or names[0].group(1) != names[1].group(1):
        raise Failed("unexpected package names %s, %s" % (setup, zip_path))
    version = names[0].group(1)
    if file_version(os.path.join(out, "stage", "KOV.EXE")) != version:
        raise Failed("KOV.EXE's version resource says %s, the packages %s"
                     % (file_version(os.path.join(out, "stage", "KOV.EXE")), version))
    log("made %s and %s" % (os.path.basename(setup), os.path.basename(zip_path)))
    return setup, zip_path, version


def kov_window():
    return kov_screen.window_titled(TITLE)


def expect_chart(packets, what, shot):
    chart = kov_screen.expected_chart(kov_screen.expected_series(packets))
    problems = kov_screen.wait_for_chart(kov_window, chart, 120, shot)
    if problems:
        raise Failed("%s: the chart of the sample did not show (%s); screen in %s"
                     % (what, "; ".join(problems), shot))
    log("%s: chart checked" % what)


def close_kov(what):
    found = kov_window()
    if not found or not kov_screen.close_window(found[0]):
        raise Failed(what + ": could not ask KOV to close")
    for _ in range(300):
        if not kov_window():
            return
        time.sleep(0.1)
    raise Failed(what + ": KOV did not close")


def check_zip(prefix, zip_path, sample, work):
    with zipfile.ZipFile(zip_path) as archive:
        names = sorted(archive.namelist())
        if names != sorted(PACKAGE_FILES):
            raise Failed("the zip holds %r" % names)
        portable = os.path.join(work, "portable")
        shutil.rmtree(portable, ignore_errors=True)
        archive.extractall(portable)
    # Unpacked and started, nothing installed: it charts the sample.
    process = prefix.popen(["wine", os.path.join(portable, "KOV.EXE"), "/" + windows_path(sample)])
    try:
        expect_chart(sample.replace(".rm", ".packets.txt"), "KOV.EXE from the zip",
                     os.path.join(work, "portable.png"))
        close_kov("KOV.EXE from the zip")
        status = process.wait(timeout=60)
        if status != 0:
            raise Failed("KOV.EXE from the zip ended with exit code %d" % status)
    finally:
        if process.poll() is None:
            process.kill()


def check_installed(prefix, stage, version):
    folder = prefix.drive_c("Program Files", "KOV")
    for name in PACKAGE_FILES + ["Uninstall.exe"]:
        if not os.path.isfile(os.path.join(folder, name)):
            raise Failed("not installed: " + name)
    with open(os.path.join(folder, "KOV.EXE"), "rb") as a, open(os.path.join(stage, "KOV.EXE"), "rb") as b:
        if a.read() != b.read():
            raise Failed("the installed KOV.EXE is not the packaged one")
    shortcut = prefix.drive_c("ProgramData", "Microsoft", "Windows", "Start Menu", "Programs", "KOV.lnk")
    if not os.path.isfile(shortcut):
        raise Failed("no Start menu shortcut " + shortcut)
    with open(shortcut, "rb") as f:
        link = f.read()
    if b"KOV.EXE" not in link and "KOV.EXE".encode("utf-16-le") not in link:
        raise Failed("the Start menu shortcut does not lead to KOV.EXE")

    reg = prefix.registry()
    program = r"C:\Program Files\KOV\KOV.EXE"
    expected = {
        r"software\classes\.rm": {"": PROGID},
        r"software\classes\.rmvb": {"": PROGID},
        r"software\classes\.rv": {"": PROGID},
        r"software\classes\.rv\openwithprogids": {PROGID.lower(): ""},
        r"software\classes\.rm\openwithprogids": {PROGID.lower(): ""},
        r"software\classes\kov.realmedia\shell\open\command": {"": '"%s" /%%1' % program},
        UNINSTALL_KEY.lower(): {"displayname": "KOV", "displayversion": version,
                                "uninstallstring": r'"C:\Program Files\KOV\Uninstall.exe"',
                                "quietuninstallstring": r'"C:\Program Files\KOV\Uninstall.exe" /S'},
    }
    for key, values in expected.items():
        for name, value in values.items():
            found = reg.get(key, {}).get(name)
            if found != value:
                raise Failed("registry %s [%s]: %r, expected %r" % (key, name or "@", found, value))
    log("installed: files, Start menu shortcut, file types, uninstall entry")


def check_setup_pages(prefix, remote, setup):
    """The setup program as a user sees it: every page's texts, and KOV
    started by the last page's Finish."""
    # Into a file, not a pipe: the KOV that Finish starts inherits the
    # output and would hold a pipe open.
    output = os.path.join(os.path.dirname(prefix.path), "setup_pages.txt")
    with open(output, "wb") as out:
        status = prefix.run(["wine", remote, "setup", windows_path(setup)], timeout=400, stdout=out)
    with open(output, encoding="utf-8", errors="replace") as f:
        pages = [page.splitlines() for page in re.split(r"^page \d+\n", f.read(), flags=re.M) if page]
    if status != 0 or len(pages) < 3:
        raise Failed("the setup program, worked page by page: exit code %d, %d pages (%s)" % (status, len(pages), output))
    texts = [line.split("\t", 2)[-1] for page in pages for line in page]
    branding = [text for text in texts if "Nullsoft" in text or "Install System" in text]
    if branding:
        raise Failed("the setup program names the installer system: %r" % branding)
    if not any(line.endswith("\t[x] Run KOV") for line in pages[-1]):
        raise Failed("the last page offers no ticked \"Run KOV\": %r" % pages[-1])
    for _ in range(600):
        if kov_window():
            break
        time.sleep(0.1)
    else:
        raise Failed("Finish with \"Run KOV\" ticked started no KOV")
    close_kov("started by the setup's last page")
    prefix.settle()
    log("setup pages: no installer branding, \"Run KOV\" ticked on the last page, Finish started KOV")


def check_uninstalled(prefix, rv_before):
    if os.path.exists(prefix.drive_c("Program Files", "KOV")):
        raise Failed("the uninstaller left " + repr(os.listdir(prefix.drive_c("Program Files", "KOV"))))
    shortcut = prefix.drive_c("ProgramData", "Microsoft", "Windows", "Start Menu", "Programs", "KOV.lnk")
    if os.path.exists(shortcut):
        raise Failed("the uninstaller left the Start menu shortcut")
    reg = prefix.registry()
    for key in (r"software\classes\kov.realmedia", UNINSTALL_KEY.lower(), r"software\kov",
                r"software\classes\.rmvb\openwithprogids"):
        if key in reg:
            raise Failed("the uninstaller left the key " + key)
    if reg.get(r"software\classes\.rm", {}).get("") != "Later.Player":
        raise Failed(".rm, taken by another program, was not left alone: %r" % reg.get(r"software\classes\.rm"))
    if PROGID.lower() in reg.get(r"software\classes\.rm\openwithprogids", {}):
        raise Failed("KOV is still in .rm's Open with list")
    if reg.get(r"software\classes\.rmvb", {}).get("") != "Other.Player":
        raise Failed(".rmvb did not get its file type back: %r" % reg.get(r"software\classes\.rmvb"))
    if reg.get(r"software\classes\.rv") != rv_before:
        raise Failed(".rv is not as the setup found it: %r, before %r" % (reg.get(r"software\classes\.rv"), rv_before))
    # Nothing else of it anywhere in the registry either.
    leftovers = [line for line in prefix.registry_text().splitlines() if "KOV" in line]
    if leftovers:
        raise Failed("the registry still names KOV: %r" % leftovers[:5])
    log("uninstalled: no file, shortcut or key left; .rm left alone, .rmvb given back, .rv as it was")


def main():
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    root, work, remote = (os.path.abspath(a) for a in sys.argv[1:])
    if not os.environ.get("DISPLAY"):
        log("no DISPLAY: run it through scripts/test.sh")
        return 1
    os.makedirs(work, exist_ok=True)
    prefix = Prefix(os.path.join(work, "wineprefix"))
    sample = os.path.join(work, "my clips", "demo clip.rm")
    os.makedirs(os.path.dirname(sample), exist_ok=True)
    shutil.copyfile(os.path.join(root, "samples", "demo.rm"), sample)
    shutil.copyfile(os.path.join(root, "samples", "demo.packets.txt"), sample.replace(".rm", ".packets.txt"))
    shutil.copyfile(os.path.join(root, "samples", "demo.streams.txt"), sample.replace(".rm", ".streams.txt"))
    # The usual encoder software's name for a RealVideo-only file.
    sample_rv = sample[:-len(".rm")] + " video.rv"
    shutil.copyfile(sample, sample_rv)
    try:
        out = os.path.join(work, "out")
        setup, zip_path, version = make_packages(root, out)

        prefix.create()
        prefix.import_registry(BEFORE_INSTALL, "before_install.reg")
        check_zip(prefix, zip_path, sample, work)
        rv_before = prefix.registry().get(r"software\classes\.rv")

        check_setup_pages(prefix, remote, setup)
        status = prefix.wine(setup, "/S")
        if status != 0:
            raise Failed("the setup program ended with exit code %d" % status)
        # A silent install starts nothing: every process of the prefix ends.
        try:
            prefix.run(["wineserver", "-w"], timeout=120)
        except subprocess.TimeoutExpired:
            raise Failed("processes still run after the silent install (KOV: %r)" % (kov_window(),))
        check_installed(prefix, os.path.join(out, "stage"), version)

        # As a double click does: ShellExecute finds KOV through .rm.
        if prefix.wine("start", "/unix", sample) != 0:
            raise Failed("wine start could not open the .rm file")
        expect_chart(sample.replace(".rm", ".packets.txt"), "opened through .rm", os.path.join(work, "start.png"))
        close_kov("opened through .rm")
        prefix.settle()
        if prefix.wine("start", "/unix", sample_rv) != 0:
            raise Failed("wine start could not open the .rv file")
        expect_chart(sample.replace(".rm", ".packets.txt"), "opened through .rv", os.path.join(work, "start_rv.png"))
        close_kov("opened through .rv")
        prefix.settle()

        prefix.import_registry(LATER_PLAYER, "later_player.reg")
        # The uninstaller copies itself away and returns at once; settle()
        # waits for the copy to finish.
        if prefix.wine(r"C:\Program Files\KOV\Uninstall.exe", "/S") != 0:
            raise Failed("the uninstaller did not start")
        prefix.settle()
        check_uninstalled(prefix, rv_before)
    except (Failed, subprocess.TimeoutExpired) as failure:
        log(str(failure))
        log("the prefix stays for a look: " + prefix.path)
        prefix.kill()
        return 1
    shutil.rmtree(prefix.path, ignore_errors=True)
    log("setup, association, uninstall and zip checked")
    return 0


if __name__ == "__main__":
    sys.exit(main())

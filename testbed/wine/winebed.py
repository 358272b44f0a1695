"""winebed: run ORVSVC as a real Windows service inside a throw-away Wine prefix.

A WineBed owns one prefix under ``<build>/wine/`` for its lifetime:

* the first use in a build folder boots a template prefix (``wineboot -i``,
  about 7 s) and stamps it with the Wine version; every bed then starts from
  a copy of that template (about 1 s), so no test sees another's leftovers;
* it runs its own wineserver in the foreground (``wineserver -f -p``), so the
  server has a PID we own and stays warm between the many short wine calls
  (a cold client costs ~0.5 s and a service dies ~2 s after the last client);
* close() ends it all (``wineserver -k``, ``wineserver -w``, bounded), and
  then kills by PID any process still carrying this WINEPREFIX: wine
  processes do not reliably exit when their server dies. A watchdog process
  does the same if the Python process dies without closing (SIGKILL, a
  time-out); create a bed on a thread that outlives it, since the watchdog
  fires when the creating thread ends;
* it boots the session with ``WINEDEBUG=-all,+eventlog,fixme+advapi,+pid``
  and that process's stderr going to ``<name>.events.log``. services.exe and
  every service it starts inherit both, so everything a service passes to
  ReportEventW lands in that file, which :func:`parse_event_log` turns back
  into entries (type, event id, source, decoded insertion strings).

Wine's stub ReportEventW stores nothing; its debug output is the only record:

    PID:TID:fixme:advapi:RegisterEventSourceW ((null),L"ORVSVC"): stub
    PID:TID:fixme:advapi:ReportEventW (00000000CAFE4242,0x0004,0x0000,0x4000044c,...,0x0001,...): stub
    PID:TID:trace:eventlog:ReportEventW L"Orvane\\30a8\\30fc..."

(err: for error entries, warn: for warnings, trace: for the rest; one line
per insertion string; a string longer than about 290 escaped characters is
cut and ends in ``"...``). Every source handle is the same constant, so the
source of an entry is the last one registered on the same thread.

Wine processes keep their inherited stdout/stderr open for as long as the
session lives, so no wine call here ever writes into a pipe we wait on: all
output goes to temporary files. Every call has a time-out.
"""

from __future__ import annotations

import atexit
import contextlib
import ctypes
import dataclasses
import errno
import fcntl
import json
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path
from typing import Callable, Mapping, Optional, Sequence, Union

# The test cloud the agent's fixture puts in front of the agent.
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "cloud"))

WINE64 = os.environ.get("WINEBED_WINE64", "/usr/lib/wine/wine64")
WINESERVER = os.environ.get("WINEBED_WINESERVER", "/usr/lib/wine/wineserver")

# Where programs live inside the prefix: the agent's own folder, and a
# separate one for our tools so they never show up in what the agent scans.
AGENT_DIR = "C:\\orvsvc"
AGENT_EXE = AGENT_DIR + "\\ORVSVC.exe"
TOOLS_DIR = "C:\\testbed"
# The adapter check program, one sub-command per adapter.
OSCHECK = TOOLS_DIR + "\\oscheck.exe"
# The agent's settings keys, which the product installer creates (the agent never does).
STATUS_KEY = r"HKLM\SOFTWARE\ORVANE\ORVSVC\Status"
AGENT_KEYS = (STATUS_KEY, r"HKLM\SOFTWARE\ORVANE\ORVSVC\Common", r"HKLM\SOFTWARE\ORVANE\ORVSVC\NAS")
# The staging API host of the testbed's builds, which the test cloud serves without TLS.
STAGING_API_HOST = "staging-api.orvane.example"
# The service, the device identifier the registered agent is given (DEVICEID's bytes in hex) and
# its text in requests (the GUID's form: the first three groups stored little-endian), and the
# event the monitoring loop logs when it starts.
SERVICE = "ORVSVC"
DEVICE_ID = "0102030405060708090a0b0c0d0e0f10"
DEVICE_TEXT = "0403020106050807090A0B0C0D0E0F10"
MONITORING = 0x4000044F

SERVICE_STOPPED = 1
SERVICE_START_PENDING = 2
SERVICE_STOP_PENDING = 3
SERVICE_RUNNING = 4
SERVICE_CONTINUE_PENDING = 5
SERVICE_PAUSE_PENDING = 6
SERVICE_PAUSED = 7

ERROR_SERVICE_DOES_NOT_EXIST = 1060

EVENTLOG_ERROR_TYPE = 0x0001
EVENTLOG_WARNING_TYPE = 0x0002
EVENTLOG_INFORMATION_TYPE = 0x0004

_EVENT_TYPE_NAMES = {
    EVENTLOG_ERROR_TYPE: "error",
    EVENTLOG_WARNING_TYPE: "warning",
    EVENTLOG_INFORMATION_TYPE: "information",
}

REG_SZ = 1
REG_EXPAND_SZ = 2
REG_BINARY = 3
REG_DWORD = 4
REG_MULTI_SZ = 7

_TEMPLATE_NAME = "prefix-template"
_STAMP_FILE = ".winebed-stamp"
# Bumped when the way the template is made changes, so old templates are rebuilt.
_TEMPLATE_FORMAT = "1"


class WineBedError(RuntimeError):
    """A wine call failed or timed out; the message says which and why."""


# --------------------------------------------------------------------------
# Event-log capture
# --------------------------------------------------------------------------


@dataclasses.dataclass
class EventEntry:
    """One ReportEventW call as Wine printed it."""

    pid: Optional[int]
    tid: Optional[int]
    event_type: int
    category: int
    event_id: Optional[int]
    source: Optional[str]
    strings: list
    declared_strings: int = 0  # how many insertion strings the caller passed
    truncated: bool = False

    @property
    def type_name(self) -> str:
        return _EVENT_TYPE_NAMES.get(self.event_type, "0x%04x" % self.event_type)

    @property
    def text(self) -> str:
        """All insertion strings, one per line (most entries have exactly one)."""
        return "\n".join(self.strings)

    def __str__(self) -> str:
        ident = "0x%08X" % self.event_id if self.event_id is not None else "?"
        return "%-11s %s %s: %s" % (self.type_name, ident, self.source or "?", self.text)


_ESCAPES = {"n": "\n", "r": "\r", "t": "\t", '"': '"', "\\": "\\"}
_HEX = "0123456789abcdefABCDEF"


def decode_wine_string(body: str) -> str:
    """Decodes the inside of a Wine ``L"..."`` debug string.

    Wine escapes \\n \\r \\t \\" \\\\ by letter and every other character
    below 0x20 or above 0x7e as a backslash and exactly four hex digits of
    its UTF-16 unit (surrogate pairs come as two such units). `body` must
    not include the surrounding quotes.
    Raises ValueError on an escape Wine never writes, so a format change in
    Wine shows up as a failure rather than as silently wrong text.
    """
    units = []
    i = 0
    n = len(body)
    while i < n:
        c = body[i]
        if c != "\\":
            units.append(ord(c))
            i += 1
            continue
        if i + 1 >= n:
            raise ValueError("dangling backslash in %r" % body)
        nxt = body[i + 1]
        if nxt in _ESCAPES:
            units.append(ord(_ESCAPES[nxt]))
            i += 2
            continue
        hex4 = body[i + 1 : i + 5]
        if len(hex4) == 4 and all(h in _HEX for h in hex4):
            units.append(int(hex4, 16))
            i += 5
            continue
        raise ValueError("unknown escape %r in %r" % (body[i : i + 5], body))
    raw = b"".join(u.to_bytes(2, "little") for u in units)
    # surrogatepass keeps a lone surrogate (a program bug worth seeing) visible.
    return raw.decode("utf-16-le", errors="surrogatepass")


_LINE_RE = re.compile(
    r"^(?:(?P<pid>[0-9a-fA-F]+):)?(?P<tid>[0-9a-fA-F]+):"
    r"(?P<cls>fixme|err|warn|trace):(?P<channel>[A-Za-z0-9_]+):(?P<func>\w+) ?(?P<rest>.*)$"
)
_WSTR_RE = re.compile(r'^L"(?P<body>(?:[^"\\]|\\.)*)"(?P<more>\.\.\.)?')
_REPORT_ARGS_RE = re.compile(r"^\((?P<args>[^)]*)\)")
_SOURCE_RE = re.compile(r'^\((?:\(null\)|L"(?:[^"\\]|\\.)*"),(?P<src>\(null\)|L"(?:[^"\\]|\\.)*")\)')


def _wide_literal(text: str) -> tuple:
    m = _WSTR_RE.match(text)
    if not m:
        raise ValueError("not a Wine wide string: %r" % text)
    return decode_wine_string(m.group("body")), m.group("more") is not None


def parse_event_log(text: str) -> list:
    """Turns the captured debug output into EventEntry records, in order.

    Lines that are not about the event log are ignored. Entries are kept per
    thread: a ReportEventW header opens an entry, the string lines that follow
    on the same thread fill it.
    """
    entries = []
    open_entry = {}  # (pid, tid) -> EventEntry still collecting strings
    source_by_thread = {}
    source_by_process = {}
    for line in text.splitlines():
        m = _LINE_RE.match(line.rstrip("\r"))
        if not m:
            continue
        pid = int(m.group("pid"), 16) if m.group("pid") else None
        tid = int(m.group("tid"), 16)
        key = (pid, tid)
        func = m.group("func")
        rest = m.group("rest")
        cls = m.group("cls")
        channel = m.group("channel")

        if channel == "advapi" and cls == "fixme" and func == "RegisterEventSourceW":
            sm = _SOURCE_RE.match(rest)
            if sm:
                src = sm.group("src")
                name = None if src == "(null)" else _wide_literal(src)[0]
                source_by_thread[key] = name
                source_by_process[pid] = name
            continue

        if channel == "advapi" and cls == "fixme" and func == "ReportEventW":
            am = _REPORT_ARGS_RE.match(rest)
            if not am:
                continue
            args = [a.strip() for a in am.group("args").split(",")]
            if len(args) < 6:
                continue
            entry = EventEntry(
                pid=pid,
                tid=tid,
                event_type=int(args[1], 16),
                category=int(args[2], 16),
                event_id=int(args[3], 16),
                source=source_by_thread.get(key, source_by_process.get(pid)),
                strings=[],
                declared_strings=int(args[5], 16),
            )
            entries.append(entry)
            open_entry[key] = entry if entry.declared_strings else None
            continue

        if channel == "eventlog" and func == "ReportEventW" and rest.startswith('L"'):
            value, cut = _wide_literal(rest)
            entry = open_entry.get(key)
            if entry is None:
                continue
            entry.strings.append(value)
            entry.truncated = entry.truncated or cut
            if len(entry.strings) >= entry.declared_strings:
                open_entry[key] = None
    return entries


# --------------------------------------------------------------------------
# Registry files (.reg, as written by `reg export` and read by `regedit /S`)
# --------------------------------------------------------------------------


@dataclasses.dataclass(frozen=True)
class RegValue:
    """A registry value: its REG_* type and the data as Python sees it
    (str for SZ/EXPAND_SZ, int for DWORD/QWORD, list of str for MULTI_SZ,
    bytes for everything else)."""

    type: int
    data: object


_HIVES = {
    "HKLM": "HKEY_LOCAL_MACHINE",
    "HKCU": "HKEY_CURRENT_USER",
    "HKCR": "HKEY_CLASSES_ROOT",
    "HKU": "HKEY_USERS",
    "HKCC": "HKEY_CURRENT_CONFIG",
}


def full_key_name(key: str) -> str:
    """HKLM\\X -> HKEY_LOCAL_MACHINE\\X; the form .reg files use."""
    head, sep, tail = key.partition("\\")
    head = _HIVES.get(head.upper(), head)
    return head + sep + tail


def _unescape_reg_string(s: str) -> str:
    out = []
    i = 0
    while i < len(s):
        c = s[i]
        if c == "\\" and i + 1 < len(s):
            nxt = s[i + 1]
            out.append({"\\": "\\", '"': '"', "n": "\n", "r": "\r", "0": "\0"}.get(nxt, "\\" + nxt))
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def _read_quoted(s: str, start: int) -> tuple:
    """Reads a "..." token beginning at s[start]; returns (raw inside, index after)."""
    if s[start] != '"':
        raise ValueError("expected a quote in %r" % s)
    i = start + 1
    while i < len(s):
        if s[i] == "\\":
            i += 2
            continue
        if s[i] == '"':
            return s[start + 1 : i], i + 1
        i += 1
    raise ValueError("unterminated string in %r" % s)


def _decode_typed(reg_type: int, raw: bytes) -> object:
    if reg_type in (REG_SZ, REG_EXPAND_SZ):
        text = raw.decode("utf-16-le", errors="surrogatepass")
        return text[:-1] if text.endswith("\0") else text
    if reg_type == REG_MULTI_SZ:
        text = raw.decode("utf-16-le", errors="surrogatepass")
        while text.endswith("\0"):
            text = text[:-1]
        return text.split("\0") if text else []
    if reg_type == REG_DWORD and len(raw) == 4:
        return int.from_bytes(raw, "little")
    return raw


def _parse_value_data(data: str) -> RegValue:
    if data.startswith('"'):
        inner, end = _read_quoted(data, 0)
        if data[end:].strip():
            raise ValueError("junk after string value: %r" % data)
        return RegValue(REG_SZ, _unescape_reg_string(inner))
    if data.startswith("dword:"):
        return RegValue(REG_DWORD, int(data[6:], 16))
    m = re.match(r"^hex(?:\((?P<type>[0-9a-fA-F]+)\))?:(?P<bytes>.*)$", data)
    if m:
        reg_type = int(m.group("type"), 16) if m.group("type") else REG_BINARY
        hex_bytes = m.group("bytes").replace(" ", "")
        raw = bytes(int(b, 16) for b in hex_bytes.split(",") if b) if hex_bytes else b""
        return RegValue(reg_type, _decode_typed(reg_type, raw))
    raise ValueError("unknown value data %r" % data)


def parse_reg_file(text: str) -> dict:
    """Parses .reg text into {full key name: {value name: RegValue}}.

    The default value has the name "". Hex data continued over lines with a
    trailing backslash is joined. Raises ValueError on lines it cannot read,
    so a wrong assumption about the format fails loudly.
    """
    if text.startswith("\ufeff"):
        text = text[1:]
    lines = text.splitlines()
    result = {}
    current = None
    i = 0
    while i < len(lines):
        line = lines[i].rstrip("\r")
        i += 1
        stripped = line.strip()
        if not stripped or stripped.startswith(";"):
            continue
        if stripped.startswith("Windows Registry Editor") or stripped == "REGEDIT4":
            continue
        if stripped.startswith("[") and stripped.endswith("]"):
            current = result.setdefault(stripped[1:-1], {})
            continue
        if current is None:
            raise ValueError("value outside a key: %r" % line)
        if stripped.startswith("@="):
            name, data = "", stripped[2:]
        else:
            raw_name, end = _read_quoted(stripped, 0)
            if stripped[end : end + 1] != "=":
                raise ValueError("expected '=' in %r" % line)
            name, data = _unescape_reg_string(raw_name), stripped[end + 1 :]
        if data.startswith("hex"):
            while data.endswith("\\") and i < len(lines):
                data = data[:-1] + lines[i].strip()
                i += 1
        current[name] = _parse_value_data(data)
    return result


def _hex_bytes(raw: bytes) -> str:
    return ",".join("%02x" % b for b in raw)


def _check_reg_text(what: str, text: str) -> None:
    # A line break or NUL in a key or value name would let one entry of a
    # .reg file turn into others; refuse it instead of writing it.
    if any(ch in text for ch in "\r\n\0"):
        raise ValueError("%s may not contain line breaks or NUL: %r" % (what, text))


def _format_value(name: str, value: object) -> str:
    _check_reg_text("value name", name)
    lhs = "@" if name == "" else '"%s"' % name.replace("\\", "\\\\").replace('"', '\\"')
    if value is None:
        return lhs + "=-"
    if isinstance(value, bool) or not isinstance(value, (str, int, bytes, list, tuple)):
        raise TypeError("unsupported registry data for %r: %r" % (name, value))
    if isinstance(value, int):
        if not 0 <= value <= 0xFFFFFFFF:
            raise ValueError("DWORD out of range for %r: %d" % (name, value))
        return "%s=dword:%08x" % (lhs, value)
    if isinstance(value, str) and not any(ord(c) < 0x20 for c in value):
        return '%s="%s"' % (lhs, value.replace("\\", "\\\\").replace('"', '\\"'))
    if isinstance(value, str):
        return "%s=hex(1):%s" % (lhs, _hex_bytes((value + "\0").encode("utf-16-le", errors="surrogatepass")))
    if isinstance(value, bytes):
        return "%s=hex:%s" % (lhs, _hex_bytes(value))
    if any("\0" in item or item == "" for item in value):
        # An empty item would end the list early on the reading side.
        raise ValueError("MULTI_SZ items must be non-empty without NUL: %r" % name)
    raw = "".join(s + "\0" for s in value).encode("utf-16-le") + b"\0\0"
    return "%s=hex(7):%s" % (lhs, _hex_bytes(raw))


def build_reg_file(keys: Mapping) -> str:
    """Builds .reg text from {key: {value name: data}}.

    Keys may use HKLM-style short names. Data: str -> REG_SZ, int -> REG_DWORD,
    bytes -> REG_BINARY, list of str -> REG_MULTI_SZ, None deletes the value. A key given as
    "-HKLM\\..." with no values deletes the key and all below it.
    """
    out = ["Windows Registry Editor Version 5.00", ""]
    for key, values in keys.items():
        _check_reg_text("key", key)
        if "[" in key or "]" in key:
            raise ValueError("key may not contain brackets: %r" % key)
        if key.startswith("-"):
            out += ["[-%s]" % full_key_name(key[1:]), ""]
            continue
        out.append("[%s]" % full_key_name(key))
        for name, value in (values or {}).items():
            out.append(_format_value(name, value))
        out.append("")
    return "\r\n".join(out) + "\r\n"


# --------------------------------------------------------------------------
# Service status
# --------------------------------------------------------------------------


@dataclasses.dataclass(frozen=True)
class ServiceStatus:
    state: int
    exit: int
    specific: int
    checkpoint: int
    hint: int
    accepted: int


_STATUS_RE = re.compile(
    r"state=(\d+) exit=(\d+) specific=(\d+) checkpoint=(\d+) hint=(\d+) accepted=0x([0-9A-Fa-f]+)"
)
_SVCCTL_ERROR_RE = re.compile(r"failed: error=(\d+)")


def parse_status(text: str) -> Optional[ServiceStatus]:
    m = _STATUS_RE.search(text)
    if not m:
        return None
    vals = [int(g) for g in m.groups()[:5]]
    return ServiceStatus(*vals, accepted=int(m.group(6), 16))


@dataclasses.dataclass
class RunResult:
    """What one wine call left behind. `returncode` is the Unix status: Wine
    keeps only the low 8 bits of the Windows exit code."""

    argv: list
    returncode: int
    stdout: bytes
    stderr: bytes
    seconds: float

    @property
    def out(self) -> str:
        return self.stdout.decode("utf-8", errors="replace")

    @property
    def err(self) -> str:
        return self.stderr.decode("utf-8", errors="replace")


class SvcctlError(WineBedError):
    def __init__(self, message: str, win32_error: Optional[int]):
        super().__init__(message)
        self.win32_error = win32_error


# --------------------------------------------------------------------------
# The bed
# --------------------------------------------------------------------------


def _die_with_parent() -> None:
    # Runs in the watchdog child before exec: when the Python process that
    # owns the bed dies without cleaning up (SIGKILL, ctest time-out), the
    # kernel sends the watchdog SIGTERM and it ends the prefix's processes.
    libc = ctypes.CDLL(None, use_errno=True)
    PR_SET_PDEATHSIG = 1
    libc.prctl(PR_SET_PDEATHSIG, signal.SIGTERM, 0, 0, 0)


def prefix_processes(prefix: Union[str, Path]) -> list:
    """PIDs of this user's processes whose environment names `prefix` as
    WINEPREFIX: the server and every wine process of that prefix."""
    wanted = b"WINEPREFIX=" + os.fsencode(str(prefix))
    uid = os.getuid()
    me = os.getpid()
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == me:
            continue
        try:
            if os.stat("/proc/" + entry).st_uid != uid:
                continue
            with open("/proc/%s/environ" % entry, "rb") as fh:
                if wanted in fh.read().split(b"\0"):
                    found.append(int(entry))
        except OSError:
            continue  # gone meanwhile, or not ours to read
    return found


def kill_prefix_processes(prefix: Union[str, Path]) -> list:
    """SIGKILLs what prefix_processes finds; returns those PIDs.

    Needed because a wine process whose server died does not always exit:
    after a crash of the test process, services.exe, winedevice.exe and the
    service itself were seen running on, orphaned, for good."""
    pids = prefix_processes(prefix)
    for pid in pids:
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError:
            pass
    return pids


def _wait_exit(proc: subprocess.Popen, timeout: float) -> int:
    """Popen.wait(timeout) polls in steps of up to 50 ms, which is a third of
    a whole wine call here; a pidfd wakes us the moment the child exits."""
    try:
        fd = os.pidfd_open(proc.pid)
    except (AttributeError, OSError):
        return proc.wait(timeout=timeout)
    try:
        poller = select.poll()
        poller.register(fd, select.POLLIN)
        if not poller.poll(max(0, int(timeout * 1000))):
            raise subprocess.TimeoutExpired(proc.args, timeout)
    finally:
        os.close(fd)
    return proc.wait(timeout=10)


def install_sigterm_cleanup() -> None:
    """Makes SIGTERM (what `timeout` sends) act like Ctrl-C. unittest lets a
    KeyboardInterrupt end the run at once (it would record SystemExit as one
    more test error and carry on past the time limit); the interpreter then
    exits and every started bed is closed from atexit. Call from a main
    program or setUpModule."""

    def _interrupt(signum, frame):
        raise KeyboardInterrupt("signal %d" % signum)

    signal.signal(signal.SIGTERM, _interrupt)


def wine_version() -> str:
    r = subprocess.run(
        [WINE64, "--version"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=30
    )
    return r.stdout.decode("utf-8", errors="replace").strip()


def module_bed(name: str, programs: Mapping[str, str], locale: str = "C.UTF-8") -> "WineBed":
    """The started bed of one wine-test module, for its setUpModule.

    `programs` maps each program of ORVSVC_BIN_DIR the module needs to the Windows folder
    it is copied to. Without ORVSVC_BIN_DIR the module is skipped; with it, a missing
    program is a failure, so a broken build cannot pass. The prefix lives under
    ORVSVC_BUILD_DIR (default: the bin folder's parent); WINEBED_KEEP keeps it. A failure
    after the start closes the bed again."""
    bin_text = os.environ.get("ORVSVC_BIN_DIR")
    if not bin_text:
        raise unittest.SkipTest("ORVSVC_BIN_DIR is not set")
    bin_dir = Path(bin_text)
    for program in programs:
        if not (bin_dir / program).is_file():
            raise RuntimeError("%s not found in ORVSVC_BIN_DIR=%s" % (program, bin_dir))
    install_sigterm_cleanup()
    bed = WineBed(os.environ.get("ORVSVC_BUILD_DIR") or bin_dir.parent, name=name, bin_dir=bin_dir,
                  keep_prefix=bool(os.environ.get("WINEBED_KEEP")), locale=locale)
    bed.start()
    try:
        for program, folder in programs.items():
            bed.copy_in(bin_dir / program, folder)
    except BaseException:
        bed.close()
        raise
    return bed


class WineBed:
    """A throw-away Wine prefix with a warm server and event-log capture.

    Use as a context manager, or call start() and close() yourself. All paths
    handed to Windows programs are Windows paths (C:\\..., Z:\\...).
    """

    def __init__(
        self,
        build_dir: Union[str, Path],
        name: str = "default",
        bin_dir: Optional[Union[str, Path]] = None,
        keep_prefix: bool = False,
        locale: str = "C.UTF-8",
        log: Optional[Callable[[str], None]] = None,
    ):
        if not re.fullmatch(r"[A-Za-z0-9_.-]+", name) or name in (".", "..", "template"):
            raise ValueError("bed name must be a plain file name: %r" % name)
        self.build_dir = Path(build_dir).resolve()
        self.root = self.build_dir / "wine"
        self.name = name
        self.prefix = self.root / ("prefix-" + name)
        self.events_path = self.root / (name + ".events.log")
        self.server_log_path = self.root / (name + ".server.log")
        self.tmp_dir = self.root / (name + ".tmp")
        self.bin_dir = Path(bin_dir).resolve() if bin_dir else None
        self.keep_prefix = keep_prefix
        self.locale = locale
        self._log = log or (lambda msg: None)
        self._server: Optional[subprocess.Popen] = None
        self._watchdog: Optional[subprocess.Popen] = None
        self._name_lock = None
        self._started = False
        self.timings: dict = {}

    # ---- lifetime -------------------------------------------------------

    def __enter__(self) -> "WineBed":
        self.start()
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def env(self, debug: str = "-all") -> dict:
        env = dict(os.environ)
        for var in ("DISPLAY", "WAYLAND_DISPLAY", "WINEDEBUG", "WINEARCH"):
            env.pop(var, None)
        env.update(
            WINEPREFIX=str(self.prefix),
            WINEDEBUG=debug,
            # No Mono/Gecko installer dialogs during boot.
            WINEDLLOVERRIDES="mscoree,mshtml=",
            # The Unix code page decides how argv reaches the W APIs: UTF-8
            # keeps Japanese arguments (reg add /d ...) intact.
            LANG=self.locale,
            LC_ALL=self.locale,
            WINESERVER=WINESERVER,
        )
        return env

    def start(self) -> None:
        """Prepares a fresh prefix from the template, starts the server and
        boots the session with event-log capture. Raises WineBedError."""
        if self._started:
            return
        self.root.mkdir(parents=True, exist_ok=True)
        # A second run with the same name would discard this one's prefix
        # (and kill its processes) as stale: refuse instead. The kernel drops
        # the lock when this process dies, so a crash leaves nothing stuck.
        self._name_lock = open(self.root / (self.name + ".lock"), "a")
        try:
            fcntl.flock(self._name_lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except OSError:
            self._name_lock.close()
            self._name_lock = None
            raise WineBedError("wine bed %r is in use by another run in %s" % (self.name, self.root))
        try:
            self._prepare_prefix()
        except BaseException:
            self._release_name_lock()
            raise
        self._boot()

    def _release_name_lock(self) -> None:
        if self._name_lock is not None:
            self._name_lock.close()
            self._name_lock = None

    def _prepare_prefix(self) -> None:
        t0 = time.monotonic()
        template = self._ensure_template()
        self.timings["template"] = time.monotonic() - t0

        t1 = time.monotonic()
        self._discard_prefix(self.prefix)
        shutil.rmtree(self.tmp_dir, ignore_errors=True)
        self.tmp_dir.mkdir(parents=True)
        self._run_host(["cp", "-a", str(template), str(self.prefix)], timeout=120)
        (self.prefix / _STAMP_FILE).unlink(missing_ok=True)
        self.timings["copy"] = time.monotonic() - t1

    def _boot(self) -> None:
        self._started = True
        atexit.register(self.close)
        try:
            t2 = time.monotonic()
            self._start_watchdog()
            self._start_server(self.prefix, self.server_log_path)
            self.events_path.write_bytes(b"")
            with open(self.events_path, "ab") as events, open(os.devnull, "wb") as null:
                self._spawn_and_wait(
                    [WINE64, "wineboot"],
                    env=self.env("-all,+eventlog,fixme+advapi,+pid"),
                    stdout=null,
                    stderr=events,
                    timeout=60,
                )
            self.timings["boot"] = time.monotonic() - t2
            for folder in (AGENT_DIR, TOOLS_DIR):
                self.host_path(folder).mkdir(parents=True, exist_ok=True)
            if self.bin_dir and (self.bin_dir / "svcctl.exe").exists():
                self.copy_in(self.bin_dir / "svcctl.exe", TOOLS_DIR)
        except BaseException:
            self.close()
            raise
        self._log(
            "wine prefix %s ready (template %.1fs, copy %.1fs, boot %.1fs)"
            % (self.prefix, self.timings["template"], self.timings["copy"], self.timings["boot"])
        )

    def close(self, remove_prefix: Optional[bool] = None) -> None:
        """Ends every wine process of this prefix and the server; removes
        the prefix unless kept. Safe to call twice; never raises on time-outs."""
        if remove_prefix is None:
            remove_prefix = not self.keep_prefix
        if self._started or self._server is not None:
            self._stop_server(self.prefix)
            leftovers = kill_prefix_processes(self.prefix)
            if leftovers:
                self._log("killed wine processes that outlived their server: %s" % leftovers)
        self._stop_watchdog()
        self._started = False
        atexit.unregister(self.close)
        if remove_prefix:
            shutil.rmtree(self.prefix, ignore_errors=True)
            shutil.rmtree(self.tmp_dir, ignore_errors=True)
        self._release_name_lock()

    def _start_watchdog(self) -> None:
        env = {k: v for k, v in os.environ.items() if k != "WINEPREFIX"}
        self._watchdog = subprocess.Popen(
            [sys.executable, os.path.abspath(__file__), "--watchdog", str(self.prefix),
             str(os.getpid())],
            env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, preexec_fn=_die_with_parent,
            # Out of our process group: a Ctrl-C aimed at the tests must not
            # take the watchdog (or the server) down before the clean-up runs.
            start_new_session=True,
        )

    def _stop_watchdog(self) -> None:
        if self._watchdog is not None:
            self._watchdog.kill()
            try:
                self._watchdog.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass
            self._watchdog = None

    def _start_server(self, prefix: Path, log_path: Path) -> None:
        with open(log_path, "ab") as log:
            self._server = subprocess.Popen(
                [WINESERVER, "-f", "-p"],
                env=self.env_for(prefix),
                stdin=subprocess.DEVNULL,
                stdout=log,
                stderr=log,
                start_new_session=True,
            )
        # Clients that come before the server's socket would start a second
        # server; the server chdir()s into its socket folder once it listens.
        deadline = time.monotonic() + 15
        sock = Path("/proc/%d/cwd/socket" % self._server.pid)
        while time.monotonic() < deadline:
            if self._server.poll() is not None:
                raise WineBedError(
                    "wineserver exited with %s; see %s" % (self._server.returncode, log_path)
                )
            try:
                if sock.exists():
                    return
            except OSError:
                pass
            time.sleep(0.02)
        raise WineBedError("wineserver did not come up within 15 s; see %s" % log_path)

    def _stop_server(self, prefix: Path) -> None:
        env = self.env_for(prefix)
        for args, limit in (([WINESERVER, "-k"], 15), ([WINESERVER, "-w"], 15)):
            try:
                subprocess.run(
                    args, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                    stderr=subprocess.DEVNULL, timeout=limit,
                )
            except subprocess.TimeoutExpired:
                self._log("%s timed out for %s" % (" ".join(args), prefix))
        if self._server is not None:
            try:
                self._server.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self._log("wineserver %d did not exit; killing it" % self._server.pid)
                self._server.kill()
                try:
                    self._server.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    pass
            self._server = None

    def env_for(self, prefix: Path) -> dict:
        env = self.env()
        env["WINEPREFIX"] = str(prefix)
        return env

    # ---- template -------------------------------------------------------

    def _ensure_template(self) -> Path:
        template = self.root / _TEMPLATE_NAME
        wanted = "%s\nformat %s\n" % (wine_version(), _TEMPLATE_FORMAT)
        with self._template_lock():
            stamp = template / _STAMP_FILE
            if stamp.exists() and stamp.read_text(errors="replace") == wanted:
                return template
            self._log("creating wine template prefix in %s" % template)
            building = self.root / (_TEMPLATE_NAME + ".building")
            self._discard_prefix(building)
            self._discard_prefix(template)
            building.mkdir(parents=True)
            t = time.monotonic()
            try:
                self._start_server(building, self.root / "template.server.log")
                r = self._run_logged(
                    [WINE64, "wineboot", "-i"], self.env_for(building), timeout=180
                )
                if r.returncode != 0:
                    raise WineBedError("wineboot -i failed (%d): %s" % (r.returncode, r.err[-500:]))
            finally:
                # -k, not -w: the server was started persistent, and -k still
                # saves the registry before it exits.
                self._stop_server(building)
            if not (building / "system.reg").exists():
                raise WineBedError("wineboot -i left no registry in %s" % building)
            stamp_tmp = building / _STAMP_FILE
            stamp_tmp.write_text(wanted)
            building.rename(template)
            self.timings["template_create"] = time.monotonic() - t
            return template

    @contextlib.contextmanager
    def _template_lock(self, timeout: float = 300):
        lock_path = self.root / "template.lock"
        with open(lock_path, "a") as fh:
            deadline = time.monotonic() + timeout
            while True:
                try:
                    fcntl.flock(fh, fcntl.LOCK_EX | fcntl.LOCK_NB)
                    break
                except OSError as e:
                    if e.errno not in (errno.EAGAIN, errno.EACCES):
                        raise
                    if time.monotonic() > deadline:
                        raise WineBedError("another run holds %s for too long" % lock_path)
                    time.sleep(0.2)
            try:
                yield
            finally:
                fcntl.flock(fh, fcntl.LOCK_UN)

    def _discard_prefix(self, prefix: Path) -> None:
        """Removes a prefix left by an earlier run, ending its server first so
        nothing keeps running on deleted files."""
        if not prefix.exists():
            return
        if not str(prefix.resolve()).startswith(str(self.root) + os.sep):
            raise WineBedError("refusing to delete %s: outside %s" % (prefix, self.root))
        if (prefix / "system.reg").exists():
            env = self.env_for(prefix)
            for args in ([WINESERVER, "-k"], [WINESERVER, "-w"]):
                try:
                    subprocess.run(
                        args, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                        stderr=subprocess.DEVNULL, timeout=15,
                    )
                except subprocess.TimeoutExpired:
                    pass
        kill_prefix_processes(prefix)
        shutil.rmtree(prefix, ignore_errors=True)

    # ---- running programs ----------------------------------------------

    def _spawn_and_wait(self, argv, env, stdout, stderr, timeout) -> int:
        proc = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=stdout,
                                stderr=stderr, cwd=str(self.root))
        try:
            return _wait_exit(proc, timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            try:
                proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass
            raise WineBedError("%s timed out after %ss" % (" ".join(map(str, argv)), timeout))

    def _run_logged(self, argv: Sequence[str], env: dict, timeout: float) -> RunResult:
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            t = time.monotonic()
            rc = self._spawn_and_wait(list(argv), env, out, err, timeout)
            secs = time.monotonic() - t
            out.seek(0)
            err.seek(0)
            return RunResult(list(argv), rc, out.read(), err.read(), secs)

    def _run_host(self, argv: Sequence[str], timeout: float) -> None:
        r = subprocess.run(list(argv), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, timeout=timeout)
        if r.returncode != 0:
            raise WineBedError("%s failed: %s" % (" ".join(argv), r.stdout.decode(errors="replace")))

    def run(self, argv: Sequence[str], timeout: float = 30, capture_events: bool = False,
            check: bool = False) -> RunResult:
        """Runs a Windows program (`argv[0]` a Windows path or a builtin such
        as `reg`) with a time-out. With capture_events, its ReportEventW calls
        go to the event log like a service's (its stderr then goes there too).
        Raises WineBedError on time-out, or on a non-zero status when `check`."""
        self._require_started()
        full = [WINE64] + [str(a) for a in argv]
        if capture_events:
            with tempfile.TemporaryFile() as out, open(self.events_path, "ab") as events:
                t = time.monotonic()
                rc = self._spawn_and_wait(full, self.env("-all,+eventlog,fixme+advapi,+pid"),
                                          out, events, timeout)
                out.seek(0)
                result = RunResult(full, rc, out.read(), b"", time.monotonic() - t)
        else:
            result = self._run_logged(full, self.env(), timeout)
            # Two ways a busy machine loses a run that says nothing of the program:
            # - no Windows exit reads as SIGKILL: the wineserver kills a process whose threads
            #   outlive its exit by more than its grace, and the exit code is then lost (the
            #   check programs are idempotent);
            # - Wine's loader could not launch the program at all ("ShellExecuteEx failed:
            #   Internal error" from `sc start`), so it never ran.
            # Either way it runs once more.
            lost = result.returncode == -signal.SIGKILL
            never_ran = b"ShellExecuteEx failed" in result.stdout + result.stderr
            if lost or never_ran:
                sys.stderr.write("winebed: %s %s; running it again\n"
                                 % (" ".join(map(str, argv)),
                                    "was killed by the wineserver" if lost else "did not launch"))
                result = self._run_logged(full, self.env(), timeout)
        if check and result.returncode != 0:
            raise WineBedError(
                "%s exited %d\nstdout: %s\nstderr: %s"
                % (" ".join(map(str, argv)), result.returncode, result.out, result.err)
            )
        return result

    def agent(self, *args: str, timeout: float = 30) -> RunResult:
        """Runs C:\\orvsvc\\ORVSVC.exe by hand with `args` (as an administrator
        would for -install / -remove); see copy_in to put it there."""
        return self.run([AGENT_EXE] + list(args), timeout=timeout)

    def _require_started(self) -> None:
        if not self._started:
            raise WineBedError("the wine bed is not started")

    # ---- files ------------------------------------------------------------

    def host_path(self, windows_path: str) -> Path:
        """C:\\a\\b -> <prefix>/drive_c/a/b (drive C only)."""
        p = windows_path.replace("/", "\\")
        if not re.match(r"^[cC]:\\", p) and p.lower() != "c:":
            raise ValueError("only C:\\ paths map into the prefix: %r" % windows_path)
        parts = [s for s in p[3:].split("\\") if s]
        if any(s in (".", "..") for s in parts):
            raise ValueError("relative segments not allowed: %r" % windows_path)
        return self.prefix.joinpath("drive_c", *parts)

    @staticmethod
    def windows_path(host: Union[str, Path]) -> str:
        """A host path as Wine's Z: drive shows it."""
        return "Z:" + str(Path(host).resolve()).replace("/", "\\")

    def prepare_agent(self, proxy_port: int) -> None:
        """Creates the agent's settings keys and puts the agent behind the test cloud: the
        proxy 127.0.0.1:`proxy_port` for every request, and "uploader.xml" naming the
        staging host (plain HTTP), so nothing the agent sends leaves the loopback interface."""
        self.reg_import({key: {} for key in AGENT_KEYS})
        self.reg_add(STATUS_KEY, "ProxyEnable", "REG_DWORD", 1)
        self.reg_add(STATUS_KEY, "ProxyServer", "REG_SZ", "127.0.0.1")
        self.reg_add(STATUS_KEY, "ProxyPort", "REG_DWORD", proxy_port)
        self.host_path(AGENT_DIR + "\\uploader.xml").write_bytes(
            b'<?xml version="1.0" encoding="UTF-8"?>\r\n<config>'
            b"<auth_host>http://" + STAGING_API_HOST.encode() + b"/</auth_host></config>\r\n")

    def copy_in(self, src: Union[str, Path], windows_dir: str = AGENT_DIR,
                name: Optional[str] = None) -> str:
        """Copies a host file into a folder of the prefix; returns its Windows path."""
        src = Path(src)
        if not src.is_file():
            raise WineBedError("no such file to copy in: %s" % src)
        dest_dir = self.host_path(windows_dir)
        dest_dir.mkdir(parents=True, exist_ok=True)
        target_name = name or src.name
        if "/" in target_name or "\\" in target_name:
            raise ValueError("file name only: %r" % target_name)
        shutil.copy2(src, dest_dir / target_name)
        return windows_dir.rstrip("\\") + "\\" + target_name

    # ---- registry ---------------------------------------------------------

    def reg_add(self, key: str, name: Optional[str], reg_type: str, data: Union[str, int]) -> None:
        """`reg add KEY /v NAME /t TYPE /d DATA /f` (name None: default value).
        Raises WineBedError if reg refuses."""
        args = ["reg", "add", key]
        args += ["/ve"] if name is None else ["/v", name]
        args += ["/t", reg_type, "/d", str(data), "/f"]
        self.run(args, check=True)

    def reg_delete(self, key: str, name: Optional[str] = None) -> bool:
        """Deletes a value (or the whole key when name is None); False if absent."""
        args = ["reg", "delete", key] + (["/v", name] if name is not None else []) + ["/f"]
        return self.run(args).returncode == 0

    def reg_import(self, keys: Mapping) -> None:
        """Applies many values at once through `regedit /S` (see build_reg_file)."""
        self.reg_import_text(build_reg_file(keys))

    def reg_import_text(self, text: str) -> None:
        self._require_started()
        fd, path = tempfile.mkstemp(suffix=".reg", dir=self.tmp_dir)
        with os.fdopen(fd, "wb") as fh:
            fh.write(b"\xff\xfe" + text.encode("utf-16-le", errors="surrogatepass"))
        try:
            # Wine's regedit very rarely exits 1 on a file it imports fine a moment later (seen
            # once in a CI soak, never reproduced in 300 imports in a row). An import only sets
            # and deletes values, so doing it again is safe; a lasting failure still raises.
            for attempt in range(3):
                result = self.run(["regedit", "/S", self.windows_path(path)], timeout=60)
                if result.returncode == 0:
                    return
                time.sleep(0.5)
            raise WineBedError("regedit /S %s exited %d three times\nstdout: %s\nstderr: %s"
                               % (path, result.returncode, result.out, result.err))
        finally:
            os.unlink(path)

    def reg_export(self, key: str) -> Optional[dict]:
        """The key and its subkeys as {full key name: {name: RegValue}}, read
        exactly (UTF-16) through `reg export`; None when the key is missing."""
        self._require_started()
        fd, path = tempfile.mkstemp(suffix=".reg", dir=self.tmp_dir)
        os.close(fd)
        try:
            r = self.run(["reg", "export", key, self.windows_path(path), "/y"])
            data = Path(path).read_bytes()
        finally:
            os.unlink(path)
        if r.returncode != 0:
            if "unable to find" in (r.out + r.err).lower():
                return None
            raise WineBedError("reg export %s failed (%d): %s%s" % (key, r.returncode, r.out, r.err))
        return parse_reg_file(data.decode("utf-16", errors="surrogatepass"))

    def reg_values(self, key: str) -> Optional[dict]:
        """Values of exactly this key ({name: RegValue}); None when it is missing."""
        exported = self.reg_export(key)
        if exported is None:
            return None
        wanted = full_key_name(key).lower()
        for name, values in exported.items():
            if name.lower() == wanted:
                return values
        raise WineBedError("reg export of %s did not contain the key itself" % key)

    # ---- services ---------------------------------------------------------

    def svcctl(self, *args: str, timeout: float = 30) -> RunResult:
        return self.run([TOOLS_DIR + "\\svcctl.exe"] + list(args), timeout=timeout)

    @staticmethod
    def _svcctl_error(result: RunResult) -> Optional[int]:
        m = _SVCCTL_ERROR_RE.search(result.err)
        return int(m.group(1)) if m else None

    def query(self, service: str) -> Optional[ServiceStatus]:
        """Current status; None when the service does not exist."""
        r = self.svcctl("query", service)
        if r.returncode == 0:
            status = parse_status(r.out)
            if status is None:
                raise WineBedError("unreadable svcctl output: %r" % r.out)
            return status
        code = self._svcctl_error(r)
        if code == ERROR_SERVICE_DOES_NOT_EXIST:
            return None
        raise SvcctlError("svcctl query %s failed: %s" % (service, r.err.strip()), code)

    def config(self, service: str) -> dict:
        """type/start/error (ints) and account/binary/display/description (str)."""
        r = self.svcctl("config", service)
        if r.returncode != 0:
            raise SvcctlError("svcctl config %s failed: %s" % (service, r.err.strip()),
                              self._svcctl_error(r))
        result = {}
        for line in r.out.split("\n"):
            if "=" in line:
                k, v = line.split("=", 1)
                result[k] = int(v) if k in ("type", "start", "error") else v
        return result

    def control(self, service: str, code: int) -> ServiceStatus:
        """Sends a control code; returns the status the manager answered.
        Raises SvcctlError (with .win32_error) when the control is refused."""
        r = self.svcctl("control", service, str(code))
        if r.returncode != 0:
            raise SvcctlError("control %d to %s failed: %s" % (code, service, r.err.strip()),
                              self._svcctl_error(r))
        status = parse_status(r.out)
        if status is None:
            raise WineBedError("unreadable svcctl output: %r" % r.out)
        return status

    def wait_state(self, service: str, state: int, timeout: float = 10) -> ServiceStatus:
        """Waits until the service is in `state`; raises WineBedError on time-out."""
        deadline = time.monotonic() + timeout
        while True:
            left = max(0.05, deadline - time.monotonic())
            r = self.svcctl("wait", service, str(state), str(int(left * 1000)), timeout=left + 15)
            if r.returncode == 0:
                break
            code = self._svcctl_error(r)
            # svcctl says "timed out" when its own wait elapsed. Any other failure is the
            # control manager or the launch of svcctl failing; Wine does so now and then while
            # a service process ends (seen once in a CI soak: the wait failed 0.1 s into a stop
            # that then completed), so within the time left it asks again, saying so on stderr.
            timed_out = "timed out" in r.err
            if timed_out or code == ERROR_SERVICE_DOES_NOT_EXIST or time.monotonic() >= deadline:
                raise SvcctlError("%s did not reach state %d within %ss: %s"
                                  % (service, state, timeout, r.err.strip()), code)
            print("winebed: svcctl wait %s failed (%s); asking again" % (service, r.err.strip()),
                  file=sys.stderr, flush=True)
            time.sleep(0.1)
        status = parse_status(r.out)
        if status is None:
            raise WineBedError("unreadable svcctl output: %r" % r.out)
        return status

    def wait_gone(self, service: str, timeout: float = 10) -> None:
        """Waits until the service no longer exists (deletion can wait for its stop)."""
        deadline = time.monotonic() + timeout
        while self.query(service) is not None:
            if time.monotonic() > deadline:
                raise WineBedError("%s still exists after %ss" % (service, timeout))
            time.sleep(0.05)

    def sc(self, *args: str, timeout: float = 30) -> RunResult:
        return self.run(["sc"] + list(args), timeout=timeout)

    def start_service(self, service: str, timeout: float = 15) -> ServiceStatus:
        """`sc start`, then waits for running. Raises WineBedError otherwise."""
        r = self.sc("start", service)
        try:
            return self.wait_state(service, SERVICE_RUNNING, timeout)
        except WineBedError as e:
            raise WineBedError("%s (sc start exited %d: %s)" % (e, r.returncode, r.out.strip()))

    def stop_service(self, service: str, timeout: float = 15) -> ServiceStatus:
        """`sc stop`, then waits for stopped."""
        self.sc("stop", service)
        return self.wait_state(service, SERVICE_STOPPED, timeout)

    # ---- the agent's message pool and the event log ---------------------

    def clear_pool(self) -> None:
        pool = self.host_path(AGENT_DIR + "\\MessagePool")
        for path in pool.glob("R*.json") if pool.is_dir() else []:
            path.unlink()

    def event_log_text(self) -> str:
        try:
            return self.events_path.read_bytes().decode("utf-8", errors="replace")
        except FileNotFoundError:
            return ""

    def events(self) -> list:
        """Every entry captured so far, oldest first."""
        return parse_event_log(self.event_log_text())

    def event_mark(self) -> int:
        """A position in the captured entries; pass to events_since/wait_event."""
        return len(self.events())

    def events_since(self, mark: int) -> list:
        return self.events()[mark:]

    def wait_event(self, predicate: Callable[[EventEntry], bool], timeout: float = 10,
                   since: int = 0) -> EventEntry:
        """Waits for an entry (at or after `since`) that satisfies `predicate`.
        Raises WineBedError listing what was captured if none comes in time."""
        deadline = time.monotonic() + timeout
        while True:
            for entry in self.events()[since:]:
                if predicate(entry):
                    return entry
            if time.monotonic() > deadline:
                seen = "\n  ".join(str(e) for e in self.events()[since:]) or "(nothing)"
                raise WineBedError("no matching event within %ss; captured:\n  %s" % (timeout, seen))
            time.sleep(0.05)


# --------------------------------------------------------------------------
# The agent's fixture: one bed per test module, the agent installed behind the test cloud
# --------------------------------------------------------------------------

# Registered and monitoring, with the first-start event already sent.
REGISTERED = {"DEVICEID": bytes.fromhex(DEVICE_ID), "ServiceStatus": 2, "InitEvent": 1}
# A start waits up to 30 s for a network and a stop for the same; a watcher caught in a slow
# system call (WMI under a loaded Wine) is waited for up to a minute.
START_TIMEOUT = 40
STOP_TIMEOUT = 75


class AgentModule:
    """The real agent of one test module: a bed with ORVSVC.exe (and `agent_files` beside it,
    `tools` in TOOLS_DIR), its settings keys, the test cloud as its proxy with the device
    registered, `settings` in its Status key, `keys` imported (see build_reg_file) and the
    service installed. Nothing it sends leaves the loopback interface. Use:

        agent = winebed.AgentModule("name", settings={...})
        setUpModule, tearDownModule = agent.set_up, agent.tear_down
        class SomeTest(winebed.AgentTest): ...
    """

    def __init__(self, name: str, settings: Optional[Mapping] = None, keys: Optional[Mapping] = None,
                 agent_files: Sequence[str] = (), tools: Sequence[str] = (), install: bool = True):
        self.name = name
        self.settings = dict(REGISTERED, **(settings or {}))
        self.keys = keys or {}
        self.programs = {"ORVSVC.exe": AGENT_DIR, **{f: AGENT_DIR for f in agent_files},
                         **{f: TOOLS_DIR for f in tools}}
        self.install = install
        self.bed: Optional[WineBed] = None
        self.cloud = None

    def set_up(self) -> None:
        from test_cloud import TestCloud

        self.bed = module_bed(self.name, self.programs)
        try:
            self.cloud = TestCloud()
            self.cloud.start()
            self.cloud.add_device(DEVICE_TEXT)
            self.bed.prepare_agent(self.cloud.port)
            self.bed.reg_import({STATUS_KEY: self.settings, **self.keys})
            if self.install:
                result = self.bed.agent("-install")
                if self.bed.query(SERVICE) is None:
                    raise WineBedError("-install did not create the service: %r" % result.out)
        except BaseException:
            self.tear_down()
            raise

    def tear_down(self) -> None:
        if self.bed is not None:
            self.bed.close()
        if self.cloud is not None:
            self.cloud.stop()

    # ---- the service ----

    def start(self, entry: int = MONITORING) -> int:
        """Starts the service and waits for the log entry `entry`; returns the mark before."""
        mark = self.bed.event_mark()
        self.bed.start_service(SERVICE, START_TIMEOUT)
        self.wait_entry(entry, mark)
        return mark

    def stop(self) -> None:
        status = self.bed.query(SERVICE)
        if status is not None and status.state != SERVICE_STOPPED:
            self.bed.stop_service(SERVICE, STOP_TIMEOUT)

    def control(self, code: int) -> ServiceStatus:
        return self.bed.control(SERVICE, code)

    # ---- what it leaves ----

    def entries(self, event_id: int, mark: int = 0) -> list:
        return [e for e in self.bed.events_since(mark) if e.event_id == event_id]

    def wait_entry(self, event_id: int, mark: int = 0, timeout: float = START_TIMEOUT) -> EventEntry:
        return self.bed.wait_event(lambda e: e.event_id == event_id, timeout=timeout, since=mark)

    def status_value(self, name: str, key: str = STATUS_KEY):
        value = self.bed.reg_values(key).get(name)
        return None if value is None else value.data

    def messages(self, prefix: str = "RE") -> list:
        """The pool's messages of one kind, oldest first. The agent holds a file exclusively
        while writing it, which the host side of Wine does not see: one caught half-written
        is left for the next look."""
        pool = self.bed.host_path(AGENT_DIR + "\\MessagePool")
        found = []
        for path in sorted(pool.glob(prefix + "[[]*].json"), key=lambda p: int(p.name[3:-6], 16)) \
                if pool.is_dir() else []:
            try:
                data = path.read_bytes()
                if not data.startswith(b"\xef\xbb\xbf"):
                    raise ValueError("no byte order mark")
                found.append(json.loads(data[3:].decode("utf-8")))
            except (OSError, ValueError):
                continue
        return found

    def events(self, act_id: int, act_sts: Optional[int] = None) -> list:
        return [e for e in self.messages("RE")
                if e["act_id"] == act_id and (act_sts is None or e["act_sts"] == act_sts)]

    def clear_pool(self) -> None:
        self.bed.clear_pool()

    def wait_for(self, condition: Callable, what: str = "condition", timeout: float = 30.0):
        """Polls `condition` until it gives something true, and returns that."""
        deadline = time.monotonic() + timeout
        while True:
            value = condition()
            if value:
                return value
            if time.monotonic() > deadline:
                raise AssertionError("%s not seen within %.0f s; events in the pool: %r" % (
                    what, timeout, [(e["act_id"], e.get("act_sts")) for e in self.messages("RE")]))
            time.sleep(0.1)


class AgentTest(unittest.TestCase):
    """Each test starts with an empty pool and ends with the service stopped."""

    agent: AgentModule

    def setUp(self):
        self.agent.clear_pool()
        self.addCleanup(self.agent.stop)


def _watchdog_main(prefix: str, owner: int) -> int:
    """Waits for the owner to die (SIGTERM via PR_SET_PDEATHSIG, or being
    re-parented), then ends every process of the prefix. After a clean close
    the owner SIGKILLs the watchdog instead."""
    signal.pthread_sigmask(signal.SIG_BLOCK, [signal.SIGTERM])
    while os.getppid() == owner:
        if signal.sigtimedwait([signal.SIGTERM], 1.0) is not None:
            break
    kill_prefix_processes(prefix)
    return 0


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "--watchdog":
        sys.exit(_watchdog_main(sys.argv[2], int(sys.argv[3])))
    print("usage: winebed.py --watchdog PREFIX OWNER_PID  (internal)", file=sys.stderr)
    sys.exit(2)

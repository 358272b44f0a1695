#!/usr/bin/env python3
"""What a quiet round of the real service costs under Wine: server requests, CPU, memory.

Installs ORVSVC.exe in a throw-away Wine prefix (the testbed's WineBed) as a registered agent
on a four-bay NAS appliance whose values never change, with every monitor on and a round every
second, and then measures over a window of quiet rounds:

* the process's CPU time per round (utime + stime of /proc/PID/stat over the window, divided
  by the rounds in it), and the same for the idle baseline: the same service with a round once
  an hour, so only its waiting threads and Wine's own run;
* its resident memory (VmRSS, VmHWM) after start and after the window, and its thread count;
* with --trace, the wineserver's request trace (wineserver -d1) of the service's threads over
  the window, counted by kind per round: key opens by key name, value reads, value writes and
  deletes, key enumerations (device walks), COM class look-ups (opens of a CLSID key).

Nothing leaves the loopback interface: the agent's proxy is the testbed's cloud. Standard
library only; needs the windows build (ORVSVC.exe, svcctl.exe):

    python3 tools/wine_round_cost.py --bin-dir build/windows/bin [--window 30] [--trace]
"""

from __future__ import annotations

import argparse
import collections
import os
import re
import signal
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "testbed" / "wine"))
sys.path.insert(0, str(ROOT / "testbed" / "cloud"))

import winebed as wb  # noqa: E402
from test_cloud import TestCloud  # noqa: E402

NAS_KEY = r"HKLM\SOFTWARE\ORVANE\ORVSVC\NAS"
FRONT_PANEL = r"HKLM\SOFTWARE\Wow6432Node\MERIDEX\FrontLcd\Config"
BACKUP_PRODUCT = r"HKLM\SOFTWARE\Wow6432Node\MERIDEX\VaultBackup"
PRODUCT_ROOT = r"HKLM\SOFTWARE\Wow6432Node\MERIDEX\Applications\UnitDeck"
# A four-bay appliance of the LCD series on Windows Server 2019: every monitor runs.
APPLIANCE_FLAGS = 0x100000 | 0x2000 | 0x8
TICKS = os.sysconf("SC_CLK_TCK")


class TracedBed(wb.WineBed):
    """A WineBed whose server writes its request trace (-d1) to the server log."""

    trace = False

    def _start_server(self, prefix, log_path):
        if not self.trace:
            return super()._start_server(prefix, log_path)
        Path(log_path).write_bytes(b"")  # the trace of this bed alone
        real = wb.WINESERVER
        wb.WINESERVER = str(self.root / "wineserver-d1")
        try:
            script = Path(wb.WINESERVER)
            script.write_text('#!/bin/sh\nexec %s -d1 "$@"\n' % real)
            script.chmod(0o755)
            return super()._start_server(prefix, log_path)
        finally:
            wb.WINESERVER = real


def cpu_ticks(pid: int) -> int:
    fields = Path("/proc/%d/stat" % pid).read_text().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime, stime


def cpu_ns(pid: int) -> int:
    """Time on the CPU of the process's live threads, in ns (schedstat: finer than the ticks)."""
    total = 0
    for tid in os.listdir("/proc/%d/task" % pid):
        try:
            total += int(Path("/proc/%d/task/%s/schedstat" % (pid, tid)).read_text().split()[0])
        except (OSError, ValueError, IndexError):
            continue  # ended meanwhile
    return total


def status_fields(pid: int) -> dict:
    out = {}
    for line in Path("/proc/%d/status" % pid).read_text().splitlines():
        name, _, value = line.partition(":")
        if name in ("VmRSS", "VmHWM", "VmSize", "Threads", "RssAnon", "RssFile"):
            out[name] = value.strip()
    return out


def rss_by_mapping(pid: int, top: int = 25) -> list:
    """The largest resident parts of the process, by mapped file (anonymous memory as one)."""
    sizes = collections.Counter()
    current = None
    for line in Path("/proc/%d/smaps" % pid).read_text().splitlines():
        head = line.split()
        if head and re.match(r"^[0-9a-f]+-[0-9a-f]+$", head[0]):
            current = head[5] if len(head) > 5 else "[anonymous]"
        elif head and head[0] == "Rss:":
            sizes[Path(current).name if current.startswith("/") else current] += int(head[1])
    return sizes.most_common(top)


def service_pid(bed: wb.WineBed) -> int:
    for pid in wb.prefix_processes(bed.prefix):
        try:
            cmd = Path("/proc/%d/cmdline" % pid).read_bytes()
        except OSError:
            continue
        if b"ORVSVC.exe" in cmd:
            return pid
    raise RuntimeError("no ORVSVC.exe process in %s" % bed.prefix)


def set_up(bed: wb.WineBed, cloud: TestCloud, interval: int, extra: dict) -> None:
    bed.prepare_agent(cloud.port)
    cloud.add_device(wb.DEVICE_TEXT)
    bed.reg_add(wb.STATUS_KEY, "DEVICEID", "REG_BINARY", wb.DEVICE_ID)
    bed.reg_add(wb.STATUS_KEY, "ServiceStatus", "REG_DWORD", 2)
    bed.reg_add(wb.STATUS_KEY, "InitEvent", "REG_DWORD", 1)
    bed.reg_add(wb.STATUS_KEY, "CheckInterval", "REG_DWORD", interval)
    for name, value in extra.items():
        bed.reg_add(wb.STATUS_KEY, name, "REG_DWORD", value)
    bed.reg_import({r"HKLM\SOFTWARE\MERIDEX\NAS": {},
                    r"HKLM\SOFTWARE\Wow6432Node\MERIDEX\UnitDeck": {"ModelInfo": APPLIANCE_FLAGS},
                    FRONT_PANEL: {"CpuFan": 2600, "CpuTemp": 45, "SysFan": 1800},
                    BACKUP_PRODUCT: {},
                    PRODUCT_ROOT + r"\SVCMAIL": {"host": "smtp.example.jp", "mail1": "owner@example.jp"},
                    PRODUCT_ROOT + r"\SVCPOWMGR": {"ScheduleEnable": 0}})
    bed.agent("-install")
    if bed.query(wb.SERVICE) is None:
        raise RuntimeError("-install did not create the service")


# A request line of `wineserver -d1`: "TTTT: name( args )"; replies are "TTTT: name() = ...".
REQUEST = re.compile(r"^([0-9a-f]{4,8}): (\w+)\((.*)$")
NAME = re.compile(r'name=L"((?:[^"\\]|\\.)*)"')
CLSID = re.compile(r"\{[0-9A-Fa-f]{8}-[0-9A-Fa-f-]{27}\}")


def service_threads(lines: list, pid: int) -> set:
    """The server's thread ids of unix process `pid`: its first thread, and every thread one of
    them created in the process itself (new_thread with the current-process handle)."""
    threads = set()
    creator = None
    for line in lines:
        m = re.match(r"^([0-9a-f]{4,8}): init_first_thread\( unix_pid=(\d+)", line)
        if m and int(m.group(2)) == pid:
            threads.add(m.group(1))
            continue
        m = re.match(r"^([0-9a-f]{4,8}): new_thread\( process=ffffffff", line)
        if m:
            creator = m.group(1)
            continue
        m = re.match(r"^([0-9a-f]{4,8}): new_thread\(\) = 0 \{ tid=([0-9a-f]+)", line)
        if m and m.group(1) == creator:
            if creator in threads:
                threads.add(m.group(2))
            creator = None
    return threads


def thread_modules(lines: list, pid: int, smaps: str) -> list:
    """For each live thread of `pid`: the module its start address lies in (from the trace's
    init_thread entry points and the process's mappings)."""
    entries = {}
    for line in lines:
        m = re.match(r"^[0-9a-f]{4,8}: init_thread\( unix_tid=(\d+),.*entry=([0-9a-f]+)", line)
        if m:
            entries[int(m.group(1))] = int(m.group(2), 16)
    ranges = []
    for line in smaps.splitlines():
        head = line.split()
        if head and re.match(r"^[0-9a-f]+-[0-9a-f]+$", head[0]) and len(head) > 5:
            low, high = (int(x, 16) for x in head[0].split("-"))
            ranges.append((low, high, Path(head[5]).name))
    found = []
    for tid in sorted(int(t) for t in os.listdir("/proc/%d/task" % pid)):
        entry = entries.get(tid)
        module = "the process's first thread" if tid == pid else "?"
        if entry is not None:
            module = next((name for low, high, name in ranges if low <= entry < high), "?")
        found.append((tid, module))
    return found


def count_requests(lines: list, threads: set) -> collections.Counter:
    kinds = collections.Counter()
    for line in lines:
        m = REQUEST.match(line)
        if not m or m.group(1) not in threads or m.group(3).startswith(") ="):
            continue
        request, args = m.group(2), m.group(3)
        kinds["all requests"] += 1
        if request in ("open_key", "create_key"):
            name = NAME.search(args)
            key = name.group(1) if name else "?"
            kinds["key opens"] += 1
            kinds["  open " + key[-70:]] += 1
            if CLSID.search(key) and "CLSID" in key.upper():
                kinds["COM class look-ups (CLSID keys)"] += 1
        elif request == "get_key_value":
            kinds["value reads"] += 1
        elif request == "set_key_value":
            kinds["value writes"] += 1
        elif request == "delete_key_value":
            kinds["value deletes"] += 1
        elif request in ("enum_key", "enum_key_value"):
            kinds["key enumerations (" + request + ")"] += 1
        else:
            kinds["other: " + request] += 1
    return kinds


def rounds_by_size(lines: list, threads: set) -> list:
    """The window's rounds grouped by how many requests each made: (requests, rounds, a sample
    round's requests in order). A round starts where the worker thread begins its wait for the
    next round (a select whose time-out is the one-second interval)."""
    rounds, current = [], None
    for line in lines:
        m = REQUEST.match(line)
        if not m or m.group(1) not in threads or m.group(3).startswith(") ="):
            continue
        if m.group(2) == "select" and re.search(r"timeout=\+0\.9\d*,", m.group(3)):
            if current is not None:
                rounds.append(current)
            current = []
        if current is not None:
            name = NAME.search(m.group(3))
            current.append(m.group(2) + (" " + name.group(1)[-60:] if name else ""))
    groups = collections.OrderedDict()
    for requests in rounds:
        groups.setdefault(len(requests), []).append(requests)
    return sorted(((size, len(group), group[0]) for size, group in groups.items()), key=lambda g: -g[1])


def measure(bin_dir: Path, interval: int, settle: float, window: float, trace: bool, keep: bool,
            extra: dict, profile: bool = False) -> dict:
    wb.install_sigterm_cleanup()
    name = "roundcost%d%s" % (interval, "t" if trace else "")
    bed = TracedBed(bin_dir.parent, name=name, bin_dir=bin_dir, keep_prefix=keep)
    bed.trace = trace
    cloud = TestCloud()
    result = {"interval": interval}
    try:
        bed.start()
        bed.copy_in(bin_dir / "ORVSVC.exe", wb.AGENT_DIR)
        cloud.start()
        set_up(bed, cloud, interval, extra)
        mark = bed.event_mark()
        bed.start_service(wb.SERVICE, 40)
        bed.wait_event(lambda e: e.event_id == wb.MONITORING, timeout=40, since=mark)
        pid = service_pid(bed)
        time.sleep(settle)
        result["after start"] = status_fields(pid)
        result["mappings"] = rss_by_mapping(pid)
        smaps = Path("/proc/%d/smaps" % pid).read_text()
        (bed.root / (name + ".smaps")).write_text(smaps)
        if trace:
            with open(bed.server_log, "rb") as fh:
                started = fh.read().decode("utf-8", "replace").splitlines()
            result["threads"] = thread_modules(started, pid, smaps)
        log_mark = bed.server_log.stat().st_size if trace else 0
        recorder = None
        if profile:
            recorder = subprocess.Popen(["perf", "record", "-q", "-F", "4999", "-o", str(bed.root / (name + ".perf")),
                                         "-p", str(pid)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        t0, c0, n0 = time.monotonic(), cpu_ticks(pid), cpu_ns(pid)
        time.sleep(window)
        t1, c1, n1 = time.monotonic(), cpu_ticks(pid), cpu_ns(pid)
        result["cpu ms (schedstat)"] = (n1 - n0) / 1e6
        if recorder is not None:
            recorder.send_signal(signal.SIGINT)
            recorder.wait(timeout=60)
            report = subprocess.run(["perf", "report", "-q", "-i", str(bed.root / (name + ".perf")),
                                     "--sort", "dso", "--stdio"], stdout=subprocess.PIPE,
                                    stderr=subprocess.DEVNULL, timeout=120)
            result["profile"] = report.stdout.decode(errors="replace")
        log_end = bed.server_log.stat().st_size if trace else 0
        result["after window"] = status_fields(pid)
        result["seconds"] = t1 - t0
        result["cpu ms"] = (c1 - c0) * 1000.0 / TICKS
        if trace:
            with open(bed.server_log, "rb") as fh:
                text = fh.read(log_end).decode("utf-8", "replace").splitlines()
            threads = service_threads(text, pid)
            with open(bed.server_log, "rb") as fh:
                fh.seek(log_mark)
                window_lines = fh.read(log_end - log_mark).decode("utf-8", "replace").splitlines()
            result["threads traced"] = len(threads)
            result["requests"] = count_requests(window_lines, threads)
            result["rounds by size"] = rounds_by_size(window_lines, threads)
        bed.stop_service(wb.SERVICE, 75)
    finally:
        bed.close()
        cloud.stop()
    return result


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bin-dir", type=Path, default=ROOT / "build" / "windows" / "bin")
    parser.add_argument("--settle", type=float, default=10.0, help="seconds after the start")
    parser.add_argument("--window", type=float, default=30.0, help="seconds measured")
    parser.add_argument("--trace", action="store_true", help="count the server requests")
    parser.add_argument("--no-baseline", action="store_true")
    parser.add_argument("--set", action="append", default=[], metavar="NAME=DWORD",
                        help="one more Status value (e.g. UPSCheckStop=1)")
    parser.add_argument("--mappings", action="store_true", help="print resident memory by mapping")
    parser.add_argument("--profile", action="store_true",
                        help="sample the service with perf over the window (CPU figures then include perf's own)")
    parser.add_argument("--keep", action="store_true", help="keep the prefixes")
    parser.add_argument("--rounds", action="store_true",
                        help="with --trace: the rounds grouped by their number of requests, with one round of each size")
    args = parser.parse_args()
    bin_dir = args.bin_dir.resolve()

    extra = {name: int(value, 0) for name, value in (item.split("=", 1) for item in args.set)}
    quiet = measure(bin_dir, 1, args.settle, args.window, args.trace, args.keep, extra, args.profile)
    rounds = quiet["seconds"] / quiet["interval"]
    print("quiet rounds at CheckInterval 1: %.1f s, about %.0f rounds" % (quiet["seconds"], rounds))
    print("  CPU: %.1f ms in all, %.2f ms per round (utime+stime); %.1f ms, %.2f ms per round (schedstat)"
          % (quiet["cpu ms"], quiet["cpu ms"] / rounds, quiet["cpu ms (schedstat)"],
             quiet["cpu ms (schedstat)"] / rounds))
    print("  after start:  %s" % quiet["after start"])
    print("  after window: %s" % quiet["after window"])
    if args.profile:
        print("where the service's CPU went (perf samples by module):")
        print("\n".join("  " + line.strip() for line in quiet["profile"].splitlines()[:25] if line.strip()))
    if args.trace:
        print("  threads after start, by the module they started in: %s" % ", ".join(
            "%s" % module for _, module in quiet["threads"]))
    if args.mappings:
        for name, kb in quiet["mappings"]:
            print("  %8d kB  %s" % (kb, name))
    if not args.no_baseline:
        idle = measure(bin_dir, 3600, args.settle, args.window, False, args.keep, extra)
        print("idle baseline (CheckInterval 3600): %.1f s" % idle["seconds"])
        print("  CPU: %.1f ms in all, %.2f ms per second (utime+stime); %.1f ms, %.2f ms per second (schedstat)"
              % (idle["cpu ms"], idle["cpu ms"] / idle["seconds"], idle["cpu ms (schedstat)"],
                 idle["cpu ms (schedstat)"] / idle["seconds"]))
        print("  after start:  %s" % idle["after start"])
        net = (quiet["cpu ms (schedstat)"] - idle["cpu ms (schedstat)"] * quiet["seconds"] / idle["seconds"]) / rounds
        print("  quiet round net of the idle baseline: %.2f ms (schedstat)" % net)
    if args.trace:
        print("server requests of the service's %d threads, per round:" % quiet["threads traced"])
        for kind, count in sorted(quiet["requests"].items(), key=lambda kv: (-kv[1], kv[0])):
            if count / rounds >= 0.5:
                print("  %8.1f  %s" % (count / rounds, kind))
    if args.trace and args.rounds:
        print("rounds by their number of requests (the worker's wait for the next round included):")
        for size, count, sample in quiet["rounds by size"]:
            print("  %3d rounds of %d requests:" % (count, size))
            for request, times in collections.Counter(sample).most_common():
                print("      %3d  %s" % (times, request))
    return 0


if __name__ == "__main__":
    sys.exit(main())

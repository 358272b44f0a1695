#!/usr/bin/env python3
"""Shows ORVSVC running as a real Windows service under Wine, start to end.

    demo.py BIN_DIR BUILD_DIR [--keep]

BIN_DIR holds ORVSVC.exe, svcctl.exe and the stand-in uploader ORVUPLD.exe (a
cross build's bin folder); BUILD_DIR gets the throw-away Wine prefix under
BUILD_DIR/wine. The demo starts a test cloud on 127.0.0.1 (the agent's proxy:
nothing leaves the machine) that knows the demo device, installs the service,
starts it, shows its state, what it asked the cloud and what it wrote to the
event log, asks it for a test event (control 128) and shows the message files
the stand-in uploader takes from the pool. Then it follows the road of one
event on a simulated appliance of the LCD series: the front panel's processor
fan value drops below CPUFanThreshold, the agent writes the 4080 event and an
event-triggered status whose "cpu" lists the open condition, both reach the
uploader; the fan recovers and the closing event (act_sts 3) follows. Then it
stops the service, removes it and cleans up. --keep leaves the prefix behind for a look around
(WINEPREFIX=BUILD_DIR/wine/prefix-demo).
"""

import argparse
import json
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "testbed" / "wine"))

import winebed as wb  # noqa: E402
from test_cloud import TestCloud  # noqa: E402

SERVICE = "ORVSVC"
DEVICE_ID = "0102030405060708090a0b0c0d0e0f10"
DEVICE_TEXT = "0403020106050807090A0B0C0D0E0F10"  # the GUID's text: three leading fields reversed
# A four-bay appliance of the LCD series on Windows Server 2019, as the maker's key tells it.
APPLIANCE_FLAGS = 0x100000 | 0x2000 | 0x8
FRONT_PANEL = r"HKLM\SOFTWARE\Wow6432Node\MERIDEX\FrontLcd\Config"
STATE_NAMES = {
    wb.SERVICE_STOPPED: "stopped",
    wb.SERVICE_START_PENDING: "start pending",
    wb.SERVICE_STOP_PENDING: "stop pending",
    wb.SERVICE_RUNNING: "running",
    wb.SERVICE_CONTINUE_PENDING: "continue pending",
    wb.SERVICE_PAUSE_PENDING: "pause pending",
    wb.SERVICE_PAUSED: "paused",
}

_t0 = time.monotonic()


def say(text=""):
    print("[%5.1fs] %s" % (time.monotonic() - _t0, text) if text else "", flush=True)


def show_status(status):
    if status is None:
        say("  service: not installed")
        return
    say("  state:    %d (%s)" % (status.state, STATE_NAMES.get(status.state, "?")))
    say("  exit:     win32 %d, service-specific %d" % (status.exit, status.specific))
    say("  accepts:  0x%03X" % status.accepted)


def show_events(entries):
    if not entries:
        say("  (no entries)")
    for e in entries:
        ident = "0x%08X" % e.event_id if e.event_id is not None else "?"
        head = "  %-11s %s  source %s" % (e.type_name, ident, e.source or "?")
        say(head)
        for s in e.strings:
            for line in s.splitlines() or [""]:
                say("      " + line)
        if e.truncated:
            say("      (cut short by Wine's debug output)")


def show_requests(requests):
    for r in requests:
        say("  %-4s http://%s%s -> %d" % (r.method, r.host, r.path, r.status))
        for name in ("User-Agent", "X-NASAPI-Device-Subkey", "X-Device-Id"):
            if r.header(name) is not None:
                say("        %s: %s" % (name, r.header(name)))


def taken(bed):
    """The message files the stand-in uploader has taken from the pool so far, oldest first."""
    folder = bed.host_path(wb.AGENT_DIR + "\\ORVUPLD.taken")
    return sorted(folder.glob("R*.json"), key=lambda p: p.stat().st_mtime_ns) if folder.is_dir() else []


def show_upload(path):
    data = path.read_bytes()
    say("  %s (%d bytes)" % (path.name, len(data)))
    try:
        message = json.loads(data[3:].decode("utf-8"))
    except ValueError as error:
        say("      not JSON: %s" % error)
        return
    keys = ("type", "dev_id", "act_id", "act_sts", "act_para", "msg", "sts_type", "pow_sts", "date")
    for key in keys:
        if key in message:
            say("      %-8s %s" % (key + ":", json.dumps(message[key], ensure_ascii=False)))
    for cpu in message.get("cpu", []):
        say("      cpu:     fan_rpm %s, tmp %s, open conditions %s" % (
            cpu.get("fan_rpm"), cpu.get("tmp"),
            json.dumps([(s["act_id"], s["msg"]) for s in cpu.get("sts", [])], ensure_ascii=False)))


def show_new_uploads(bed, seen, count):
    """Waits for `count` files after the first `seen` to reach the uploader and shows them."""
    deadline = time.monotonic() + 40
    while len(taken(bed)) < seen + count and time.monotonic() < deadline:
        time.sleep(0.2)
    if len(taken(bed)) < seen + count:
        say("  (the messages did not reach the uploader within 40 s)")
    say("  Taken from the pool by the uploader:")
    for path in taken(bed)[seen:]:
        show_upload(path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("bin_dir")
    parser.add_argument("build_dir")
    parser.add_argument("--keep", action="store_true", help="keep the Wine prefix")
    args = parser.parse_args()

    bin_dir = Path(args.bin_dir)
    for program in ("ORVSVC.exe", "svcctl.exe", "ORVUPLD.exe"):
        if not (bin_dir / program).is_file():
            print("%s not found in %s" % (program, bin_dir), file=sys.stderr)
            return 2

    wb.install_sigterm_cleanup()
    cloud = TestCloud()
    cloud.start()
    cloud.add_device(DEVICE_TEXT)
    say("Test cloud (and proxy) listening on %s; it knows device %s" % (cloud.proxy, DEVICE_TEXT))
    say("Preparing a throw-away Wine prefix under %s/wine ..." % Path(args.build_dir).resolve())
    try:
        with wb.WineBed(args.build_dir, name="demo", bin_dir=bin_dir, keep_prefix=args.keep,
                        log=lambda m: say("  " + m)) as bed:
            run_demo(bed, cloud, bin_dir)
            say("Shutting the prefix down%s ..." % (" (kept)" if args.keep else " and removing it"))
    finally:
        cloud.stop()
    say("Done. Raw event-log capture: %s" % bed.events_path)
    return 0


def run_demo(bed, cloud, bin_dir):
    exe = bed.copy_in(bin_dir / "ORVSVC.exe", wb.AGENT_DIR)
    bed.copy_in(bin_dir / "ORVUPLD.exe", wb.AGENT_DIR)
    # The product installer creates the agent's settings keys and the settings program
    # stores the device identifier and the proxy: here the proxy is the test cloud.
    bed.prepare_agent(cloud.port)
    bed.reg_add(wb.STATUS_KEY, "DEVICEID", "REG_BINARY", DEVICE_ID)
    bed.reg_add(wb.STATUS_KEY, "ServiceStatus", "REG_DWORD", 2)
    # The maker's components: the model key and the front panel publishing the fan speed.
    bed.reg_import({r"HKLM\SOFTWARE\MERIDEX\NAS": {},
                    r"HKLM\SOFTWARE\Wow6432Node\MERIDEX\UnitDeck": {"ModelInfo": APPLIANCE_FLAGS},
                    FRONT_PANEL: {"CpuFan": 2600, "CpuTemp": 45, "SysFan": 1800}})
    bed.reg_add(wb.STATUS_KEY, "CheckInterval", "REG_DWORD", 2)
    say("Copied ORVSVC.exe and the stand-in ORVUPLD.exe to %s" % wb.AGENT_DIR)
    say("Simulated appliance: model flags 0x%06X, front panel CpuFan 2600 rpm, CPUFanThreshold 2000 (default),"
        " check interval 2 s" % APPLIANCE_FLAGS)
    say()

    say("1. %s -install" % exe)
    result = bed.run([exe, "-install"])
    say("  exit code %d, console output: %s" % (result.returncode, result.out.strip() or "(none)"))
    config = bed.config(SERVICE)
    for key in ("display", "description", "type", "start", "error", "account", "binary"):
        say("  %-12s %s" % (key + ":", config.get(key)))
    say()

    say("2. sc start %s" % SERVICE)
    mark = bed.event_mark()
    status = bed.start_service(SERVICE, timeout=30)
    show_status(status)
    try:
        bed.wait_event(lambda e: e.event_id == 0x4000044F, timeout=30, since=mark)
    except wb.WineBedError:
        say("  (the monitoring entry 0x4000044F did not appear within 30 s)")
    time.sleep(0.5)  # let the entries that follow the start arrive too
    say("  Event log entries written by the service:")
    show_events(bed.events_since(mark))
    say()

    say("  What the agent asked the cloud:")
    show_requests(cloud.requests(route="api"))
    say()

    say("3. Control 128 (the settings program's test event)")
    mark = bed.event_mark()
    bed.control(SERVICE, 128)
    show_new_uploads(bed, 0, count=2)
    upload_log = bed.host_path(wb.AGENT_DIR + "\\ORVUPLD.log")
    if upload_log.exists():
        say("  The uploader's command line: %s" % upload_log.read_text("utf-8").splitlines()[0])
    later = bed.events_since(mark)
    if later:
        say("  Event log entries written meanwhile:")
        show_events(later)
    say()

    say("4. The road of one event: the processor fan slows down to 1500 rpm")
    seen = len(taken(bed))
    bed.reg_add(FRONT_PANEL, "CpuFan", "REG_DWORD", 1500)
    show_new_uploads(bed, seen, count=2)
    say("   ... and recovers to 2600 rpm")
    seen = len(taken(bed))
    bed.reg_add(FRONT_PANEL, "CpuFan", "REG_DWORD", 2600)
    show_new_uploads(bed, seen, count=2)
    say()

    say("5. Stop control (1)")
    mark = bed.event_mark()
    bed.control(SERVICE, 1)
    status = bed.wait_state(SERVICE, wb.SERVICE_STOPPED, timeout=45)
    show_status(status)
    later = bed.events_since(mark)
    if later:
        say("  Event log entries written while stopping:")
        show_events(later)
    say()

    say("6. %s -remove" % exe)
    result = bed.run([exe, "-remove"])
    say("  exit code %d, console output: %s" % (result.returncode, result.out.strip() or "(none)"))
    bed.wait_gone(SERVICE)
    show_status(bed.query(SERVICE))
    source = bed.reg_values(r"HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\ORVSVC")
    say("  event source key: %s" % ("still present" if source is not None else "removed"))
    say()


if __name__ == "__main__":
    try:
        sys.exit(main())
    except wb.WineBedError as e:
        print("demo failed: %s" % e, file=sys.stderr)
        sys.exit(1)

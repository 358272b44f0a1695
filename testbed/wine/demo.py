#!/usr/bin/env python3
"""Shows ORVSVC running as a real Windows service under Wine, start to end.

    demo.py BIN_DIR BUILD_DIR [--keep]

BIN_DIR holds ORVSVC.exe and svcctl.exe (a cross build's bin folder);
BUILD_DIR gets the throw-away Wine prefix under BUILD_DIR/wine. The demo
installs the service, starts it, shows its state and what it wrote to the
event log, stops it, removes it and cleans up. --keep leaves the prefix
behind for a look around (WINEPREFIX=BUILD_DIR/wine/prefix-demo).
"""

import argparse
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import winebed as wb  # noqa: E402

SERVICE = "ORVSVC"
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


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("bin_dir")
    parser.add_argument("build_dir")
    parser.add_argument("--keep", action="store_true", help="keep the Wine prefix")
    args = parser.parse_args()

    bin_dir = Path(args.bin_dir)
    for program in ("ORVSVC.exe", "svcctl.exe"):
        if not (bin_dir / program).is_file():
            print("%s not found in %s" % (program, bin_dir), file=sys.stderr)
            return 2

    wb.install_sigterm_cleanup()
    say("Preparing a throw-away Wine prefix under %s/wine ..." % Path(args.build_dir).resolve())
    with wb.WineBed(args.build_dir, name="demo", bin_dir=bin_dir, keep_prefix=args.keep,
                    log=lambda m: say("  " + m)) as bed:
        exe = bed.copy_in(bin_dir / "ORVSVC.exe", wb.AGENT_DIR)
        # The product installer creates the agent's settings keys; so do we.
        bed.reg_import({r"HKLM\SOFTWARE\ORVANE\ORVSVC\%s" % k: {}
                        for k in ("Status", "Common", "NAS")})
        say("Copied ORVSVC.exe to %s" % exe)
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
            bed.wait_event(lambda e: e.event_id == 0x4000044C, timeout=10, since=mark)
        except wb.WineBedError:
            say("  (the start entry 0x4000044C did not appear within 10 s)")
        time.sleep(0.5)  # let the entries that follow the start arrive too
        say("  Event log entries written by the service:")
        show_events(bed.events_since(mark))
        say()

        say("3. Stop control (1)")
        mark = bed.event_mark()
        bed.control(SERVICE, 1)
        status = bed.wait_state(SERVICE, wb.SERVICE_STOPPED, timeout=45)
        show_status(status)
        later = bed.events_since(mark)
        if later:
            say("  Event log entries written while stopping:")
            show_events(later)
        say()

        say("4. %s -remove" % exe)
        result = bed.run([exe, "-remove"])
        say("  exit code %d, console output: %s" % (result.returncode, result.out.strip() or "(none)"))
        bed.wait_gone(SERVICE)
        show_status(bed.query(SERVICE))
        source = bed.reg_values(r"HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\ORVSVC")
        say("  event source key: %s" % ("still present" if source is not None else "removed"))
        say()
        say("Shutting the prefix down%s ..." % (" (kept)" if args.keep else " and removing it"))
    say("Done. Raw event-log capture: %s" % bed.events_path)
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except wb.WineBedError as e:
        print("demo failed: %s" % e, file=sys.stderr)
        sys.exit(1)

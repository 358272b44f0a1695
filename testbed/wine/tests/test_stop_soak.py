"""Wine tier: the real service stops within 30 s whatever it is doing when the stop comes.

Many start/stop cycles, each with a scenario and a stop moment drawn from a seeded generator:
the cloud answering, answering slowly, dropping the connection or holding the request open;
the agent unregistered; monitoring in one-second rounds (status messages, uploader runs); a
user control just before the stop; the power manager's hibernation handshake in progress.
After every stop the message files in the pool must still be readable JSON.

ORV_SOAK_CYCLES (default 20) and ORV_SOAK_SEED (default: from the clock): cycle i uses seed + i,
so ORV_SOAK_SEED=<a cycle's seed> ORV_SOAK_CYCLES=1 replays that cycle.
"""

import os
import random
import sys
import threading
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

import winebed as wb  # noqa: E402
from winebed import DEVICE_ID, DEVICE_TEXT, MONITORING, SERVICE, STATUS_KEY  # noqa: E402

PREFIX = "v1"
API_PATHS = ("/%s/devices/%s" % (PREFIX, DEVICE_TEXT), "/%s/devices/%s/software" % (PREFIX, DEVICE_TEXT))
STOP_LIMIT = 30.0
# Longer than any time-out of the agent's: to it the cloud never answers.
HOLD = 3600.0

# Scenario -> the longest pause between "running" and the stop. The windows reach past the
# start-up (network wait, registration request, update check) into the loops.
WINDOWS = {"answers": 4.0, "slow": 8.0, "drops": 4.0, "holds": 4.0, "unregistered": 3.0, "rounds": 10.0}
SCENARIOS = tuple(WINDOWS) + ("control", "power")

agent = wb.AgentModule("soak", settings={"WebAPIFilePath": PREFIX}, agent_files=("ORVUPLD.exe",))
bed = cloud = None


def setUpModule():
    global bed, cloud
    agent.set_up()
    bed, cloud = agent.bed, agent.cloud
    # No update ever: a self-update would end the service by itself.
    cloud.software.agt_ver = "0"


tearDownModule = agent.tear_down


def script_cloud(rng, mode):
    if mode in ("slow", "drops", "holds"):
        delay = {"slow": rng.uniform(2.0, 6.0), "drops": None, "holds": HOLD}[mode]
        for path in API_PATHS:
            cloud.script(path, delay)


def log(mark):
    return "".join("\n      " + str(e) for e in bed.events_since(mark)[-12:])


class StopSoakTest(unittest.TestCase):
    def test_every_stop_ends_the_service_within_30_s(self):
        cycles = int(os.environ.get("ORV_SOAK_CYCLES", "20"))
        seed = int(os.environ.get("ORV_SOAK_SEED") or time.time_ns() % 1_000_000_000)
        print("\nstop soak: %d cycles, seed %d (cycle i uses seed + i)" % (cycles, seed), flush=True)
        failed = [problem for problem in map(self.cycle, range(seed, seed + cycles)) if problem]
        self.assertFalse(failed, "\n".join(failed))

    def cycle(self, seed):
        """What went wrong in the cycle of `seed`, or ""."""
        rng = random.Random(seed)
        detail = scenario = rng.choice(SCENARIOS)
        settings = {"DEVICEID": bytes.fromhex(DEVICE_ID), "ServiceStatus": 2, "AutoUpdate": 1,
                    "CheckInterval": None, "OutputInterval": None}
        if scenario == "unregistered":
            settings["DEVICEID"] = None
        elif scenario == "rounds":
            settings.update(CheckInterval=1, OutputInterval=2)
        cloud.clear_scripts()
        script_cloud(rng, scenario)
        bed.reg_import({STATUS_KEY: settings})

        mark = bed.event_mark()
        bed.start_service(SERVICE, 30)
        power, launch = [], None
        if scenario in ("control", "power"):
            bed.wait_event(lambda e: e.event_id == MONITORING, timeout=30, since=mark)
            time.sleep(rng.uniform(0.0, 1.0))
            if scenario == "power":
                # The handshake takes tens of milliseconds: the announcement races the stop,
                # coming before it or after it.
                lead = rng.uniform(-0.2, 0.2)
                launch = threading.Timer(max(0.0, -lead), lambda: power.append(bed.spawn(
                    [wb.TOOLS_DIR + "\\svcctl.exe", "pipe", "svcpowmgr\\Reqeust", "SVCPOWMGR_Hibernate"],
                    bed.tmp_dir / "power.out")))
                launch.start()
                time.sleep(max(0.0, lead))
            else:
                code = rng.choice((128, 130, 134))
                mode = rng.choice(("answers", "slow", "holds")) if code != 128 else "answers"
                script_cloud(rng, mode)
                bed.control(SERVICE, code)
                detail = "control %d, cloud %s" % (code, mode)
                time.sleep(rng.uniform(0.0, 1.0))
        else:
            time.sleep(rng.uniform(0.0, WINDOWS[scenario]))

        problems = []
        asked = time.monotonic()
        bed.control(SERVICE, 1)
        try:
            stopped = bed.wait_state(SERVICE, wb.SERVICE_STOPPED, STOP_LIMIT)
        except wb.WineBedError as first:
            # The next cycle needs it stopped: let go of held requests, allow the uploader's
            # bound and more.
            cloud.release_held()
            try:
                stopped = bed.wait_state(SERVICE, wb.SERVICE_STOPPED, 240)
            except wb.WineBedError:
                self.fail("seed %d %s: still stopping %.0f s after the request%s"
                          % (seed, detail, time.monotonic() - asked, log(mark)))
            problems.append("not stopped within %.0f s (%s); stopped after %.1f s once the cloud let go"
                            % (STOP_LIMIT, first, time.monotonic() - asked))
        cloud.release_held()
        if stopped.exit != 0:
            problems.append("stopped with exit code %d" % stopped.exit)
        if launch is not None:
            launch.join()
            if wb.finish(power[0], 15) is None:
                problems.append("the power manager still waits for an answer 15 s after the stop")
        # A file gone meanwhile was sent and deleted by the uploader.
        damaged = ["%s: %s" % (p.name, e) for p, e in agent.pool_files().items() if isinstance(e, ValueError)]
        if damaged:
            problems.append("damaged pool files: " + ", ".join(damaged))
        return "seed %d %s: %s%s" % (seed, detail, "; ".join(problems), log(mark)) if problems else ""


if __name__ == "__main__":
    unittest.main()

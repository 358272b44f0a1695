#!/usr/bin/env python3
"""Applies each seeded fault of mutations.txt to a scratch copy of the tree, runs the host
tests there and reports which tests catch it (README.md: how and when to run it)."""

import argparse, json, os, re, shutil, signal, subprocess, sys, tempfile, time
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parents[1]
LIST = HERE / "mutations.txt"
BASELINE = HERE / "baseline.txt"
# What the host build needs; testbed/ is for the Windows build only.
TREE_PARTS = ["CMakeLists.txt", "CMakePresets.json", "cmake", "src", "tests", "tools", "fuzz", "bench"]
FIELDS = ("id", "file", "kind", "what", "from", "to")
FAILED_LINE = re.compile(r"^\[  FAILED  \] ([A-Za-z_][\w/.]*)")


class ListError(Exception):
    pass


def parse_list(path):
    # Blocks of "key: value" lines separated by blank lines; "+:" continues the last value.
    mutations, current, last_key = [], {}, None
    lines = path.read_text(encoding="utf-8").splitlines() + [""]
    for number, line in enumerate(lines, 1):
        if line.startswith("#"):
            continue
        if not line.strip():
            if current:
                missing = [f for f in FIELDS if f not in current]
                if missing:
                    raise ListError(f"{path}: entry {current.get('id', '?')} lacks {', '.join(missing)}")
                mutations.append(current)
            current, last_key = {}, None
            continue
        key, sep, value = line.partition(":")
        value = value[1:] if value.startswith(" ") else value
        if not sep:
            raise ListError(f"{path}:{number}: expected 'key: value'")
        if key == "+" and last_key is None:
            raise ListError(f"{path}:{number}: '+:' continues nothing")
        if key == "+":
            current[last_key] += "\n" + value
        elif key not in FIELDS:
            raise ListError(f"{path}:{number}: unknown field {key!r}")
        elif key in current:
            raise ListError(f"{path}:{number}: {key} given twice")
        else:
            current[key], last_key = value, key
    ids = [m["id"] for m in mutations]
    twice = sorted({i for i in ids if ids.count(i) > 1})
    if twice:
        raise ListError(f"{path}: id {twice[0]} used twice")
    return mutations


def mutated_text(tree, mutation):
    # The file's text and the text with the mutation applied; the original must occur once.
    original = (tree / mutation["file"]).read_text(encoding="utf-8")
    count = original.count(mutation["from"])
    if count != 1:
        raise ListError(f"{mutation['id']}: the original text occurs {count} times in {mutation['file']}")
    return original, original.replace(mutation["from"], mutation["to"])


def prepare_tree(scratch):
    tree = scratch / "tree"
    tree.mkdir(parents=True, exist_ok=True)
    for part in TREE_PARTS:
        source, target = ROOT / part, tree / part
        if target.is_dir():
            shutil.rmtree(target)
        elif target.exists():
            target.unlink()
        if source.is_dir():
            # Fresh times: an older scratch build must not take a changed file for unchanged.
            shutil.copytree(source, target, ignore=shutil.ignore_patterns("__pycache__"), copy_function=shutil.copy)
        elif source.exists():
            shutil.copy(source, target)
    return tree


def compile_tests(build, env, log):
    result = subprocess.run(["cmake", "--build", str(build), "--target", "orv_host_tests", "-j2"],
                            env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    log.write_text(result.stdout, encoding="utf-8")
    return result.returncode == 0


def failed_tests(output):
    return list(dict.fromkeys(m.group(1) for m in map(FAILED_LINE.match, output.splitlines()) if m))


def running_test(output):
    # The test that started last and never finished, from a full (not brief) run.
    current = None
    for line in output.splitlines():
        if line.startswith("[ RUN      ] "):
            current = line[13:].strip()
        elif line.startswith(("[       OK ] ", "[  FAILED  ] ", "[  SKIPPED ] ")):
            current = None
    return current


def run_tests(binary, timeout, shards):
    # (status, failing tests, output): status is 'passed', 'failed', 'crash: SIG... in <test>' or
    # 'hang'. The suite runs as `shards` processes side by side (GoogleTest's own sharding): most
    # of its time is tests waiting on their threads, so the shards overlap without crowding.
    runs = []
    for index in range(shards):
        env = dict(os.environ, GTEST_TOTAL_SHARDS=str(shards), GTEST_SHARD_INDEX=str(index))
        out = tempfile.TemporaryFile(mode="w+", encoding="utf-8", errors="replace")
        runs.append((subprocess.Popen([str(binary)], cwd=binary.parent, env=env, stdout=out,
                                      stderr=subprocess.STDOUT, text=True), out))
    deadline = time.monotonic() + timeout
    statuses, outputs = [], []
    for process, out in runs:
        try:
            code = process.wait(timeout=max(0.0, deadline - time.monotonic()))
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            code = None
        out.seek(0)
        outputs.append(out.read())
        out.close()
        if code is None:
            statuses.append(f"hang (over {timeout} s)")
        elif code < 0:
            name = running_test(outputs[-1])
            statuses.append(f"crash: {signal.Signals(-code).name}" + (f" in {name}" if name else ""))
        elif code != 0:
            statuses.append("failed" if failed_tests(outputs[-1]) else f"failed (exit {code})")
    output = "\n".join(outputs)
    # A crash or hang names itself first; then a plain failure.
    statuses.sort(key=lambda text: not text.startswith(("crash", "hang")))
    return (statuses[0] if statuses else "passed"), failed_tests(output), output


def read_baseline():
    words = [line.split() for line in BASELINE.read_text(encoding="utf-8").splitlines()] if BASELINE.exists() else []
    return {w[0]: w[1] == "caught" for w in words if w and not w[0].startswith("#")}


def write_baseline(results, mutations):
    # Records this run's ids over the baseline's; ids not run keep their recorded state.
    states = read_baseline()
    states.update({ident: r["caught"] for ident, r in results.items()})
    lines = ["# id caught|missed: the seeded faults of mutations.txt the host tests catch.",
             "# Written by run.py --write-baseline; run.py --check fails when a caught one is missed."]
    lines += [f"{m['id']} {'caught' if states[m['id']] else 'missed'}" for m in mutations if m["id"] in states]
    BASELINE.write_text("\n".join(lines) + "\n", encoding="utf-8")


def write_results(scratch, started, noisy, results):
    report = {"seconds": round(time.monotonic() - started), "uncounted": sorted(noisy), "mutations": results}
    (scratch / "results.json").write_text(json.dumps(report, indent=2, ensure_ascii=False) + "\n", encoding="utf-8")


def print_table(mutations, results):
    width = max(len(m["id"]) for m in mutations)
    print(f"\n{'id':<{width}}  caught  tests  first catching tests")
    for m in (m for m in mutations if m["id"] in results):
        r = results[m["id"]]
        shown = ", ".join(r["catchers"][:3]) + (" ..." if len(r["catchers"]) > 3 else "")
        if r["status"] not in ("passed", "failed"):
            shown = f"[{r['status']}] {shown}".rstrip()
        print(f"{m['id']:<{width}}  {'yes' if r['caught'] else 'NO':<6}  {len(r['catchers']):>5}  {shown}")


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--only", help="comma-separated ids")
    parser.add_argument("--list", action="store_true", help="check the list against the sources and stop")
    parser.add_argument("--check", action="store_true", help="exit 1 when a mutation caught in the baseline is missed")
    parser.add_argument("--write-baseline", action="store_true", help="record this run in baseline.txt")
    parser.add_argument("--record", type=Path, metavar="RESULTS",
                        help="write baseline.txt from an earlier run's results.json (also a partial one) and stop")
    parser.add_argument("--scratch", type=Path, default=ROOT / "build" / "mutants", help="scratch folder")
    parser.add_argument("--timeout", type=int, default=600, help="seconds one test run may take")
    parser.add_argument("--shards", type=int, default=3, help="test processes run side by side")
    return parser.parse_args()


def main():
    args = parse_args()
    try:
        mutations = parse_list(LIST)
        if args.only:
            wanted = [w.strip() for w in args.only.split(",") if w.strip()]
            unknown = set(wanted) - {m["id"] for m in mutations}
            if unknown:
                raise ListError(f"unknown ids: {', '.join(sorted(unknown))}")
            mutations = [m for m in mutations if m["id"] in wanted]
        for m in mutations:
            mutated_text(ROOT, m)
    except ListError as error:
        sys.exit(f"mutations.txt: {error}")
    if args.list:
        print(f"{len(mutations)} mutations, every original text found exactly once")
        return 0
    if args.record:
        recorded = json.loads(args.record.read_text(encoding="utf-8"))["mutations"]
        write_baseline({i: r for i, r in recorded.items() if r["status"] != "does not compile"}, parse_list(LIST))
        print(f"baseline.txt: {len(recorded)} results recorded")
        return 0

    started = time.monotonic()
    # Paths relative to the base folder let the scratch build share the cache of the real one.
    env = {"CCACHE_BASEDIR": str(ROOT.parent), "CCACHE_NOHASHDIR": "1", **os.environ}
    scratch = args.scratch.resolve()
    tree = prepare_tree(scratch)
    build = tree / "build" / "host"
    if not (build / "build.ninja").exists():
        subprocess.run(["cmake", "--preset", "host", "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"],
                       cwd=tree, env=env, check=True, stdout=subprocess.DEVNULL)
    binary = build / "bin" / "orv_host_tests"
    logs = scratch / "logs"
    logs.mkdir(exist_ok=True)

    print("building and running the unchanged tree", flush=True)
    if not compile_tests(build, env, logs / "unchanged.build.log"):
        sys.exit(f"the unchanged tree does not build; see {logs / 'unchanged.build.log'}")
    status, failing, _ = run_tests(binary, args.timeout, args.shards)
    if status != "passed":
        # Tests that fail without any fault catch nothing; they are left out of every count.
        print(f"the unchanged tree's tests: {status}; not counted: {', '.join(failing) or '-'}", flush=True)
    noisy = set(failing)

    results = {}
    for index, m in enumerate(mutations, 1):
        path = tree / m["file"]
        original, text = mutated_text(tree, m)
        began = time.monotonic()
        path.write_text(text, encoding="utf-8")
        try:
            status, catchers = "does not compile", []
            if compile_tests(build, env, logs / f"{m['id']}.build.log"):
                status, failing, output = run_tests(binary, args.timeout, args.shards)
                (logs / f"{m['id']}.test.log").write_text(output, encoding="utf-8")
                catchers = [name for name in failing if name not in noisy]
        finally:
            path.write_text(original, encoding="utf-8")
        caught = bool(catchers) or status.startswith(("crash", "hang"))
        results[m["id"]] = {"file": m["file"], "kind": m["kind"], "status": status, "caught": caught,
                            "catchers": catchers, "seconds": round(time.monotonic() - began, 1)}
        print(f"[{index}/{len(mutations)}] {m['id']}: {'caught' if caught else 'MISSED'} ({status}, "
              f"{len(catchers)} tests, {results[m['id']]['seconds']} s)", flush=True)
        # Written after every fault, so an interrupted run still leaves what it found.
        write_results(scratch, started, noisy, results)

    print_table(mutations, results)
    caught = sum(r["caught"] for r in results.values())
    print(f"\n{caught} of {len(results)} caught in {(time.monotonic() - started) / 60:.1f} min; "
          f"results in {scratch / 'results.json'}")

    exit_code = 0
    broken = [i for i, r in results.items() if r["status"] == "does not compile"]
    if broken:
        print(f"mutations that do not compile (fix the list): {', '.join(broken)}")
        exit_code = 1
    if args.check:
        baseline = read_baseline()
        lost = [i for i, r in results.items() if baseline.get(i) and not r["caught"]]
        print(f"caught in the baseline, missed now: {', '.join(lost)}" if lost
              else "no mutation the baseline catches is missed")
        exit_code = 1 if lost else exit_code
    if args.write_baseline:
        write_baseline(results, parse_list(LIST))
    return exit_code


if __name__ == "__main__":
    sys.exit(main())

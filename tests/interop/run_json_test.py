#!/usr/bin/python3
"""korvel-run --json read by Python's own json module, as a script on the bench PC would: one
object per command against korvel-sim (VXI-11 on its own loopback block), each field checked
against the files the command wrote.

Exit status: 0 pass, 1 fail."""
import argparse
import json
import math
import os
import subprocess
import sys
import tempfile

from simulator import start_simulator, stop


def run(korvel_run, block, work, *arguments):
    bench = ["--gen1", block + ".28", "--gen2", block + ".27", "--analyzer", block + ".20"]
    env = dict(os.environ, KORVEL_VISA_LIBRARY="builtin", XDG_CONFIG_HOME=os.path.join(work, "config"))
    result = subprocess.run([korvel_run, "--json", "-q"] + bench + list(arguments), cwd=work,
                            capture_output=True, text=True, timeout=60, env=env)
    print("korvel-run %s -> exit %d\n%s%s" % (" ".join(arguments), result.returncode, result.stdout,
                                              result.stderr))
    lines = result.stdout.splitlines()
    assert len(lines) == 1, "one object, on one line"
    return result.returncode, json.loads(lines[0])


def near(a, b, tolerance=0.0015):
    return abs(a - b) <= tolerance


def check(korvel_run, block, work):
    code, setup = run(korvel_run, block, work, "setup")
    assert code == 0 and setup["failures"] == [], setup

    code, single = run(korvel_run, block, work, "measure", "--avg", "3")
    assert code == 0 and single["command"] == "measure" and single["count"] == 1
    assert len(single["passes"]) == 3 and all(0 <= d < 360 for d in single["passes"])
    # The passes agree on this bench; their plain mean, rounded, is the phase.
    assert near(single["phase"], round(sum(single["passes"]) / 3, 3)), single
    assert single["fellBack"] == 0 and single["signal"] == 0 and single["files"] == []

    code, sweep = run(korvel_run, block, work, "sweep", "--freq", "100:200:100", "--level", "-20:-15:5",
                      "-o", "grid.csv")
    assert code == 0 and sweep["count"] == 4 and sweep["total"] == 4 and sweep["failures"] == []
    assert sweep["files"] == ["grid.csv"] and sweep["status"] == "File grid.csv written", sweep
    with open(os.path.join(work, "grid.csv"), newline="") as grid:
        rows = grid.read().split("\r\n")[3:7]
    cells = [float(cell) for row in rows for cell in row.split(";")[1:3]]
    assert [p["phase"] for p in sweep["points"]] == cells, (sweep["points"], cells)
    assert [(p["frequencyMHz"], p["levelDbm"]) for p in sweep["points"]] == \
        [(100, -20), (200, -20), (100, -15), (200, -15)]
    assert sweep["phase"] == cells[-1]

    code, cont = run(korvel_run, block, work, "continuous", "--period", "0", "--samples", "4",
                     "--search", "fast")
    assert code == 0 and cont["count"] == 4 and cont["files"] == ["PhaseLogCont.csv"], cont
    with open(os.path.join(work, "PhaseLogCont.csv"), newline="") as log:
        samples = [float(line.split(";")[-1]) for line in log.read().split("\r\n")[3:] if line]
    assert len(samples) == 4 and cont["phase"] == samples[-1]
    mean = sum(samples) / 4
    deviation = math.sqrt(sum((s - mean) ** 2 for s in samples) / 3)
    assert near(cont["average"], mean) and near(cont["deviation"], deviation, 1e-6), (cont, samples)
    assert isinstance(cont["fellBack"], int) and isinstance(cont["fallBackReason"], str)

    code, refused = run(korvel_run, block, work, "--analyzer", block + ".99", "measure")
    assert code == 1 and refused["phase"] is None and refused["count"] == 0
    assert any("--analyzer" in failure for failure in refused["failures"]), refused


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sim", required=True)
    parser.add_argument("--run", required=True)
    parser.add_argument("--block", required=True)
    args = parser.parse_args()
    sim, _ = start_simulator(args.sim, args.block)
    try:
        with tempfile.TemporaryDirectory(prefix="korvel-run-json-") as work:
            subprocess.run([args.sim, "--write-waveform", os.path.join(work, "dc.wv")], check=True,
                           timeout=30)
            check(args.run, args.block, work)
    except AssertionError as failure:
        print("run_json_test: FAILED %s" % failure)
        return 1
    finally:
        stop(sim, 10, "korvel-sim")
    print("run_json_test: every field as the files say")
    return 0


if __name__ == "__main__":
    sys.exit(main())

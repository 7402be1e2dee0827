#!/usr/bin/python3
"""Starts korvel-sim on its own loopback addresses, queries the analyzer's identification and a
marker level with a VXI-11 client written elsewhere (pyvisa-py or lxi), and stops the simulator.

Exit status: 0 pass, 1 fail, 77 skipped (with the reason printed)."""
import argparse
import os
import re
import signal
import subprocess
import sys
import time

from simulator import start_simulator, stop

SKIP = 77


def stop_simulator(process):
    if stop(process, 10, "korvel-sim", signal.SIGTERM) != 0:
        raise RuntimeError("korvel-sim ended with status %d" % process.returncode)


def query_pyvisa(address):
    import pyvisa
    rm = pyvisa.ResourceManager("@py")
    analyzer = rm.open_resource("TCPIP::%s::INSTR" % address, timeout=5000)
    try:
        idn = analyzer.query("*IDN?")
        analyzer.write("CALC1:MARK1 ON")
        marker = analyzer.query("CALC1:MARK1:Y?")
    finally:
        analyzer.close()
        rm.close()
    return idn, marker


def query_lxi(address):
    def lxi(command):
        result = subprocess.run(["lxi", "scpi", "-a", address, "-t", "5", command],
                                capture_output=True, text=True, timeout=30)
        if result.returncode != 0:
            raise RuntimeError("lxi scpi %r failed: %s%s" % (command, result.stdout, result.stderr))
        return result.stdout
    idn = lxi("*IDN?")
    lxi("CALC1:MARK1 ON")  # a command: lxi sends it and reads nothing
    return idn, lxi("CALC1:MARK1:Y?")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sim", required=True)
    parser.add_argument("--client", choices=["pyvisa", "lxi"], required=True)
    parser.add_argument("--block", required=True, help="first three parts of the 127.x addresses")
    args = parser.parse_args()
    if not os.access(args.sim, os.X_OK):
        print("FAIL: korvel-sim not found at %s" % args.sim)
        return 1

    process, output = start_simulator(args.sim, args.block)
    analyzer = args.block + ".20"
    try:
        if not output.wait_for("analyzer VXI-11", 0):
            stop_simulator(process)
            print("SKIP: VXI-11 is not served on %s (the client needs the portmapper on port "
                  "111 there):\n%s" % (analyzer, output.text()))
            return SKIP
        print(output.text())
        started = time.monotonic()
        idn, marker = query_pyvisa(analyzer) if args.client == "pyvisa" else query_lxi(analyzer)
        took = time.monotonic() - started
    except Exception:
        process.kill()
        raise
    stop_simulator(process)

    print("*IDN? -> %r" % idn)
    print("CALC1:MARK1:Y? -> %r" % marker)
    print("queries took %.2f s" % took)
    failures = []
    if not idn.strip().startswith("Maltoven,ZAS"):
        failures.append("unexpected identification %r" % idn)
    if not re.fullmatch(r"\s*[-+]?\d+(\.\d*)?([eE][-+]?\d+)?\s*", marker):
        failures.append("marker level is not a number: %r" % marker)
    elif not -200.0 < float(marker) < 30.0:
        failures.append("marker level out of any sensible range: %s" % marker)
    for failure in failures:
        print("FAIL: " + failure)
    print("1 passed, 0 failed" if not failures else "0 passed, 1 failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

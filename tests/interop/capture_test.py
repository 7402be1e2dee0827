#!/usr/bin/python3
"""Captures Korvel's own VXI-11 and HiSLIP clients (korvel-scpi) talking to korvel-sim on loopback
with tshark, decodes the capture with the simulator's ports named explicitly, and checks that
tshark found portmap, VXI-11 core and HiSLIP frames and that none of them is malformed.

Each run takes its own loopback block (the portmapper on port 111 there; CI runs as root), and
every step is bounded in time.

Exit status: 0 pass, 1 fail, 77 skipped (with the reason printed)."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

from simulator import Lines, start_simulator, stop

SKIP = 77
# tshark's expert severities
CHAT, NOTE, WARN, ERROR = 0x200000, 0x400000, 0x600000, 0x800000
OURS = ("portmap", "vxi11_core", "hislip")
# A program message long enough to be split: over several VXI-11 device_write calls (the
# simulator takes 65536 bytes per call) and several TCP segments of the loopback interface.
LONG_COMMAND = "SYST:COMM:DUMM " + "7" * 150000


class Skip(Exception):
    pass


def start_capture(tshark, block, path):
    # -a duration bounds the capture even if this script is killed before it stops tshark.
    command = [tshark, "-i", "lo", "-f", "net %s.0/24" % block, "-w", path, "-a", "duration:120"]
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    output = Lines(process.stderr)
    # dumpcap reports the start once the interface is open and the file written to.
    started = output.wait_for(r"Capture started|Capturing on", 20)
    if started and process.poll() is None:
        time.sleep(0.5)
        if process.poll() is None:
            return process, output
    stop(process, 10, "tshark")
    text = output.text()
    if re.search(r"permission|not permitted|privileges", text, re.IGNORECASE):
        raise Skip("no permission to capture on the loopback interface:\n" + text)
    raise RuntimeError("tshark did not start capturing (%s):\n%s" % (" ".join(command), text))


def run_scpi(scpi, resource):
    """One korvel-scpi session on the built-in transports, whatever VISA library is installed."""
    env = dict(os.environ, KORVEL_VISA_LIBRARY="builtin")
    commands = ["*IDN?", LONG_COMMAND, "SYST:ERR?", "FREQ:CENT?"]
    result = subprocess.run([scpi, "--timeout", "5000", resource, "-"], input="\n".join(commands) + "\n",
                            capture_output=True, text=True, timeout=30, env=env)
    print("korvel-scpi %s -> exit %d\n%s%s" % (resource, result.returncode, result.stdout, result.stderr))
    if result.returncode != 0 or not result.stdout.startswith("Maltoven,"):
        raise RuntimeError("korvel-scpi failed on %s" % resource)


def tshark_fields(tshark, path, decode_as, display_filter, fields):
    command = [tshark, "-r", path, "-n"]
    for rule in decode_as:
        command += ["-d", rule]
    if display_filter:
        command += ["-Y", display_filter]
    command += ["-T", "fields", "-E", "aggregator=|", "-E", "occurrence=a"]
    for field in fields:
        command += ["-e", field]
    result = subprocess.run(command, capture_output=True, text=True, timeout=30)
    if result.returncode != 0:
        raise RuntimeError("%s failed:\n%s" % (" ".join(command), result.stderr))
    return [line.split("\t") for line in result.stdout.splitlines() if line]


def check_capture(tshark, path, hislip_port):
    # The core channel's port as the simulator's portmapper gave it out (port 111 is decoded as
    # portmap without help).
    replies = tshark_fields(tshark, path, [], "portmap && rpc.msgtyp == 1", ["portmap.port"])
    core_ports = sorted({int(port) for row in replies for port in row[0].split("|") if port and int(port)})
    if not core_ports:
        return ["no portmap GETPORT reply with a port was decoded"]
    decode_as = ["tcp.port==%d,hislip" % hislip_port] + ["tcp.port==%d,rpc" % p for p in core_ports]
    print("decoding with: " + " ".join("-d " + rule for rule in decode_as))

    rows = tshark_fields(tshark, path, decode_as, "",
                         ["frame.number", "frame.protocols", "_ws.expert.severity", "_ws.expert.message",
                          "tcp.srcport", "tcp.dstport"])
    counts = dict.fromkeys(OURS, 0)
    failures = []
    for row in rows:
        row += [""] * (6 - len(row))
        number, protocols, severities, messages = row[0], row[1].split(":"), row[2], row[3]
        for name in OURS:
            counts[name] += name in protocols
        worst = max([int(s) for s in severities.split("|") if s] or [0])
        mine = any(name in protocols for name in OURS)
        if "_ws.malformed" in protocols or worst >= ERROR or (mine and worst >= WARN):
            failures.append("frame %s (%s): %s" % (number, row[1], messages.replace("|", "; ")))
    print("frames decoded: " + ", ".join("%s %d" % (name, counts[name]) for name in OURS) +
          " (of %d captured)" % len(rows))
    for name in OURS:
        if counts[name] == 0:
            failures.append("no %s frame was decoded" % name)
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sim", required=True)
    parser.add_argument("--scpi", required=True)
    parser.add_argument("--block", required=True, help="first three parts of the 127.x addresses")
    args = parser.parse_args()
    tshark = shutil.which("tshark")
    if not tshark:
        print("SKIP: tshark is not installed (scripts/setup installs it)")
        return SKIP
    for program in (args.sim, args.scpi):
        if not os.access(program, os.X_OK):
            print("FAIL: %s not found" % program)
            return 1

    workdir = tempfile.mkdtemp(prefix="korvel-capture-")
    # dumpcap may run as another user than this script: let it write the file.
    os.chmod(workdir, 0o777)
    path = os.path.join(workdir, "capture.pcapng")
    sim = capture = None
    try:
        sim, sim_output = start_simulator(args.sim, args.block)
        analyzer = args.block + ".20"
        print(sim_output.text())
        if not sim_output.wait_for("analyzer VXI-11", 0):
            raise Skip("VXI-11 is not served on %s (korvel-scpi needs the portmapper on port 111 "
                       "there)" % analyzer)
        hislip = sim_output.wait_for(r"analyzer HiSLIP: \S+::hislip0,(\d+)::INSTR", 0)
        hislip_port = int(re.search(r"hislip0,(\d+)", hislip).group(1))

        capture, capture_output = start_capture(tshark, args.block, path)
        started = time.monotonic()
        run_scpi(args.scpi, "TCPIP0::%s::inst0::INSTR" % analyzer)
        run_scpi(args.scpi, "TCPIP0::%s::hislip0,%d::INSTR" % (analyzer, hislip_port))
        time.sleep(0.5)  # the last segments on their way into the capture
        stop(capture, 20, "tshark")
        capture = None
        print("clients ran %.2f s under capture" % (time.monotonic() - started))
        if stop(sim, 10, "korvel-sim") != 0:
            raise RuntimeError("korvel-sim ended with status %d" % sim.returncode)
        sim = None

        failures = check_capture(tshark, path, hislip_port)
    except Skip as reason:
        print("SKIP: %s" % reason)
        return SKIP
    finally:
        for process, name in ((capture, "tshark"), (sim, "korvel-sim")):
            if process is not None:
                try:
                    stop(process, 10, name)
                except RuntimeError as error:
                    print(error)
        shutil.rmtree(workdir, ignore_errors=True)

    for failure in failures:
        print("FAIL: " + failure)
    print("1 passed, 0 failed" if not failures else "0 passed, 1 failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

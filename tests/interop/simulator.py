"""korvel-sim for the interop scripts: started on its own loopback block and stopped again, every
wait bounded."""
import re
import signal
import subprocess
import threading
import time


class Lines:
    """Collects a process's output lines on a thread; wait_for() blocks until one matches."""

    def __init__(self, stream):
        self.lines = []
        self._changed = threading.Condition()
        self._ended = False
        threading.Thread(target=self._pump, args=(stream,), daemon=True).start()

    def _pump(self, stream):
        for line in stream:
            with self._changed:
                self.lines.append(line.rstrip("\n"))
                self._changed.notify_all()
        with self._changed:
            self._ended = True
            self._changed.notify_all()

    def wait_for(self, pattern, seconds):
        deadline = time.monotonic() + seconds
        with self._changed:
            while True:
                for line in self.lines:
                    if re.search(pattern, line):
                        return line
                left = deadline - time.monotonic()
                if self._ended or left <= 0:
                    return None
                self._changed.wait(left)

    def text(self):
        with self._changed:
            return "\n".join(self.lines)


def stop(process, seconds, name, how=signal.SIGINT):
    """Ends a process we started: SIGINT (tshark then writes out what it has), SIGKILL if it hangs."""
    if process.poll() is None:
        process.send_signal(how)
        try:
            process.wait(seconds)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            raise RuntimeError("%s did not stop within %d s" % (name, seconds))
    return process.returncode


def start_simulator(sim, block):
    process = subprocess.Popen([sim, "--speed", "fast", "--hislip-port", "0",
                                "--gen1-address", block + ".28", "--gen2-address", block + ".27",
                                "--analyzer-address", block + ".20"],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    output = Lines(process.stdout)
    if not output.wait_for(r"ready", 15) or process.poll() is not None:
        stop(process, 10, "korvel-sim")
        raise RuntimeError("korvel-sim did not start:\n" + output.text())
    return process, output

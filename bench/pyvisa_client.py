#!/usr/bin/python3
"""pyvisa-py's VXI-11 client for the benchmark, driven by lines on standard input:

    open RESOURCE      answers "ok", or "error TEXT"
    query N TEXT       N queries of TEXT; answers "WALL CPU" (seconds, this process)

Every answer is one line. Ends at the end of its input."""
import sys
import time


def main():
    try:
        import pyvisa
        manager = pyvisa.ResourceManager("@py")
    except Exception as error:  # reported on the first command
        manager, failure = None, "pyvisa-py is not usable: %s" % error
    session = None
    for line in sys.stdin:
        command, _, rest = line.strip().partition(" ")
        try:
            if manager is None:
                raise RuntimeError(failure)
            if command == "open":
                session = manager.open_resource(rest, timeout=5000)
                # The same bytes as our client: one line feed out, reads end at END.
                session.write_termination = "\n"
                session.read_termination = None
                print("ok", flush=True)
            elif command == "query":
                count, _, text = rest.partition(" ")
                wall, cpu = time.perf_counter(), time.process_time()
                for _ in range(int(count)):
                    session.query(text)
                print("%.9f %.9f" % (time.perf_counter() - wall, time.process_time() - cpu), flush=True)
            else:
                raise RuntimeError("unknown command " + command)
        except Exception as error:
            print("error " + str(error).replace("\n", " "), flush=True)
    if session is not None:
        session.close()


if __name__ == "__main__":
    main()

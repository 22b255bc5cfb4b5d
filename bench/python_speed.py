#!/usr/bin/env python3
"""The Python module's cost against the command's, for README:

    python3 bench/python_speed.py build/release

- a call's overhead: velmora.curve("10", muons=1), the least of the
  medians of five rounds of calls;
- a curve of 51 distances at 10^7 muons a distance, both laws, on one
  thread and on every core: velmora.curve against velmora-curve as a
  process, the median and the least of seven runs of each, taken in turn
  (another program busy on a core moves single runs by a tenth or more);
- how soon Ctrl-C stops a long curve: from the signal to the exception.
"""

import os
import random
import signal
import statistics
import subprocess
import sys
import threading
import time
import timeit

build = sys.argv[1] if len(sys.argv) > 1 else "build/release"
sys.path.insert(0, os.path.join(build, "python"))
import velmora  # noqa: E402

calls = 2000
rounds = [min(timeit.repeat(lambda: velmora.curve("10", muons=1),
                            number=calls, repeat=5)) / calls
          for _ in range(5)]
print(f'velmora.curve("10", muons=1): {statistics.median(rounds) * 1e6:.1f} us a call '
      f'(rounds {", ".join(f"{r * 1e6:.1f}" for r in rounds)})')
setup = [min(timeit.repeat(lambda: velmora.efficiency(10, 1), number=calls, repeat=5)) / calls
         for _ in range(3)]
print(f"velmora.efficiency(10, 1): {statistics.median(setup) * 1e6:.1f} us a call")

for threads in ("1", "0"):
    command = [os.path.join(build, "velmora-curve"), "--muons", "10000000",
               "0:100:2"] + (["--threads", threads] if threads != "0" else [])
    module, process = [], []
    for _ in range(7):
        start = time.perf_counter()
        rows = velmora.curve("0:100:2", muons=10000000,
                             threads=None if threads == "0" else threads)
        module.append(time.perf_counter() - start)
        start = time.perf_counter()
        out = subprocess.run(command, stdout=subprocess.PIPE, check=True).stdout
        process.append(time.perf_counter() - start)
        assert len(rows) == len(out.splitlines()) - 1
    m, p = statistics.median(module), statistics.median(process)
    print(f"51 distances, both laws, 10^7 muons each, "
          f"{'one thread' if threads == '1' else 'every core'}: module "
          f"{m:.3f} s (least {min(module):.3f}), command {p:.3f} s (least "
          f"{min(process):.3f}), module / command = {m / p:.3f} "
          f"(least to least {min(module) / min(process):.3f})")

previous = signal.signal(signal.SIGINT, signal.default_int_handler)
delays = []
for threads in (1, 2):
    for _ in range(10):
        sent = []
        # At a time of no relation to the run's looks at the clock.
        timer = threading.Timer(
            0.5 + random.uniform(0, 0.2), lambda: (sent.append(time.perf_counter()),
                          os.kill(os.getpid(), signal.SIGINT)))
        timer.start()
        try:
            velmora.curve("0:100:1", muons=2**31 - 1, law="cos_squared",
                          tilt="0:90:1", threads=threads)
        except KeyboardInterrupt:
            delays.append(time.perf_counter() - sent[0])
        timer.join()
signal.signal(signal.SIGINT, previous)
print(f"Ctrl-C to KeyboardInterrupt in a long tilted curve: median "
      f"{statistics.median(delays) * 1e3:.0f} ms, at most {max(delays) * 1e3:.0f} ms")

#!/usr/bin/env python3
"""Runs a command with its standard output into a pipe and stamps each arrival of bytes: prints
how many arrived, the largest gap between arrivals while rows are being finished (from the
first arrival to the last), the time to the first and from the one before the last to the last.
  bench/progress_gaps.py build/release/cellprod a.asc b.asc out.asc
"""
import os
import subprocess
import sys
import time

proc = subprocess.Popen(sys.argv[1:], stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
start = time.monotonic()
stamps, received = [], b""
while chunk := os.read(proc.stdout.fileno(), 65536):
    stamps.append(time.monotonic())
    received += chunk
proc.wait()
gaps = [b - a for a, b in zip([start] + stamps, stamps)]
print(f"status {proc.returncode}: {len(received)} bytes ({received.count(b'.')} dots) in "
      f"{len(stamps)} arrivals over {stamps[-1] - start:.2f} s; largest gap while rows are "
      f"finished {max(gaps[1:-1] or [0]):.3f} s; first after {gaps[0]:.3f} s, last after "
      f"{gaps[-1]:.3f} s")

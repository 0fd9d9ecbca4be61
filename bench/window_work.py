#!/usr/bin/env python3
# How long the window works on a picture and how much memory it takes: starts
# `PELORIA FILE` on the X display in DISPLAY, polls its CPU time and stops it
# once that has not grown for half a second (the decodes, the bitmap copy and
# its counts done), then prints when the work ended and the peak resident
# memory (VmHWM). Run by hand:
#
#   DISPLAY=:7 bench/window_work.py build/bin/peloria FILE [RUNS]
import os
import subprocess
import sys
import time


def run(peloria, picture):
    start = time.monotonic()
    child = subprocess.Popen([peloria, picture], stderr=subprocess.DEVNULL)
    cpu, changed, peak = -1, start, 0
    try:
        while time.monotonic() - start < 60:
            time.sleep(0.02)
            with open(f"/proc/{child.pid}/stat") as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
            ticks = int(fields[11]) + int(fields[12])  # utime + stime
            with open(f"/proc/{child.pid}/status") as status:
                for line in status:
                    if line.startswith("VmHWM"):
                        peak = int(line.split()[1])
            if ticks != cpu:
                cpu, changed = ticks, time.monotonic()
            elif time.monotonic() - changed > 0.5:
                break
    finally:
        child.kill()
        child.wait()
    hz = os.sysconf("SC_CLK_TCK")
    print(f"work done after {changed - start:.2f} s, cpu {cpu / hz:.2f} s, peak {peak} KB")


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit("usage: window_work.py PELORIA FILE [RUNS]")
    for _ in range(int(sys.argv[3]) if len(sys.argv) > 3 else 3):
        run(sys.argv[1], sys.argv[2])

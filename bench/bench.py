"""Figures of chimebox-headless against the simulated phone on disk, driven as the companion app
drives it. Usage: bench.py HEADLESS SUPPORT_ROOT. Prints `name value` lines last."""
import json
import os
import statistics
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "integration"))
from headless import COMPANION, Run, wait_until  # noqa: E402

HEADLESS, SUPPORT = sys.argv[1], Path(sys.argv[2])
TICKS = os.sysconf("SC_CLK_TCK")
TONE = os.urandom(64 * 1024)


def cpu_ms(pid):
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) * 1000 / TICKS  # utime + stime


def status_kb(pid, key):
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith(key + ":"):
            return int(line.split()[1])
    raise KeyError(key)


class Bench:
    def __init__(self):
        self.run = Run(HEADLESS, windows=False)
        self.phone = self.run.phone("00008030-BENCH", name="Bench iPhone")
        (self.phone.dir / "media/iTunes_Control/iTunes").mkdir(parents=True)
        self.sync = self.phone.dir / "apps" / COMPANION / "Documents/sync"
        self.sync.mkdir(parents=True)
        self.pid = self.run.start(SUPPORT).pid
        self.phone.attach()
        assert wait_until(lambda: (self.sync / "HeartBeat").exists(), 15), "phone not taken up"
        self.jobs = 0

    def registered(self, title):
        path = self.phone.dir / "library.json"
        tracks = json.loads(path.read_text(encoding="utf-8"))["tracks"] if path.exists() else []
        return any(t["title"] == title and not t.get("broken") and not t.get("pending") for t in tracks)

    def job(self, tone=TONE):
        """One add job; its latency from the request to the request's removal, track registered."""
        self.jobs += 1
        add = self.sync / "add"
        add.mkdir(exist_ok=True)
        (add / f"tone{self.jobs}.m4r").write_bytes(tone)
        (add / f"Tone {self.jobs}").write_bytes(b"")
        start = time.monotonic()
        (self.sync / "UpdateRing").write_bytes(b"")
        assert wait_until(lambda: not (self.sync / "UpdateRing").exists(), 30), "job not served"
        latency = time.monotonic() - start
        # By title: two jobs in the same second draw the same pid, and the later track replaces
        # the earlier one in the library.
        assert self.registered(f"Tone {self.jobs}"), "track not registered"
        for entry in add.glob("*"):  # the app empties its queue after a job
            entry.unlink()
        return latency

    def close(self):
        self.run.stop()
        self.run.cleanup()


def main():
    b = Bench()
    try:
        cpu0 = cpu_ms(b.pid)
        latencies = [b.job() for _ in range(30)]
        cpu_per_job = (cpu_ms(b.pid) - cpu0) / 30
        cuts = statistics.quantiles(latencies, n=100)

        cpu0, t0 = cpu_ms(b.pid), time.monotonic()
        time.sleep(30)
        idle = (cpu_ms(b.pid) - cpu0) / ((time.monotonic() - t0) * 1000) * 100

        idle_rss = status_kb(b.pid, "VmRSS")
        Path(f"/proc/{b.pid}/clear_refs").write_text("5")  # restart the peak from here
        big = os.urandom(1024 * 1024) * 100
        b.job(big)
        peak_ratio = (status_kb(b.pid, "VmHWM") - idle_rss) * 1024 / len(big)
        del big

        while b.jobs < 40:
            b.job()
        rss_after_10 = status_kb(b.pid, "VmRSS")
        while b.jobs < 230:
            b.job()
        rss_growth = status_kb(b.pid, "VmRSS") - rss_after_10
    finally:
        b.close()

    print(f"jobs run: {b.jobs}")
    print(f"job_latency_p50_s {statistics.median(latencies):.3f}")
    print(f"job_latency_p95_s {cuts[94]:.3f}")
    print(f"cpu_ms_per_job {cpu_per_job:.1f}")
    print(f"idle_cpu_percent {idle:.2f}")
    print(f"peak_rss_ratio_100mb {peak_ratio:.3f}")
    print(f"rss_growth_kb_200_jobs {rss_growth}")


if __name__ == "__main__":
    main()

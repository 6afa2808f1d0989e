#!/usr/bin/env python3
"""Table, JSON and target checks for bench/http, from the wrk outputs it leaves in --work."""
import argparse
import datetime
import json
import os
import platform
import sys

SCENARIOS = [
    ("a", "nginx empty_gif"),
    ("b", "counter?p=df=sample,dd=a"),
    ("c", "counter?p=lit=12345678,dd=c,ft=5"),
    ("d", "List page, 1000 counters"),
    ("e", "mixed images and pages"),
    ("soak", "mixed, soak run"),
]


def drain_seconds(seconds):
    # Same rule as bench/http passes to the wrk script.
    return min(0.5, seconds / 10)


def read_run(work, name):
    path = os.path.join(work, name + ".wrk")
    if not os.path.exists(path):
        return None
    line = next((l for l in open(path) if l.startswith("VORMEL_WRK ")), None)
    if line is None:
        sys.exit("bench/http: no summary from wrk in %s:\n%s" % (path, open(path).read()))
    run = json.loads(line[len("VORMEL_WRK "):])
    seconds = float(open(os.path.join(work, name + ".seconds")).read())
    drain = drain_seconds(seconds)
    # The drain's 404s are the only non-2xx responses expected; the rate counts the answered
    # requests of the window before the drain.
    run["ok"] = run["requests"] - run["status_errors"]
    window = run["duration_us"] / 1e6 - drain
    run["seconds"] = seconds
    run["rps"] = run["ok"] / window if window > 0 else 0.0
    run["socket_errors"] = (run["connect_errors"] + run["read_errors"] + run["write_errors"]
                            + run["timeouts"])
    return run


def read_rss(work):
    samples = []
    path = os.path.join(work, "rss.txt")
    if not os.path.exists(path):
        return samples
    start = None
    for line in open(path):
        parts = line.split()
        if len(parts) != 3:
            continue
        t = float(parts[0])
        start = t if start is None else start
        samples.append({"t": round(t - start, 1), "rss_kib": int(parts[1]), "phase": parts[2]})
    return samples


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--work", required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--sample", required=True)
    ap.add_argument("--connections", type=int, required=True)
    ap.add_argument("--wrk-threads", type=int, required=True)
    args = ap.parse_args()

    runs = {name: read_run(args.work, name) for name, _ in SCENARIOS}
    a = runs["a"]
    print()
    print("wrk -t%d -c%d, same duration per scenario; rates count 200 responses"
          % (args.wrk_threads, args.connections))
    print("%-4s %-34s %12s %10s %10s %8s %8s" % ("", "scenario", "req/s", "p50 ms", "p99 ms",
                                                "vs (a)", "errors"))
    for name, title in SCENARIOS:
        run = runs[name]
        if run is None:
            continue
        ratio = run["rps"] / a["rps"] if a and a["rps"] else 0.0
        run["ratio_to_a"] = ratio
        print("%-4s %-34s %12.0f %10.3f %10.3f %8.3f %8d" % (
            "(%s)" % name if len(name) == 1 else name, title, run["rps"], run["p50_us"] / 1000,
            run["p99_us"] / 1000, ratio, run["socket_errors"]))

    b = runs["b"]
    try:
        sample = int(args.sample)
    except ValueError:
        sample = None
    counter_ok = sample is not None and sample == b["ok"]
    print()
    print("counter check: sample = %s after the run, (b) got %d responses of 200: %s"
          % (args.sample, b["ok"], "exact" if counter_ok else "MISMATCH"))

    rss = read_rss(args.work)
    soak = [s for s in rss if s["phase"] == "soak"]
    memory = None
    if rss:
        print("host RSS (KiB) every 2 s: " + " ".join(str(s["rss_kib"]) for s in rss))
    if len(soak) >= 4:
        # Flat: after the first quarter of the soak (allocator warm-up), no growth beyond 1 MiB.
        settled = soak[len(soak) // 4]["rss_kib"]
        last = soak[-1]["rss_kib"]
        growth = last - settled
        memory = {"soak_seconds": runs["soak"]["seconds"], "settled_kib": settled,
                  "last_kib": last, "growth_kib": growth, "flat": growth <= 1024}
        print("soak: RSS %d KiB after warm-up, %d KiB at the end (%+d KiB): %s"
              % (settled, last, growth, "flat" if memory["flat"] else "GROWING"))

    targets = {
        "b_rps_ratio_at_least_0.75": {"value": round(b["ratio_to_a"], 3), "met": b["ratio_to_a"] >= 0.75},
        "b_p99_at_most_twice_a": {"value": round(b["p99_us"] / a["p99_us"], 3) if a["p99_us"] else None,
                                  "met": b["p99_us"] <= 2 * a["p99_us"]},
        "counter_exact": {"value": sample, "met": counter_ok},
    }
    if memory:
        targets["memory_flat"] = {"value": memory["growth_kib"], "met": memory["flat"]}
    print("targets: " + ", ".join("%s %s" % (k, "met" if v["met"] else "NOT met")
                                  for k, v in targets.items()))

    report = {
        "date": datetime.datetime.now().isoformat(timespec="seconds"),
        "machine": {"cpus": os.cpu_count(), "kernel": platform.release()},
        "wrk": {"threads": args.wrk_threads, "connections": args.connections},
        "scenarios": {name: dict(runs[name], title=title) for name, title in SCENARIOS
                      if runs[name] is not None},
        "ratios": {"b_over_a": round(b["ratio_to_a"], 3),
                   "c_over_a": round(runs["c"]["ratio_to_a"], 3)},
        "counter": {"sample": sample, "b_ok_responses": b["ok"], "exact": counter_ok},
        "memory": {"samples": rss, "soak": memory},
        "targets": targets,
    }
    with open(args.out, "w") as f:
        json.dump(report, f, indent=1)
    print("wrote " + args.out)
    return 0 if counter_ok else 1


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""The results of `make bench` from the raw figures scripts/bench.sh left in its output folder:
first the five figures an administrator asks for, each beside its aim, then the details.

    bench_report.py OUT RESULTS ROWS ROUNDS COMMIT NOTE
"""
import glob
import math
import os
import statistics
import subprocess
import sys

out, results, rows, rounds, commit, note = sys.argv[1:7]
rows, rounds = int(rows), int(rounds)
summary, details, service_mem = [], [], []


def have(*paths):
    return all(os.path.exists(os.path.join(out, p)) for p in paths)


def aim(met):
    return "MET" if met else "MISSED"


def percentile(values, p):
    values = sorted(values)
    return values[max(0, math.ceil(p / 100 * len(values)) - 1)]


def mib(kib):
    return f"{kib / 1024:.1f} MiB"


# ---- the walk, its hops, the floor ----------------------------------------------------------------
if have("walk/walks.txt", "walk/floor.txt"):
    svc, own = [], []
    for line in open(f"{out}/walk/walks.txt"):
        n1, t0, t1, n2, t2 = line.split()
        svc.append((float(t1) - float(t0)) / int(n1) * 1e6)
        own.append((float(t2) - float(t1)) / int(n2) * 1e6)
    s, o = statistics.median(svc), statistics.median(own)
    floor = dict(l.split() for l in open(f"{out}/walk/floor.txt") if l.strip())
    pipe, tcp, event = (float(floor[k]) for k in ("pipe_round_trip_us", "tcp_round_trip_us", "event_hand_off_us"))
    # A walk step crosses what snmpd's own step crosses, plus one TCP round trip to the bridge, one
    # pipe round trip to the service and one hand-off to its "AgentX" thread.
    floor_sum = o + tcp + pipe + event
    details += ["", f"## walk ({rounds} interleaved rounds, same client: snmpwalk -v2c over UDP on loopback)",
                f"service subtree via snmpd + AgentX bridge: {s:.1f} us/object ({rows + 2} objects)",
                f"snmpd's own objects:                      {o:.1f} us/object",
                f"ratio service / snmpd own:                {s / o:.2f}", "",
                "## floor components, measured in this run",
                f"named-pipe message round trip between two Wine processes: {pipe:.1f}",
                f"native-to-Wine TCP round trip:                            {tcp:.1f}",
                f"one thread hand-off through an event:                     {event:.1f}",
                f"floor of a walk step (snmpd's own + TCP + pipe + hand-off): {floor_sum:.1f}",
                f"ratio walk / floor:                                        {s / floor_sum:.2f}", "",
                "## per hop (traced build)"]
    traces = sorted(glob.glob(f"{out}/walk/trace.*"))
    table = subprocess.run([sys.executable, "tests/e2e/hop_table.py", *traces],
                           capture_output=True, text=True).stdout
    details += table.rstrip().splitlines()

if have("store.txt"):
    details += ["", "## store benchmark (store_bench, optimised native build, medians of 3)"]
    details += [l.rstrip() for l in open(f"{out}/store.txt")]

# ---- A, B, C: collection cycles ----------------------------------------------------------------
if have("cycles/params.txt", "cycles/mem-first.txt", "cycles/mem-last.txt", "cycles/floor-host.txt"):
    c = f"{out}/cycles"
    hz, busy, cycles = (int(x) for x in open(f"{c}/params.txt").read().split())
    rss1, priv1, threads1 = (int(x) for x in open(f"{c}/mem-first.txt").read().split()[:3])
    rssN, privN, threadsN = (int(x) for x in open(f"{c}/mem-last.txt").read().split()[:3])
    frss, fpriv, _, fdlls, fns = open(f"{c}/floor-host.txt").read().split()[:5]
    frss, fpriv = int(frss), int(fpriv)
    trss, tpriv, tthreads = (int(x) for x in open(f"{c}/floor-host-threads.txt").read().split()[:3]) \
        if have("cycles/floor-host-threads.txt") else (0, 0, 0)
    growth = (privN - priv1) / priv1 * 100
    summary += [
        f"A. Memory, every collector over the simulated storage server and NIC scenario (collector host, {threadsN} threads):",
        f"   resident set after cycle 1 {mib(rss1)}, after cycle {cycles} {mib(rssN)}; floor program "
        f"(same {fdlls.split('/')[1]} system DLLs, {fns} WMI namespaces, 1 thread) {mib(frss)}",
        f"   resident set / floor: {rssN / frss:.2f}x   aim <= 1.3x: {aim(rssN / frss <= 1.3)}"
        + (f"   (floor with {tthreads} idle threads {mib(trss)}: {rssN / trss:.2f}x)" if trss else ""),
        f"   private bytes after cycle 1 {mib(priv1)}, after cycle {cycles} {mib(privN)}: {growth:+.1f} %"
        f"   aim within 5 %: {aim(abs(growth) <= 5)}"]

    # Per cycle: the process's ticks from outside, the thread's parts from inside.
    ticks, privates = {}, {}
    for l in open(f"{c}/cpu.txt"):
        f = [int(x) for x in l.split()]
        ticks[f[0]] = f[1]
        if len(f) > 2:
            privates[f[0]] = f[2]
    if len(privates) > 10:
        # The slope of private bytes over the cycles after the first ten (least squares).
        xs = [n for n in sorted(privates) if n > 10]
        mx, my = statistics.mean(xs), statistics.mean(privates[n] for n in xs)
        slope = sum((x - mx) * (privates[x] - my) for x in xs) / sum((x - mx) ** 2 for x in xs)
        summary.append(f"   private bytes grow {slope:.1f} KiB a cycle (cycles 11-{xs[-1]}, least squares)")
    quiet = [n for n in range(busy + 2, cycles + 1) if n in ticks] or [n for n in range(2, cycles + 1) if n in ticks]
    rec, parts, process_us, spans = {}, {}, {}, []
    for n in range(1, cycles + 1):
        r = dict(l.split()[:2] for l in open(f"{c}/d/cycle-{n}.txt") if l.split()[0] in ("ms", "pause-ms"))
        rec[n] = (int(r["ms"]), int(r["pause-ms"]))
        for line in open(f"{c}/d/cycle-{n}.costs"):
            f = line.split()
            if f[0] == "part":
                parts.setdefault(n, []).append((f[1], float(f[2]), float(f[3])))
                if len(f) > 4:
                    spans.append((f[1], (int(f[4]) - 116444736000000000) / 1e7, float(f[2]) / 1e6))
            elif f[0] == "window":
                rec[n] += ((int(f[1]) - 116444736000000000) / 1e7, (int(f[2]) - 116444736000000000) / 1e7)
            elif f[0] == "process-cpu-us":
                process_us[n] = float(f[1])
    names = []
    for n in sorted(parts):
        for name, _, _ in parts[n]:
            if name not in names:
                names.append(name)
    # A collector that is not due in a cycle has no part in it: its figures are the means over
    # the cycles it collected in; a full cycle is one in which every collector collected.
    per, seen = {}, {}
    for name in names:
        got = [(sum(w for nm, w, _ in parts[n] if nm == name), sum(u for nm, _, u in parts[n] if nm == name))
               for n in quiet if any(nm == name for nm, _, _ in parts.get(n, []))]
        seen[name] = len(got)
        per[name] = (statistics.mean(w for w, _ in got) / 1000, statistics.mean(u for _, u in got) / 1000) if got else (0, 0)
    everyone = set(names)
    full = [n for n in quiet if {nm for nm, _, _ in parts.get(n, [])} >= everyone]
    basis = full or quiet
    cpu_s = statistics.mean(ticks[n] / hz for n in basis)
    wall = statistics.mean(rec[n][0] for n in basis) / 1000
    pauses = statistics.mean(rec[n][1] for n in basis) / 1000
    collectors = [n for n in names if n not in ("start", "end", "intervals", "merge")]
    top = max(collectors, key=lambda n: per[n][1]) if collectors else "-"
    first_cpu = ticks.get(1, 0) / hz
    summary += [
        f"B. One full cycle of every collector ({len(basis)} cycles in which all {len(collectors)} collected, of "
        f"{quiet[0]}-{quiet[-1]}; nothing else asked of the host):" if full else
        f"B. One cycle (mean of cycles {quiet[0]}-{quiet[-1]}; no cycle had every collector due):",
        f"   processor time {cpu_s * 1000:.0f} ms (process, all threads); wall {wall * 1000:.0f} ms, of it "
        f"{pauses * 1000:.0f} ms ({100 * pauses / wall:.0f} %) the scheduler's own pauses; first cycle {first_cpu * 1000:.0f} ms",
        f"   aim under 1 s of processor time a cycle: {aim(cpu_s < 1.0)}; costliest collector {top} "
        f"({per[top][1]:.0f} ms processor, {per[top][0]:.0f} ms wall)" if collectors else "   (no parts recorded)"]
    details += ["", f"## one cycle by part: the \"Data Collection\" thread's wall and processor time (ms), means over "
                f"the cycles of {quiet[0]}-{quiet[-1]} the part ran in; cycle 1 beside",
                f"  {'part':<12}{'cycles':>7}{'wall':>9}{'cpu':>9}{'cycle 1 wall':>15}{'cpu':>9}"]
    for name in names:
        w1 = sum(w for nm, w, _ in parts.get(1, []) if nm == name) / 1000
        u1 = sum(u for nm, _, u in parts.get(1, []) if nm == name) / 1000
        details.append(f"  {name:<12}{seen[name]:>7}{per[name][0]:>9.1f}{per[name][1]:>9.1f}{w1:>15.1f}{u1:>9.1f}")
    details += [f"  thread processor time as Wine reports it (GetThreadTimes, {1000 // hz} ms ticks, so a mean of many "
                f"cycles); the process's from /proc/PID/stat",
                f"  the scheduler's pauses (50 ms each) lie between the parts; cycle 1: processor {first_cpu * 1000:.0f} ms, "
                f"wall {rec[1][0]} ms"]

    idle = [float(l.split()[1]) for l in open(f"{c}/walk-idle.txt")]
    windows = [rec[n][2:4] for n in range(2, busy + 2) if len(rec[n]) >= 4]
    busy_steps = [float(l.split()[1]) for l in open(f"{c}/walk-busy.txt")
                  if any(b <= float(l.split()[0]) <= e for b, e in windows)]
    idle_median = statistics.median(idle)
    if busy_steps:
        p50, p99, worst = statistics.median(busy_steps), percentile(busy_steps, 99), max(busy_steps)
        summary += [
            f"C. Walk steps while every collector collects ({len(busy_steps)} steps inside {len(windows)} cycles) against "
            f"the idle walk ({len(idle)} steps):",
            f"   idle median {idle_median:.0f} us, 99th {percentile(idle, 99):.0f} us; during collection median {p50:.0f} us, "
            f"99th {p99:.0f} us, worst {worst:.0f} us",
            f"   99th during collection / idle median: {p99 / idle_median:.2f}x   aim <= 2x: {aim(p99 <= 2 * idle_median)}"]
        # Where the steps were: the part of the cycle that ran while each one waited (most overlap),
        # or a pause of the scheduler; how many of them were slow there, and the 99th.
        where_all = {}
        for l in open(f"{c}/walk-busy.txt"):
            t, lat = (float(x) for x in l.split())
            if not any(b <= t <= e for b, e in windows):
                continue
            best = max(spans, key=lambda p: min(p[1] + p[2], t + lat / 1e6) - max(p[1], t))
            where = best[0] if min(best[1] + best[2], t + lat / 1e6) > max(best[1], t) else "(a pause)"
            where_all.setdefault(where, []).append(lat)
        details += ["", f"## walk steps inside the cycles by the part of the cycle they met: steps, slower than twice "
                    f"the idle median ({2 * idle_median:.0f} us), median, 99th, worst (us)"]
        for where, lats in sorted(where_all.items(), key=lambda kv: -len(kv[1])):
            slow = sum(1 for x in lats if x > 2 * idle_median)
            details.append(f"  {where:<12}{len(lats):>6}{slow:>6} ({100 * slow / len(lats):4.1f} %)"
                           f"{statistics.median(lats):>8.0f}{percentile(lats, 99):>8.0f}{max(lats):>8.0f}")
        slow_idle = sum(1 for x in idle if x > 2 * idle_median)
        details.append(f"  idle walk   {len(idle):>6}{slow_idle:>6} ({100 * slow_idle / len(idle):4.1f} %)"
                       f"{idle_median:>8.0f}{percentile(idle, 99):>8.0f}{max(idle):>8.0f}")
    else:
        summary += ["C. Walk during collection: no step fell inside a cycle"]

# ---- D: the idle service --------------------------------------------------------------------------
if have("idle/idle.txt"):
    f = [int(x) for x in open(f"{out}/idle/idle.txt").read().split()]
    seconds, svc_ticks, srv_ticks, hz, svc_rss, snmpd_rss, bare_rss = f[:7]
    svc_pct = 100 * svc_ticks / hz / seconds
    summary += [
        f"D. The idle service, every collector on, default intervals ({seconds} s after its first full collection):",
        f"   service {svc_pct:.3f} % of one core ({svc_ticks / hz:.2f} s), its wineserver "
        f"{100 * srv_ticks / hz / seconds:.3f} % ({srv_ticks / hz:.2f} s)   aim below 0.5 %: {aim(svc_pct < 0.5)}"]
    details += ["", f"## idle service under the service control manager, every collector on, default settings ({seconds} s)",
                f"service CPU: {svc_ticks / hz:.2f} s = {svc_pct:.3f} % of one core",
                f"its wineserver's CPU: {srv_ticks / hz:.2f} s = {100 * srv_ticks / hz / seconds:.3f} % of one core",
                f"service resident set: {svc_rss} KiB; snmpd's: {snmpd_rss} KiB; ratio {svc_rss / snmpd_rss:.2f}",
                f"for scale, a Wine program that only waits: {bare_rss} KiB"]
    if len(f) >= 10 and have("idle/floor-service.txt"):
        first_rss, first_priv, last_priv = f[7:10]
        frss, fpriv, _, fdlls, fns = open(f"{out}/idle/floor-service.txt").read().split()[:5]
        frss = int(frss)
        trss, tpriv, tthreads = (int(x) for x in open(f"{out}/idle/floor-service-threads.txt").read().split()[:3]) \
            if have("idle/floor-service-threads.txt") else (0, 0, 0)
        details += [f"service after its first full collection: resident {first_rss} KiB, private {first_priv} KiB; "
                    f"after the idle period private {last_priv} KiB",
                    f"floor program with the service's {fdlls.split('/')[1]} system DLLs and {fns} WMI namespaces: resident "
                    f"{frss} KiB, private {fpriv} KiB; service / floor {first_rss / frss:.2f}x"]
        if trss:
            details.append(f"the same with {tthreads} idle threads (the service's count): resident {trss} KiB, private "
                           f"{tpriv} KiB; service / floor {first_rss / trss:.2f}x")
        service_mem += [f"   the service itself (on Wine's own hardware view, {tthreads} threads): resident {mib(first_rss)} after its first full "
                    f"collection, floor {mib(frss)}, {first_rss / frss:.2f}x (aim <= 1.3x: {aim(first_rss / frss <= 1.3)})"
                    + (f"; floor with its {tthreads} threads {mib(trss)}, {first_rss / trss:.2f}x" if trss else "")
                    + f"; snmpd {mib(snmpd_rss)}"]

# ---- E: growth ---------------------------------------------------------------------------------
if have("growth/growth.txt"):
    per_object = []
    details += ["", "## walk cost per object by table size (agentx_e2e_host.exe, bench_walk.py, one GetNext a step)"]
    for line in open(f"{out}/growth/growth.txt"):
        n, objects, steps = (int(x) for x in line.split())
        lat = [float(l.split()[1]) for l in open(f"{out}/growth/rows-{n}/walk.txt")]
        mean = statistics.mean(lat)
        per_object.append((n, mean, statistics.median(lat)))
        details.append(f"{n:>7} rows ({objects} objects): {steps} steps, mean {mean:.0f} us, median "
                       f"{statistics.median(lat):.0f} us, 99th {percentile(lat, 99):.0f} us")
    if per_object:
        ratio = max(m for _, m, _ in per_object) / min(m for _, m, _ in per_object)
        summary += [
            "E. Walk cost per object: " + ", ".join(f"{n // 1000}k rows {m:.0f} us" for n, m, _ in per_object),
            f"   largest / smallest: {ratio:.2f}x   aim flat within 1.5x: {aim(ratio <= 1.5)}"]

# The service's own memory goes with A.
at = next((i for i, l in enumerate(summary) if l[:2] in ("B.", "C.", "D.", "E.")), len(summary))
summary[at:at] = service_mem
head = ["# make bench: medians (us) and ratios; absolute times on a shared machine are noisy",
        f"commit measured: {commit}" + (f"  {note}" if note else ""), "",
        "## the five figures beside their aims"]
text = "\n".join(head + summary + details) + "\n"
open(results, "w").write(text)
print(text, end="")

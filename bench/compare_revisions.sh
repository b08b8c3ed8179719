#!/usr/bin/env bash
# Times the kernel benchmarks of an earlier revision and of the working tree
# side by side on this machine: builds bench/warp_bench of both in Release,
# runs them in alternation ROUNDS times, each going first in every other
# round (so that a change in the machine's load hits both alike) and prints,
# for each case, the least of the median times and the ratio after / before:
# wall time, and CPU time, which a loaded machine disturbs less (the main
# thread's for BM_Warp, every thread's for BM_Views).
# Usage: bench/compare_revisions.sh REVISION [ROUNDS] [FILTER]
#   REVISION  a commit whose bench/warp_bench has the same BM_Warp cases
#   ROUNDS    alternations, default 5
#   FILTER    a --benchmark_filter regex, default every BM_Warp case
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/deps.sh"
ensure_deps build bench

revision=${1:?usage: bench/compare_revisions.sh REVISION [ROUNDS] [FILTER]}
rounds=${2:-5}
filter=${3:-BM_Warp}

work=$(mktemp -d)
trap 'git -C "$root" worktree remove --force "$work/before" >/dev/null 2>&1; rm -rf "$work"' EXIT
git -C "$root" worktree add --detach "$work/before" "$revision" >/dev/null 2>&1

build() {
    cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=Release -DTAVROSK_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
    cmake --build "$2" -j"$(nproc)" --target warp_bench >/dev/null
}
build "$work/before" "$work/build-before"
build "$root" "$root/build-bench"

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
# Odd rounds run the earlier revision first, even rounds the working tree, so
# that neither always runs in the other's wake.
for round in $(seq "$rounds"); do
    order="before after"
    [ $((round % 2)) -eq 0 ] && order="after before"
    for side in $order; do
        if [ "$side" = before ]; then binary=$work/build-before/bench/warp_bench; else binary=$root/build-bench/bench/warp_bench; fi
        "$binary" --benchmark_filter="$filter" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
            --benchmark_format=json 2>/dev/null >"$work/$side-$round.json"
    done
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

python3 - "$work" "$rounds" "$revision" <<'PY'
import json, sys
work, rounds, revision = sys.argv[1], int(sys.argv[2]), sys.argv[3]
best = {}
for side in ("before", "after"):
    for r in range(1, rounds + 1):
        for b in json.load(open(f"{work}/{side}-{r}.json"))["benchmarks"]:
            if b.get("aggregate_name") != "median":
                continue
            key = b["run_name"].replace("BM_Warp/", "").replace("/real_time", "").replace("/process_time", "")
            slot = best.setdefault(key, {})
            for time in ("real_time", "cpu_time"):
                slot[side, time] = min(slot.get((side, time), float("inf")), b[time])
print(f"Benchmarks, {revision} (before) and the working tree (after): least median of {rounds} rounds, ms")
print(f"{'case':<52} {'wall before':>11} {'after':>8} {'ratio':>6} {'CPU before':>11} {'after':>8} {'ratio':>6}")
for key, slot in best.items():
    if len(slot) == 4:
        wb, wa = slot["before", "real_time"], slot["after", "real_time"]
        cb, ca = slot["before", "cpu_time"], slot["after", "cpu_time"]
        print(f"{key:<52} {wb:>11.2f} {wa:>8.2f} {wa / wb:>6.3f} {cb:>11.2f} {ca:>8.2f} {ca / cb:>6.3f}")
PY

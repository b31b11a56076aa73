#!/usr/bin/env bash
# Counts, under callgrind, the instructions the library itself executes per
# export call and per platform call, and what the simulated platform costs
# per call beside it. Deterministic: the same build gives the same figures.
#
# Collection is switched on inside the export and off again inside every
# Win32 function it calls (the host's forwarders to the simulator included),
# so what is counted is the library's own code. Each figure is the difference
# between a run of N calls and a run of none, divided by N, so the set-up
# (registration, board start) drops out.
#
# Usage: bench/instructions.sh [build-dir] [N]   (default build/host, 2000)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/host}
n=${2:-2000}
driver="$build/bench/zq4810_instruction_driver"
[ -x "$driver" ] || { echo "build the host preset first ($driver missing)" >&2; exit 1; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

win32=(CreateFileA DeviceIoControl CloseHandle MessageBoxA RegCreateKeyExA RegOpenKeyExA RegSetValueExA
       RegDeleteKeyA RegCloseKey)

collected() { # export times toggles...
    local name=$1 times=$2
    shift 2
    local args=()
    for f in "$@"; do args+=("--toggle-collect=$f"); done
    valgrind --tool=callgrind --collect-atstart=no "${args[@]}" --callgrind-out-file="$out/cg" \
        "$driver" "$name" "$times" >"$out/stdout" 2>/dev/null
    awk '/^(summary|totals):/ {print $2; exit}' "$out/cg"
}

printf '%-15s %9s %10s %14s %14s %14s %9s\n' export requests "calls/op" "library/op" "library/call" \
    "sim/request" ratio
for name in $("$driver" --list); do
    [ "$name" != READPOSITION-BAD ] || continue # refused before any platform call: nothing to divide by
    # The Win32 functions this export calls that its loop's preparation does not.
    case $name in
        CLOSE) own=(CloseHandle MessageBoxA) ;;
        DELETEALL) own=(RegDeleteKeyA) ;;
        *) own=("${win32[@]}") ;;
    esac
    library=$(( $(collected "$name" "$n" "AZQ4810$name" "${own[@]}") - $(collected "$name" 0 "AZQ4810$name" "${own[@]}") ))
    read -r _ _ _ requests _ calls _ notices < <("$driver" "$name" "$n")
    sim=$(( $(collected "$name" "$n" SimDeviceIoControl) - $(collected "$name" 0 SimDeviceIoControl) ))
    awk -v name="$name" -v n="$n" -v lib="$library" -v req="$requests" -v calls="$calls" -v sim="$sim" 'BEGIN {
        perReq = req > 0 ? sprintf("%.1f", sim / req) : "-"
        ratio = req > 0 && sim > 0 ? sprintf("%.3f", (lib + sim) / sim) : "-"
        printf "%-15s %9d %10.1f %14.1f %14.1f %14s %9s\n", name, req, calls / n, lib / n, lib / calls, perReq, ratio
    }'
done
echo "($n calls of each export; library/call: per platform call; ratio: (library + simulated device) / simulated device, per device request)"

#!/usr/bin/env bash
# zq4810.exe under Wine, against Wine's real registry: a registration that
# install made is still there, byte for byte, after the demo was asked to run
# (it refuses with status 2 and changes nothing); and on a machine without one
# the demo leaves none behind.
#
#   demo_under_wine.sh WORK_FOLDER ZQ4810_EXE RUNNER...
#
# RUNNER is the command that runs a Windows program of the build under Wine
# (cmake/wine64-run with its environment); its skip status 77 is passed on.
# The prefix is the test suite's own; whatever the driver's keys held before
# is put back at the end.
set -uo pipefail
work=$1
tool=$2
shift 2
runner=("$@")

service='HKLM\SYSTEM\CurrentControlSet\Services\ZQ4810'
events='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\System\ZQ4810'
failures=0

fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

# reg.exe writes its files relative to the folder it runs in, which Wine maps
# to a drive: no Unix path is handed to a Windows program.
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
reg() {
    "${runner[@]}" reg "$@" >/dev/null 2>&1
}
exists() {
    reg query "$1"
}

# The first call tells whether Wine runs here at all.
"${runner[@]}" reg query "$service" >/dev/null 2>&1
status=$?
if [ "$status" = 77 ]; then
    "${runner[@]}" reg query "$service" # says why
    exit 77
fi

# What the prefix held before, to be put back.
had_service=0
had_events=0
if [ "$status" = 0 ]; then
    had_service=1
    reg export "$service" original-service.reg /y || fail "cannot export the existing $service"
fi
if exists "$events"; then
    had_events=1
fi

restore() {
    reg delete "$service" /f
    if [ "$had_service" = 1 ]; then
        reg import original-service.reg || fail "cannot put the original $service back"
    fi
    if [ "$had_events" = 0 ]; then
        reg delete "$events" /f
    fi
}

# 1. A registration, as a user makes it; the demo must leave it alone.
"${runner[@]}" "$tool" install 0x300 >install.out 2>&1
status=$?
[ "$status" = 0 ] || fail "install 0x300 gave status $status: $(cat install.out)"
reg export "$service" before.reg /y || fail "no $service after install"

"${runner[@]}" "$tool" demo >demo.out 2>demo.err
status=$?
[ "$status" = 2 ] || fail "demo on a registered machine gave status $status, not 2"
grep -q "demo refused: the driver is registered on this machine" demo.err ||
    fail "demo did not say why it refused: $(cat demo.err)"
grep -q "zq4810 selftest, then zq4810 watch" demo.err || fail "demo did not say how to try the board"
[ ! -s demo.out ] || fail "demo printed steps although it refused: $(cat demo.out)"
reg export "$service" after.reg /y || fail "the demo removed $service"
cmp -s before.reg after.reg || fail "the demo changed $service: $(diff <(iconv -f UTF-16 -t UTF-8 before.reg) \
    <(iconv -f UTF-16 -t UTF-8 after.reg))"

# 2. No registration: the demo runs (no driver here, so it ends with status
# 1) and takes away what it made, the event source included.
reg delete "$service" /f
if [ "$had_events" = 0 ]; then
    reg delete "$events" /f
fi
"${runner[@]}" "$tool" demo >demo2.out 2>&1
status=$?
[ "$status" = 1 ] || fail "demo without a registration and without a driver gave status $status, not 1"
grep -q "AZQ4810CHECKIFDRIVER()  *-> 1 " demo2.out || fail "demo did not register: $(cat demo2.out)"
exists "$service" && fail "demo left $service behind: $(cat demo2.out)"
if [ "$had_events" = 0 ] && exists "$events"; then
    fail "demo left $events behind: $(cat demo2.out)"
fi

restore
if [ "$failures" -gt 0 ]; then
    exit 1
fi
echo "demo under Wine: a registration kept byte for byte; without one, none left behind"

#!/usr/bin/env bash
# Drives console_demo through the console backend with session.txt and compares standard
# output, standard error and the exit code with what a user of the protocol must see.
set -u
demo="$1"
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failed=0

check() {  # name expected actual
    if ! diff -u "$2" "$3"; then echo "FAILED: $1"; failed=1; fi
}

# The whole session; end of input inside the last input box cancels it, then closes.
"$demo" --console <"$here/session.txt" >"$work/out" 2>"$work/err"
echo "exit $?" >>"$work/out"
{ cat "$here/session.out"; echo "exit 0"; } >"$work/expected"
check "session output" "$work/expected" "$work/out"
check "session errors" "$here/session.err" "$work/err"

# end_dialog's result becomes the exit code; lines after the end are not read.
printf 'press 1010\npress 1002\n' | "$demo" --console >"$work/out" 2>&1
echo "exit $?" >>"$work/out"
printf '[1007] Demo started\nexit 3\n' >"$work/expected"
check "end dialog" "$work/expected" "$work/out"

# "close" ends with 0; a script written on Windows (CR LF) reads the same.
printf 'press 1003\r\n7\r\nclose\r\npress 1002\r\n' | "$demo" --console >"$work/out" 2>&1
echo "exit $?" >>"$work/out"
printf '[1007] Demo started\n? How many minutes: [1]\n[1004] answer 7 = 7\nexit 0\n' >"$work/expected"
check "close command" "$work/expected" "$work/out"

# No display: the console backend is chosen without --console.
printf 'show 1001\n' | env -u DISPLAY -u WAYLAND_DISPLAY "$demo" >"$work/out" 2>&1
printf '[1007] Demo started\n[1001] Demo dialog\n' >"$work/expected"
check "no display" "$work/expected" "$work/out"

# A display that is named but not there: the console, not an abort inside Qt.
printf 'show 1001\n' | env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:4711 "$demo" >"$work/out" 2>/dev/null
echo "exit $?" >>"$work/out"
printf '[1007] Demo started\n[1001] Demo dialog\nexit 0\n' >"$work/expected"
check "unreachable display" "$work/expected" "$work/out"

# A display whose socket answers but that is no X server (as a virtual display going away
# looks to a program starting): Qt cannot start, the program goes on in the console.
python3 -c '
import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
s.bind("\0/tmp/.X11-unix/X4712")
s.listen(8)
print("ready", flush=True)
while True:
    s.accept()[0].close()
' >"$work/fake" &
fake=$!
for _ in $(seq 50); do [ -s "$work/fake" ] && break; sleep 0.1; done
printf 'show 1001\n' | env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:4712 "$demo" >"$work/out" 2>/dev/null
echo "exit $?" >>"$work/out"
kill $fake
check "display that cannot start Qt" "$work/expected" "$work/out"

# Options.
"$demo" --version >"$work/out" 2>&1; echo "exit $?" >>"$work/out"
printf 'console_demo 0.1\nexit 0\n' >"$work/expected"
check "--version" "$work/expected" "$work/out"
"$demo" --help >"$work/out" 2>/dev/null; code=$?
if [ $code -ne 0 ] || ! grep -q "^Usage: console_demo" "$work/out" || ! grep -q -- "--console" "$work/out"; then
    echo "FAILED: --help"; failed=1
fi
"$demo" --bogus </dev/null >"$work/out" 2>"$work/err"; code=$?
if [ $code -ne 2 ] || [ -s "$work/out" ] || ! grep -q "bogus" "$work/err"; then
    echo "FAILED: bad option (exit $code)"; failed=1
fi
exit $failed

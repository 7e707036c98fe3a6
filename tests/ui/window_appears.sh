#!/usr/bin/env bash
# Starts the real program without switches on a private X server (Xvfb) and a
# fresh machine, and checks that its main window "Quillbox" appears, mapped and
# at least as large as designed, and that no message box came first.
# Usage: window_appears.sh BIN_DIR
set -euo pipefail
bin=$1
work=$(mktemp -d)
xvfb=""
app=""
last=""
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A display number nobody uses.
for n in $(seq 150 250); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=:$n; break; fi
done
Xvfb "$display" -noreset -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 300); do
  [ -e "/tmp/.X11-unix/X${display#:}" ] && break
  sleep 0.1
done

"$bin/qb_make_demo" "$work/prefix" ann empty >/dev/null
env -u QT_QPA_PLATFORM DISPLAY="$display" QUILLBOX_PREFIX="$work/prefix" \
  XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work" "$bin/quillbox" >"$work/out" 2>&1 &
app=$!

for _ in $(seq 600); do
  if ! kill -0 "$app" 2>/dev/null; then
    echo "quillbox ended before its window appeared:" >&2
    cat "$work/out" >&2
    exit 1
  fi
  if info=$(DISPLAY="$display" xwininfo -name Quillbox 2>/dev/null) &&
     grep -q 'Map State: IsViewable' <<<"$info"; then
    width=$(awk '/^  Width:/ {print $2}' <<<"$info")
    height=$(awk '/^  Height:/ {print $2}' <<<"$info")
    if [ "$width" -lt 558 ] || [ "$height" -lt 434 ]; then
      # Still being laid out: look again.
      last="${width}x${height}, smaller than designed"
      sleep 0.1
      continue
    fi
    windows=$(DISPLAY="$display" xwininfo -root -tree | grep -c '"Quillbox": ("quillbox"' || true)
    if [ "$windows" -ne 1 ]; then
      echo "$windows windows of quillbox are shown, not just the main window" >&2
      exit 1
    fi
    echo "main window Quillbox shown, ${width}x${height}"
    exit 0
  fi
  sleep 0.1
done
echo "no window Quillbox appeared${last:+ (it was $last)}" >&2
cat "$work/out" "$work/xvfb.log" >&2
DISPLAY="$display" xwininfo -root -tree >&2 || true
exit 1

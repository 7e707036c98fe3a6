#!/usr/bin/env bash
# Starts the real program with "/o FILE" on a private X server (Xvfb) and a fresh
# machine holding a backup, and looks at it as a screen reader does, through a
# private accessibility bus (AT-SPI): the main window must stay open with the
# wizard on "Choose items to restore", listing the identities the backup's
# manifest names, checked. Then "/o" without a file: just the main window, on
# the standard-mode tabs.
# Usage: open_backup_file.sh BIN_DIR PROBE AT_SPI_BUS_LAUNCHER
set -euo pipefail
bin=$1
probe=$2
launcher=$3
work=$(mktemp -d)
pids=()
cleanup() {
  local p
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    p=${pids[i]}
    kill "$p" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  [ -f "$work/bus.pid" ] && kill "$(cat "$work/bus.pid")" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A session bus of our own, and the accessibility bus on it.
mkdir -m 700 "$work/run" "$work/home"
export XDG_RUNTIME_DIR=$work/run HOME=$work/home
dbus-daemon --session --fork --print-address=3 --print-pid=4 3>"$work/bus.address" 4>"$work/bus.pid"
export DBUS_SESSION_BUS_ADDRESS
DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$work/bus.address")
env -u DISPLAY "$launcher" --launch-immediately >"$work/launcher.log" 2>&1 &
pids+=($!)

# The X server picks a free display and names it once it answers. It must not
# reset when its last client leaves: the program's own look at the display
# (open and close) would make Qt's connection right after meet a resetting server.
Xvfb -displayfd 3 -noreset -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" \
  >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 300); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
display=:$(head -n1 "$work/display")
[ "$display" != ":" ] || { echo "Xvfb did not start:" >&2; cat "$work/xvfb.log" >&2; exit 1; }

start() {
  env -u QT_QPA_PLATFORM DISPLAY="$display" QUILLBOX_PREFIX="$work/prefix" \
    XDG_DATA_HOME="$work/data" QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$bin/quillbox" "$@" \
    >"$work/out" 2>&1 &
  app=$!
  pids+=($app)
}

"$bin/qb_make_demo" "$work/prefix" ann data small >/dev/null
env -u DISPLAY QUILLBOX_PREFIX="$work/prefix" XDG_DATA_HOME="$work/data" "$bin/quillbox" \
  /b /c:oexpress '/p:C:\Backups' - >"$work/backup.out" 2>&1
backup=$(ls "$work/prefix/drive_c/Backups/"*.ebk)
name=$(basename "$backup")
# The identities the backup names, in its manifest's order.
mapfile -t identities < <(bsdtar -xOf "$backup" infobak.ini | tr -d '\r' |
  awk -F= '/^\[/ {s = $0; next} s == "[Identities]" && /^Item/ {print $2}')
[ "${#identities[@]}" -ge 2 ] || { echo "the demo backup names too few identities" >&2; exit 1; }

# What the screen reader sees of the program, until `wanted` holds or 30 s.
seen() {
  local wanted=$1 i
  for i in $(seq 300); do
    if ! kill -0 "$app" 2>/dev/null; then
      echo "quillbox ended:" >&2
      cat "$work/out" "$work/xvfb.log" >&2
      exit 1
    fi
    "$probe" >"$work/tree" 2>/dev/null || true
    if eval "$wanted"; then return 0; fi
    sleep 0.1
  done
  return 1
}
listed() {
  grep -q '^ *label: Choose items to restore$' "$work/tree" || return 1
  # The list "Identities" and its entries, in order.
  local got
  got=$(awk '/^ *list: Identities$/ {d = index($0, "l"); on = 1; next}
             on && index($0, "list item:") == d + 2 {sub(/^ *list item: /, ""); print; next}
             on {on = 0}' "$work/tree")
  [ "$got" = "$(printf '%s [checked]\n' "${identities[@]}")" ]
}

start /o "C:\\Backups\\$name"
if ! seen listed; then
  echo "the wizard did not show the items of $name:" >&2
  cat "$work/tree" "$work/out" >&2
  exit 1
fi
# And it stays.
sleep 2
if ! seen listed; then
  echo "the wizard did not stay on the items of $name" >&2
  exit 1
fi
echo "quillbox /o shows \"Choose items to restore\" with ${identities[*]}"
kill "$app"
wait "$app" 2>/dev/null || true

start /o
tabs() { grep -q '^ *page tab: Backup$' "$work/tree" && ! grep -q 'Choose items' "$work/tree"; }
if ! seen tabs; then
  echo "quillbox /o without a file did not show the main window's tabs:" >&2
  cat "$work/tree" "$work/out" >&2
  exit 1
fi
echo "quillbox /o without a file shows the main window"

#!/usr/bin/env bash
# Installs the build with `cmake --install` into a fresh prefix and takes that
# prefix's share folder as the user's desktop data, with no other settings, as
# a desktop would see it after the install. Checks that the install itself
# registered the backup files: a real backup is application/x-quillbox-backup
# (by its name; a renamed copy is just a ZIP archive), the installed desktop
# entry is the default application for it, opening the backup (xdg-open) runs
# the installed "quillbox /o FILE" and its main window appears, and starting
# the entry without a file (as the menu does) runs "quillbox /o" and shows the
# main window too.
# Usage: backup_type_registered.sh BUILD_DIR CMAKE_COMMAND
set -euo pipefail
build=$1
cmake=$2
work=$(mktemp -d)
xvfb=""
app=""
opener=""
stop_app() {
  if [ -n "$app" ]; then
    kill "$app" 2>/dev/null || true
    for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
    app=""
  fi
}
cleanup() {
  stop_app
  [ -n "$opener" ] && kill "$opener" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "$*" >&2
  exit 1
}

prefix=$work/prefix
"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log" >&2; fail "cmake --install failed"; }
entry=$prefix/share/applications/quillbox.desktop
[ -f "$prefix/share/mime/packages/quillbox.xml" ] || fail "the MIME type was not installed"
[ -f "$prefix/share/mime/mime.cache" ] || fail "the install did not run update-mime-database"
grep -qx 'application/x-quillbox-backup=quillbox.desktop;' \
  "$prefix/share/applications/mimeinfo.cache" 2>/dev/null ||
  fail "the install did not list quillbox.desktop for the type in mimeinfo.cache"
if ! out=$(desktop-file-validate "$entry" 2>&1) || [ -n "$out" ]; then
  fail "desktop-file-validate: $out"
fi
# A package being built (DESTDIR) ships no caches: its target system makes them.
DESTDIR=$work/stage "$cmake" --install "$build" --prefix /usr >"$work/stage.log" 2>&1 ||
  { cat "$work/stage.log" >&2; fail "cmake --install with DESTDIR failed"; }
[ -f "$work/stage/usr/share/mime/packages/quillbox.xml" ] || fail "DESTDIR: no MIME type"
for cache in mime/mime.cache applications/mimeinfo.cache; do
  [ ! -e "$work/stage/usr/share/$cache" ] || fail "DESTDIR: the package would ship $cache"
done

# Only the prefix and the system's own MIME definitions (application/zip) count:
# no settings, applications or desktop session of this machine.
mkdir -p "$work/home" "$work/config" "$work/config-dirs" "$work/system"
ln -s /usr/share/mime "$work/system/mime"
unset XDG_CURRENT_DESKTOP XDG_MENU_PREFIX XDG_SESSION_DESKTOP DESKTOP_SESSION \
  KDE_FULL_SESSION KDE_SESSION_VERSION GNOME_DESKTOP_SESSION_ID MATE_DESKTOP_SESSION_ID \
  WAYLAND_DISPLAY BROWSER QUILLBOX_SQX WINEPREFIX
export HOME=$work/home XDG_DATA_HOME=$prefix/share XDG_DATA_DIRS=$work/system \
  XDG_CONFIG_HOME=$work/config XDG_CONFIG_DIRS=$work/config-dirs XDG_RUNTIME_DIR=$work \
  DBUS_SESSION_BUS_ADDRESS=unix:path=$work/no-bus GIO_USE_VFS=local
export PATH=$prefix/bin:$PATH

# A real backup, made by the installed program (its name has blanks in it).
export QUILLBOX_PREFIX=$work/machine
"$build/bin/qb_make_demo" "$QUILLBOX_PREFIX" ann data small >/dev/null
quillbox /b /c:eudora "/p:$work/My Backups" - >/dev/null 2>"$work/backup.log" ||
  { cat "$work/backup.log" >&2; fail "the installed quillbox made no backup"; }
backups=("$work/My Backups"/*.ebk)
backup=${backups[0]}
[ -f "$backup" ] || fail "no backup file in $work/My Backups"
cp "$backup" "$work/renamed"
cp "$backup" "$work/SHOUTED.EBK"

# The content-type readers of a plain session (mimetype) and of GNOME-like ones (gio).
filetype() { XDG_CURRENT_DESKTOP=$1 xdg-mime query filetype "$2"; }
for desktop in X-Generic GNOME; do
  type=$(filetype $desktop "$backup")
  [ "$type" = application/x-quillbox-backup ] || fail "$desktop: $backup is \"$type\""
  # No content rule claims ZIP archives: without the name it is a ZIP archive.
  type=$(filetype $desktop "$work/renamed")
  [ "$type" = application/zip ] || fail "$desktop: a renamed backup is \"$type\", not a ZIP archive"
done
# The program opens ".ebk" alone, so the name's letter case counts (where the
# reader honours the flag).
type=$(filetype GNOME "$work/SHOUTED.EBK")
[ "$type" = application/zip ] || fail "GNOME: SHOUTED.EBK is \"$type\""
default=$(XDG_CURRENT_DESKTOP=X-Generic xdg-mime query default application/x-quillbox-backup)
[ "$default" = quillbox.desktop ] || fail "default application: \"$default\""

# A private X server (Xvfb) on a display number it picks itself, so that tests
# running side by side never share one; it stays up between its clients.
exec 3>"$work/display"
Xvfb -displayfd 3 -noreset -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
exec 3>&-
for _ in $(seq 300); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/display" ] || { cat "$work/xvfb.log" >&2; fail "Xvfb did not start"; }
display=:$(head -n 1 "$work/display")
export DISPLAY=$display
unset QT_QPA_PLATFORM

# Waits for the window "Quillbox" and sets `app` to the process showing it,
# which must be the installed program run with exactly the given parameters.
expect_window() {
  local what=$1 want info win pid
  shift
  want=$(printf '%s\n' "$@")
  for _ in $(seq 600); do
    if info=$(xwininfo -name Quillbox 2>/dev/null) && grep -q 'Map State: IsViewable' <<<"$info"; then
      win=$(awk '/Window id:/ {print $4}' <<<"$info")
      pid=$(xprop -id "$win" _NET_WM_PID | awk '{print $3}')
      [[ "$pid" =~ ^[0-9]+$ ]] || fail "$what: the window names no process"
      app=$pid
      [ "$(readlink "/proc/$pid/exe")" = "$prefix/bin/quillbox" ] ||
        fail "$what: the window is not the installed program's"
      local got
      got=$(tail -z -n +2 "/proc/$pid/cmdline" | tr '\0' '\n')
      [ "$got" = "$want" ] || fail "$what ran quillbox with: $(tr '\n' ' ' <<<"$got")"
      echo "$what: quillbox $(tr '\n' ' ' <<<"$want")shows its main window"
      return 0
    fi
    if [ -n "$opener" ] && ! kill -0 "$opener" 2>/dev/null; then
      wait "$opener" || true
      cat "$work/open.log" >&2
      fail "$what: quillbox ended before its window appeared"
    fi
    sleep 0.1
  done
  cat "$work/open.log" >&2
  fail "$what: no window Quillbox appeared"
}

# Opening the backup as a file manager would.
XDG_CURRENT_DESKTOP=X-Generic xdg-open "$backup" >"$work/open.log" 2>&1 &
opener=$!
expect_window "xdg-open of the backup" /o "$backup"
stop_app
wait "$opener" 2>/dev/null || true
opener=""

# Starting the entry without a file, as the menu does.
gio launch "$entry" >"$work/open.log" 2>&1
expect_window "the menu entry" /o
stop_app

#!/usr/bin/env bash
# The Windows packages, made by CPack and tried under Wine:
# - the zip holds the three programs, the user's README and the licences, and runs from a folder
#   nobody may write (staging then moves to the user's local application data);
# - the installer, silent (/S), puts the programs into Program Files with a Start-menu entry and
#   an uninstaller the system lists; cindral-party.exe set works from there; the editor's window
#   opens with its caption; the silent uninstall leaves nothing in Program Files.
# Every program is started as Windows starts it, without the Unix variables Wine would hand over
# (the launcher WINDOWS_LIKE removes them).
# Usage: check_packages.sh BUILD_DIR MAKE_STATE VERSION WINDOWS_LIKE
set -euo pipefail
# Any step that fails unexpectedly says which. (A pipe into `grep -q` would end its writer early,
# which pipefail counts as a failure: the greps here read to the end.)
trap 'echo "FAILED: line $LINENO: $BASH_COMMAND"' ERR
build=$1 make_state=$2 version=$3 windows_like=$4
run() { wine "$windows_like" "$@"; }
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
prefix="${WINEPREFIX:-$HOME/.wine}"
work=$(mktemp -d)
unpacked=
# The installed editor's process (the `wine` that started it may end before it does).
# Started by a Unix path or, through cmd, by a Windows one.
editor_running() { pgrep -f 'Cindral I Editor[/\\]cindral-editor.exe' >/dev/null; }
# The status stays the script's: nothing here may fail it.
cleanup() {
  pkill -KILL -f 'Cindral I Editor[/\\]cindral-editor.exe' 2>/dev/null || true
  if [ -n "$unpacked" ]; then
    chattr -R -i "$unpacked" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAILED: $*"
  exit 1
}
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

cd "$build"
cpack -G ZIP >/dev/null
cpack -G NSIS >/dev/null
zip="cindral-editor-$version-win64.zip"
setup="cindral-editor-$version-win64-setup.exe"
[ -f "$zip" ] || fail "no $zip"
[ -f "$setup" ] || fail "no $setup"

# The zip: one folder, everything the programs need beside them.
top="cindral-editor-$version-win64"
listing=$(unzip -Z1 "$zip" | sort)
for file in cindral-editor.exe cindral-party.exe Unvell.exe README.md LICENSE.txt THIRD-PARTY.txt \
  LGPL-3.0.txt GPL-3.0.txt; do
  grep -qx "$top/$file" <<<"$listing" || fail "the zip lacks $file"
done
[ "$(grep -c '\.dll$' <<<"$listing" || true)" -eq 0 ] || fail "the zip holds DLLs: Qt is linked in"
unzip -q "$zip" -d "$work/resources"
for exe in cindral-editor.exe cindral-party.exe Unvell.exe; do
  # The version resource's strings are UTF-16.
  strings -el "$work/resources/$top/$exe" | grep -x "$version" >/dev/null ||
    fail "$exe has no version resource"
done

# Run from a folder nobody may write, root included.
unzip -q "$zip" -d "$work"
unpacked="$work/$top"
mkdir -p "$work/states"
state=$(windows_path "$work/states/Sauvegarde été.000")
run "$make_state" "$state" >/dev/null
if chattr -R +i "$unpacked" 2>/dev/null; then
  run "$unpacked/cindral-party.exe" set "$state" --slot 1 level=42 >/dev/null ||
    fail "cindral-party.exe set from the read-only folder"
  run "$unpacked/cindral-party.exe" show --json "$state" | grep '"level": 42' >/dev/null ||
    fail "the set from the read-only folder did not reach the state"
  copy=$(find "$prefix/drive_c/users" -path '*AppData/Local/*cindral-editor/Unvell.exe' | head -n 1)
  [ -n "$copy" ] || fail "no private copy of the decompressor in the user's local application data"
  # Once there, the copy serves every later run as it is.
  before=$(stat -c '%i %Y' "$copy")
  run "$unpacked/cindral-party.exe" set "$state" --slot 1 level=43 >/dev/null ||
    fail "a second cindral-party.exe set from the read-only folder"
  [ "$(stat -c '%i %Y' "$copy")" = "$before" ] || fail "the private copy was written again"
  chattr -R -i "$unpacked"
else
  echo "note: no immutable attribute here; the read-only run was left out"
fi

# An older version first, which ships a file this one no longer does; the user then has
# backups from it.
programs="$prefix/drive_c/Program Files/Cindral I Editor"
old_setup="cindral-editor-0.9.0-win64-setup.exe"
cpack -G NSIS -D CPACK_PACKAGE_VERSION=0.9.0 -D CPACK_PACKAGE_FILE_NAME=cindral-editor-0.9.0-win64 \
  -D "CPACK_NSIS_DISPLAY_NAME=Cindral I Editor 0.9.0" \
  -D 'CPACK_NSIS_EXTRA_INSTALL_COMMANDS=FileOpen $0 "$INSTDIR\Old notes.txt" w
FileClose $0' \
  -D 'CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS=Delete "$INSTDIR\Old notes.txt"' >/dev/null
wine "$old_setup" /S
[ -f "$programs/Old notes.txt" ] || fail "the older version's installer did not install its notes"
run "$programs/cindral-party.exe" set "$state" --slot 3 level=33 >/dev/null ||
  fail "cindral-party.exe set from the older version"
backups=$(find "$prefix/drive_c/users" -type d -path '*AppData/Local/cindral-editor/backups' | head -n 1)
[ -n "$backups" ] && [ -n "$(find "$backups" -type f | head -n 1)" ] ||
  fail "no backups in the user's local application data"
kept=$(find "$backups" -type f | sort | md5sum)

# This version, silent, over the older one: what that one shipped and this one does not is
# gone, the user's backups stay.
wine "$setup" /S
[ ! -e "$programs/Old notes.txt" ] || fail "the upgrade left the older version's notes"
[ "$(find "$backups" -type f | sort | md5sum)" = "$kept" ] || fail "the upgrade touched the backups"
wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Cindral I Editor' \
  /v DisplayVersion 2>/dev/null | tr -d '\r' | grep "$version" >/dev/null ||
  fail "the system lists another version than $version"
for file in cindral-editor.exe cindral-party.exe Unvell.exe README.md THIRD-PARTY.txt; do
  [ -f "$programs/$file" ] || fail "the installer did not install $file"
done
[ -f "$programs/Uninstall.exe" ] || fail "no uninstaller"
wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Cindral I Editor' \
  2>/dev/null | tr -d '\r' | grep 'UninstallString' >/dev/null || fail "the uninstaller is not listed"
find "$prefix/drive_c" -path '*Start Menu/Programs/Cindral I Editor/Cindral I Editor.lnk' |
  grep . >/dev/null || fail "no Start-menu entry"

run "$programs/cindral-party.exe" set "$state" --slot 2 str=77 >/dev/null ||
  fail "cindral-party.exe set from Program Files"
run "$programs/cindral-party.exe" show --json "$state" | grep '"str": 77' >/dev/null ||
  fail "the set from Program Files did not reach the state"

# The editor's window, with its caption, on the display this run has.
if [ -n "${DISPLAY:-}" ] && command -v xdotool >/dev/null; then
  run "$programs/cindral-editor.exe" "$state" >/dev/null 2>&1 &
  shown=
  for _ in $(seq 1 120); do
    if xdotool search --name '^Cindral I Editor' >/dev/null 2>&1; then
      shown=yes
      break
    fi
    sleep 0.5
  done
  [ -n "$shown" ] || fail "the editor's window did not open"
  # Closed as a user does, with Ctrl+Q (there is no window manager to activate it). While the
  # state loads the window takes no keys, so the key is pressed again until the editor ends.
  closed=
  for _ in $(seq 1 30); do
    window=$(xdotool search --name '^Cindral I Editor' | head -n 1 || true)  # gone once closed
    if [ -n "$window" ]; then
      xdotool windowfocus --sync "$window" key --clearmodifiers ctrl+q 2>/dev/null || true
    fi
    sleep 2
    if ! editor_running; then
      closed=yes
      break
    fi
  done
  [ -n "$closed" ] || fail "the editor did not close on Ctrl+Q"
else
  echo "note: no display or xdotool; the window was left out"
fi

wine "$programs/Uninstall.exe" /S
# The uninstaller runs from a copy of itself and returns at once.
for _ in $(seq 1 120); do
  [ -e "$programs" ] || break
  sleep 0.5
done
[ ! -e "$programs" ] || fail "the uninstall left $(find "$programs" | head -n 5)"
echo "packages checked: $zip, $setup"

#!/usr/bin/env bash
# Runs the release build and every suite inside a minimal Debian 13 root, as on a fresh Debian 13
# machine: Qt 6.8, GCC 14, CMake 3.31, clang-format 19. The root is made once with debootstrap
# from the archive this machine's apt uses, and cached outside the tree; each run copies the
# tree's committed and changed files into it afresh. The mounts it needs (/proc, /sys, /dev and
# a tmpfs on /tmp) are undone at the end, when interrupted too, and any left by a run that was
# killed outright are undone first. Needs root (debootstrap, chroot, mounts).
#
# With --with-sanitizers: the AddressSanitizer and UBSan build and suite as well, as ./test.sh
# runs them.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

if [ "$(id -u)" -ne 0 ]; then
  exec sudo "$0" "$@"
fi

root="${CINDRAL_DEBIAN13_ROOT:-$HOME/.cache/cindral-editor-build/debian13}"
scripts/setup-debian.sh debootstrap

# The first archive for Debian packages in apt's sources (deb822 or one-line form).
archive() {
  local uri
  uri=$(awk '/^Types:/ { deb = ($0 ~ /[[:space:]]deb([[:space:]]|$)/) }
             deb && /^URIs:/ { print $2; exit }' /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
  if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
    uri=$(awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /:\/\//) { print $i; exit } }' \
      /etc/apt/sources.list)
  fi
  case "$uri" in
    *-security*|"") echo "test-debian13: no Debian archive found in apt's sources" >&2; return 1 ;;
  esac
  echo "$uri"
}

mounted=()
undo_mounts() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount -l "${mounted[$i]}" 2>/dev/null || true
  done
  mounted=()
}
# Mounts under the root left by a run that was killed outright, deepest first.
undo_stale_mounts() {
  local target
  awk -v root="$root/" 'index($2, root) == 1 { print $2 }' /proc/mounts | sort -r |
    while read -r target; do umount -l "$target" 2>/dev/null || true; done
}
mount_in() {  # mount_in <target below the root> <mount arguments...>
  local target="$root$1"
  shift
  mkdir -p "$target"
  mount "$@" "$target"
  mounted+=("$target")
}
trap undo_mounts EXIT
trap 'exit 130' INT TERM

undo_stale_mounts

if [ ! -f "$root/.complete" ]; then
  mirror=$(archive)
  rm -rf "$root"
  mkdir -p "$(dirname "$root")"
  echo "test-debian13: making a minimal Debian 13 root in $root (once)"
  debootstrap --variant=minbase trixie "$root" "$mirror" >"$root.log" 2>&1 ||
    { echo "test-debian13: debootstrap failed; see $root.log" >&2; exit 1; }
  # As a new user has it: git, certificates and sudo, nothing else.
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  chroot "$root" apt-get install -y -qq --no-install-recommends git ca-certificates sudo >/dev/null
  touch "$root/.complete"
fi
cp /etc/resolv.conf "$root/etc/resolv.conf"
# What Debian 13 desktops have and the .deb recommends (this machine's Debian 12 run goes
# without): the suites pass either way.
chroot "$root" apt-get install -y -qq --no-install-recommends qt6-wayland >/dev/null

mount_in /proc -t proc proc
mount_in /sys --bind /sys
mount_in /dev --bind /dev
mount_in /dev/pts --bind /dev/pts
mount_in /tmp -t tmpfs tmpfs

# The tree as it stands, committed or not, without this machine's build folders; in a folder
# other users can reach (the install check runs a program as nobody), and a git tree there, so
# that the format check knows the files.
work=/srv/cindral-editor
rm -rf "$root$work"
mkdir -p "$root$work"
git ls-files -z --cached --others --exclude-standard |
  tar --null -T - -cf - --ignore-failed-read 2>/dev/null | tar -xf - -C "$root$work"
chroot "$root" git -C "$work" init -q
chroot "$root" git -C "$work" add -A

chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
  bash -c "cd $work && ./test.sh $([ "${1:-}" = "--with-sanitizers" ] || echo --release-only)"

#!/usr/bin/env bash
# Lets apt-get fetch the distribution's source packages: a deb-src entry copied from the system's
# own entry, so it names no other place. Safe to rerun.
set -euo pipefail
sudo=()
if [ "$(id -u)" -ne 0 ]; then
  sudo=(sudo)
fi
src=/etc/apt/sources.list.d/cindral-deb-src.sources
if [ ! -f "$src" ]; then
  sed -e 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
    "${sudo[@]}" tee "$src" >/dev/null
fi
"${sudo[@]}" apt-get update -qq

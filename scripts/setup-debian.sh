#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 or 13, only what is missing. Safe to rerun.
set -euo pipefail

packages=(g++ cmake ninja-build pkg-config qt6-base-dev qt6-qpa-plugins zlib1g-dev
          fonts-liberation2 fonts-dejavu-extra libbenchmark-dev)
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if ! command -v apt-get >/dev/null; then
  echo "Missing packages: ${missing[*]}. Install them with your package manager." >&2
  exit 1
fi
sudo=()
if [ "$(id -u)" -ne 0 ]; then
  sudo=(sudo)
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"

#!/usr/bin/env bash
# Installs the Debian packages the project needs, and only those missing, so
# that a fresh Debian 12 gets there with this one script.
# Usage: scripts/install-deps.sh [build|run|all]   (default: all)
set -euo pipefail

what=${1:-all}
build=(build-essential cmake git pkg-config libgtest-dev libgmock-dev
       qt6-base-dev libgl-dev fonts-dejavu-core
       clang-14 libclang-rt-14-dev
       umockdev)  # fakes a USB serial adapter for the port tests
run=(xvfb xauth x11-utils)

case "$what" in
  build) want=("${build[@]}") ;;
  run)   want=("${run[@]}") ;;
  all)   want=("${build[@]}" "${run[@]}") ;;
  *) echo "usage: $0 [build|run|all]" >&2; exit 2 ;;
esac

missing=()
for p in "${want[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null; then sudo=(sudo); else
    echo "Missing packages (${missing[*]}) and not root: run this script as root." >&2
    exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update
"${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"

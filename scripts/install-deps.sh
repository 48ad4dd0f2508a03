#!/usr/bin/env bash
# Installs the Debian packages the project needs, and only those missing, so
# that a fresh Debian 12 gets there with this one script.
# Usage: scripts/install-deps.sh [build|run|test|package|format|all]   (default: all)
#   test:    what scripts/test.sh needs: the build, plus the tools the tests drive
#   package: what scripts/package.sh needs to build and check the Debian packages
#   format:  what scripts/format.sh needs
set -euo pipefail

what=${1:-all}
build=(build-essential cmake ninja-build git pkg-config libgtest-dev libgmock-dev
       qt6-base-dev libgl-dev fonts-dejavu-core
       clang-14 libclang-rt-14-dev)
run=(xvfb xauth x11-utils)
# dpkg-dev brings dpkg-shlibdeps and dpkg-buildflags.
package=(dpkg-dev lintian desktop-file-utils appstream)
# tshark runs the Wireshark dissector in the tests; strace counts system
# calls for the benchmark's capture rows; umockdev fakes a USB serial
# adapter for the port tests; Xvfb gives the window tests a real screen;
# junitparser reads a production run's JUnit file as a CI server would;
# ser2net serves the simulated unit on loopback for the network port tests.
testing=(tshark strace umockdev xvfb xauth python3-junitparser ser2net "${package[@]}")
format=(clang-format-14)

case "$what" in
  build) want=("${build[@]}") ;;
  run)   want=("${run[@]}") ;;
  test)  want=("${build[@]}" "${testing[@]}") ;;
  package) want=("${build[@]}" "${package[@]}") ;;
  format) want=("${format[@]}") ;;
  all)   want=("${build[@]}" "${run[@]}" "${testing[@]}" "${format[@]}") ;;
  *) echo "usage: $0 [build|run|test|package|format|all]" >&2; exit 2 ;;
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
# tshark's package asks about capturing as non-root: noninteractive takes
# the default (no), also through sudo, which drops the environment.
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"

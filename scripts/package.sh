#!/usr/bin/env bash
# Builds the Debian packages: librslinkN (the library), librslink-dev (its
# header, pkg-config file and link) and valdor (the console with bdusim),
# then checks them with lintian, which must report no error.
#   scripts/package.sh          packages in build-pkg/
#   VALDOR_PKG_BUILD=DIR scripts/package.sh
# Install them with:  apt install ./build-pkg/*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
build=${VALDOR_PKG_BUILD:-build-pkg}
jobs=$(nproc 2>/dev/null || echo 2)
[ "$jobs" -gt 2 ] && jobs=2  # a shared 2-core machine: never more

scripts/install-deps.sh package

# Debian's hardening and optimisation flags, as a package build gets them
# (all of the hardening, bindnow included).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CFLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"

# Prefix /usr: the library lands in the multiarch folder and the programs
# carry no RPATH.  Build type None: the flags above are the only ones.  As
# packages are built from scratch, a unity build, and Ninja where installed
# (a folder configured before keeps its generator); the compiler cache,
# where installed, is the CMake project's own choice.
generator=()
if [ ! -f "$build/CMakeCache.txt" ] && command -v ninja >/dev/null; then generator=(-G Ninja); fi
cmake -S . -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_C_FLAGS="$CFLAGS" -DCMAKE_CXX_FLAGS="$CXXFLAGS" \
  -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" -DCMAKE_SHARED_LINKER_FLAGS="$LDFLAGS" \
  -DVALDOR_TESTS=OFF -DVALDOR_BENCH=OFF -DCMAKE_UNITY_BUILD=ON >/dev/null
cmake --build "$build" -j "$jobs"

rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB)

echo "lintian:"
lintian --fail-on error --info --display-level '>=warning' "$build"/*.deb
echo
ls -1 "$build"/*.deb

#!/usr/bin/env bash
# Installs the build tree into a fresh prefix and checks what a user of the
# installed tree relies on: the programs start with no library path set, the
# library's SONAME and links, a program builds against it with pkg-config
# alone, and the manual pages, desktop entry, metainfo, icon, dissector and
# documentation are in place.
# Usage: check-install-tree.sh BUILD_DIR LIBDIR VERSION SOVERSION WITH_QT(0|1)
set -euo pipefail
build=$1 libdir=$2 version=$3 soversion=$4 with_qt=$5
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

cmake --install "$build" --prefix "$root" >/dev/null
unset LD_LIBRARY_PATH

# The library: real file, SONAME link, development link.
lib="$root/$libdir"
[ -f "$lib/librslink.so.$version" ] && [ ! -L "$lib/librslink.so.$version" ] ||
  fail "$libdir/librslink.so.$version is not a regular file"
[ "$(readlink "$lib/librslink.so.$soversion" 2>/dev/null)" = "librslink.so.$version" ] ||
  fail "$libdir/librslink.so.$soversion does not link to librslink.so.$version"
[ "$(readlink "$lib/librslink.so" 2>/dev/null)" = "librslink.so.$soversion" ] ||
  fail "$libdir/librslink.so does not link to librslink.so.$soversion"
soname=$(readelf -d "$lib/librslink.so.$version" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = "librslink.so.$soversion" ] || fail "SONAME is '$soname', not librslink.so.$soversion"

# The programs run from the prefix: valdor finds the installed library, not
# the build tree's.
for p in valdor bdusim; do
  "$root/bin/$p" --help >/dev/null || fail "installed $p --help failed"
done
resolved=$(ldd "$root/bin/valdor" | sed -n 's/.*librslink\.so\.[0-9]* => \([^ ]*\).*/\1/p')
[ "$(realpath -m "$resolved")" = "$(realpath "$lib/librslink.so.$soversion")" ] ||
  fail "installed valdor loads librslink from '$resolved', not from $libdir"
if readelf -d "$root/bin/valdor" | grep -E 'R(UN)?PATH' | grep -qF "$(realpath "$build")"; then
  fail "installed valdor still searches the build tree"
fi

# A client builds against the installed header and library through pkg-config.
export PKG_CONFIG_PATH="$lib/pkgconfig"
if flags=$(pkg-config --cflags --libs rslink); then
  [ "$(pkg-config --modversion rslink)" = "$version" ] || fail "rslink.pc says version $(pkg-config --modversion rslink)"
  printf '#include <rslink/rslink.h>\nint main(void) { return RSClose() == 0 ? 1 : 0; }\n' >"$root/client.c"
  # shellcheck disable=SC2086
  cc -o "$root/client" "$root/client.c" $flags || fail "a client does not build with pkg-config rslink"
else
  fail "pkg-config finds no rslink in $libdir/pkgconfig"
fi

# What the desktop and man need.
for f in share/man/man1/valdor.1.gz share/man/man1/bdusim.1.gz \
         share/applications/org.valdor.Valdor.desktop share/metainfo/org.valdor.Valdor.metainfo.xml \
         share/doc/valdor/examples/status-check.vds share/doc/valdor/copyright share/valdor/rslink.lua; do
  [ -s "$root/$f" ] || fail "$f is missing"
done
# The dissector as the build wrote it: its tables filled in.
! grep -q '^@[A-Z_]*@$' "$root/share/valdor/rslink.lua" 2>/dev/null ||
  fail "share/valdor/rslink.lua still holds a table mark of its template"
# The documentation: the README and every page and picture it links.
"$(dirname "$0")/check-doc-links.sh" "$root/share/doc/valdor" >&2 ||
  fail "the installed documentation has links to files that are not installed"
for m in valdor bdusim; do
  gzip -t "$root/share/man/man1/$m.1.gz" 2>/dev/null || fail "$m.1.gz is not gzip"
done
if [ "$with_qt" = 1 ]; then
  for s in 16 48 256; do
    f="share/icons/hicolor/${s}x${s}/apps/valdor.png"
    [ "$(head -c 8 "$root/$f" 2>/dev/null | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
      { fail "$f is missing or not a PNG"; continue; }
    width=$(od -An -j16 -N4 -tu1 "$root/$f" | awk '{print $1*16777216 + $2*65536 + $3*256 + $4}')
    [ "$width" = "$s" ] || fail "$f is $width pixels wide"
  done
fi

[ "$failures" -eq 0 ] && echo "install tree in $root: all checks passed"
exit $((failures > 0))

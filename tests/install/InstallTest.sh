#!/usr/bin/env bash
# Installs a build tree into a fresh prefix and checks what a desktop needs:
# the programs, the desktop entry and AppStream file (valid, where Debian's
# validators are installed) and the icon in every size.
# Usage: InstallTest.sh <build directory>
set -euo pipefail
build=$1
prefix=$(mktemp -d "${TMPDIR:-/tmp}/tirasel-install-XXXXXX")
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

id=example.brennick.Tirasel
expected=(
  bin/tirasel
  bin/tirasel-cli
  bin/tirasel-dask
  share/man/man1/tirasel-cli.1
  share/man/man1/tirasel-dask.1
  share/applications/$id.desktop
  share/metainfo/$id.metainfo.xml
  share/icons/hicolor/48x48/apps/$id.png
  share/icons/hicolor/64x64/apps/$id.png
  share/icons/hicolor/128x128/apps/$id.png
  share/icons/hicolor/256x256/apps/$id.png
  share/icons/hicolor/scalable/apps/$id.svg
)
failed=0
for file in "${expected[@]}"; do
  [ -s "$prefix/$file" ] || { echo "missing: $file"; failed=1; }
done
for program in bin/tirasel bin/tirasel-cli bin/tirasel-dask; do
  [ -x "$prefix/$program" ] || { echo "not executable: $program"; failed=1; }
done
# Each PNG is as large as the directory it is in says.
for size in 48 64 128 256; do
  png="$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png"
  [ -s "$png" ] || continue
  read -r width height < <(od -An -tu1 -j16 -N8 "$png" |
    awk '{ print $1*16777216 + $2*65536 + $3*256 + $4, $5*16777216 + $6*65536 + $7*256 + $8 }')
  [ "$width $height" = "$size $size" ] || { echo "$png is ${width}x${height}"; failed=1; }
done
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$prefix/share/applications/$id.desktop" || failed=1
else
  echo "desktop-file-validate not installed (desktop-file-utils): entry not validated"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/$id.metainfo.xml" >/dev/null ||
    { appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml"; failed=1; }
fi
"$prefix/bin/tirasel-cli" --help >/dev/null ||
  { echo "the installed tirasel-cli does not run"; failed=1; }
exit $failed

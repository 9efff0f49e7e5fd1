#!/usr/bin/env bash
# Builds the Debian package tirasel_<version>_<arch>.deb into the repository's
# top directory: a Release build for /usr without tests and benchmarks, the
# install rules packed by CPack, the library dependencies from dpkg-shlibdeps.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}"

cmake -S . -B build-deb -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DTIRASEL_TESTS=OFF -DTIRASEL_BENCH=OFF >/dev/null
cmake --build build-deb -j "$(nproc)"
rm -f build-deb/tirasel_*.deb
(cd build-deb && cpack -G DEB >/dev/null)
deb=$(ls build-deb/tirasel_*.deb)

# The package must hold what a desktop needs to list and start the program.
contents=$(dpkg-deb -c "$deb")
for file in ./usr/bin/tirasel ./usr/bin/tirasel-cli ./usr/share/man/man1/tirasel-cli.1 \
    ./usr/share/applications/example.brennick.Tirasel.desktop \
    ./usr/share/metainfo/example.brennick.Tirasel.metainfo.xml \
    ./usr/share/icons/hicolor/48x48/apps/example.brennick.Tirasel.png \
    ./usr/share/icons/hicolor/scalable/apps/example.brennick.Tirasel.svg; do
  grep -q " $file\$" <<<"$contents" || { echo "package.sh: $deb lacks $file" >&2; exit 1; }
done
cp "$deb" .
echo "Built $(basename "$deb"); install it with: sudo apt install ./$(basename "$deb")"

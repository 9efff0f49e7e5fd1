# Installs the Debian packages a command needs when any of them is missing.
# Sourced by start.sh and test.sh; usage: ensure_packages pkg...
ensure_packages() {
  local missing=()
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# What building needs.
BUILD_PACKAGES=(g++ cmake ninja-build pkg-config libgtest-dev libbenchmark-dev libjpeg-dev qt6-base-dev libgl-dev libssl-dev
  libre2-dev zlib1g-dev libbrotli-dev libzstd-dev libpsl-dev libxml2-dev libicu-dev
  libpoppler-cpp-dev libpoppler-glib-dev libzip-dev)
# What the window needs at run time: Qt's German texts for its message boxes
# and file dialogs, and fonts with the metrics of the designed ones (Arial,
# Courier New), so that the texts fit where the window places them; the
# public suffix list that tells a site's registrable domain (cookies, scopes).
RUN_PACKAGES=(qt6-translations-l10n fonts-liberation publicsuffix)
# What packaging needs: CPack's Debian generator asks dpkg-shlibdeps (dpkg-dev)
# for the libraries' packages and `file` for which files are programs.
PACKAGE_PACKAGES=(dpkg-dev file)
# What the tests need besides: the fuzzers, the real servers the fixtures
# start, the HTTP peers and the archive reader (Python) the benchmarks measure
# against, the validators of the installed desktop files, and an X server
# with a window manager, keys and close requests for the window; Dask's
# scheduler and workers (Debian's, for /usr/bin/python3) for tirasel-dask.
TEST_PACKAGES=(clang libclang-rt-14-dev nginx-light tinyproxy curl wget cewl xvfb xauth microsocks
  dante-server desktop-file-utils appstream openbox xdotool wmctrl openssl ca-certificates python3
  python3-docx python3-odf python3-reportlab python3-openpyxl poppler-utils
  python3-distributed python3-dask python3-psutil)
# The check of our web archives by an independent reader runs warcio under
# node and npm. A node installed otherwise (NodeSource's package brings its
# own npm and conflicts with Debian's) is used as it is.
command -v npm >/dev/null || TEST_PACKAGES+=(nodejs npm)

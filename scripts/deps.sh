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
BUILD_PACKAGES=(g++ cmake ninja-build pkg-config libgtest-dev libbenchmark-dev libjpeg-dev qt6-base-dev libgl-dev)
# What the tests need besides: the fuzzers, the real servers the fixtures
# start, and the HTTP peers the benchmarks measure against.
TEST_PACKAGES=(clang libclang-rt-14-dev nginx-light tinyproxy curl wget cewl xvfb xauth microsocks dante-server)

# The Debian packages the project builds, tests and runs with. Sourced by the scripts.
KU_PACKAGES="cmake make g++ clang pkg-config qt6-base-dev qt6-serialport-dev mdbtools mdbtools-dev libgtest-dev libgmock-dev libbenchmark-dev fonts-dejavu-core libxcb1-dev xvfb xauth xdotool x11-utils librsvg2-bin"

# Installs whatever of the list (and any extra names given) is missing.
ku_install_packages() {
  local want="$KU_PACKAGES $*" missing="" p
  for p in $want; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
  done
  [ -z "$missing" ] && return 0
  echo "Installing:$missing"
  local sudo=""
  if [ "$(id -u)" != 0 ]; then
    command -v sudo >/dev/null || { echo "Please install as root:$missing" >&2; return 1; }
    sudo="sudo"
  fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
}

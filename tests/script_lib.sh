# What the test scripts that drive a server or a browser share; sourced by
# tests/browser/run.sh and tests/postgis/run.sh, whose arguments are
# QORTAVLO IMAGE_COMPARE WORKDIR. Exit status 77 means skipped.

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }

# Sets exe, compare and work from the arguments, and root to the repository.
script_args() {
  [ $# = 3 ] || { echo "usage: run.sh QORTAVLO IMAGE_COMPARE WORKDIR"; exit 2; }
  mkdir -p "$3"
  exe=$(realpath "$1")
  compare=$(realpath "$2")
  work=$(realpath "$3")
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
}

# Installs Debian packages with apt-get (as root, or through sudo without a
# password); skips, naming `what`, when that cannot be done.
install_packages() {  # what, package...
  local what=$1 sudo=""
  shift
  if [ "$(id -u)" -ne 0 ]; then
    sudo -n true 2> /dev/null || skip "no $what: $* missing, and packages cannot be installed here (neither root nor sudo)"
    sudo="sudo -n"
  fi
  command -v apt-get > /dev/null || skip "no $what: $* missing and there is no apt-get to install it"
  echo "installing Debian's $* (missing)"
  if ! { $sudo apt-get -o DPkg::Lock::Timeout=300 update -qq &&
         DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=300 install -y -qq "$@"; } \
       > "$work/apt.log" 2>&1; then
    tail -n 20 "$work/apt.log"
    skip "no $what: the packages could not be installed (see above)"
  fi
}

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

# Sets chromium to a headless-capable Chromium (Debian's, installed when
# missing; $QORTAVLO_CHROMIUM names another) and node_modules to a folder
# holding playwright-core as tests/browser/package-lock.json pins it,
# installed with npm ci under `dir` when it is not there yet. Skips when no
# browser can be had; fails when node or npm does.
browser_setup() {  # dir
  local npmdir=$1 lock=$root/tests/browser/package-lock.json
  chromium=${QORTAVLO_CHROMIUM:-/usr/bin/chromium}
  if [ ! -x "$chromium" ]; then
    install_packages browser chromium
    [ -x "$chromium" ] || skip "no browser: chromium was installed but $chromium is missing"
  fi
  command -v node > /dev/null || fail "node is missing (Node.js 20 or later is needed to drive the browser)"
  mkdir -p "$npmdir"
  if ! cmp -s "$lock" "$npmdir/installed.lock" || [ ! -d "$npmdir/node_modules/playwright-core" ]; then
    cp "$root/tests/browser/package.json" "$lock" "$npmdir/"
    (cd "$npmdir" && npm ci --no-audit --no-fund --loglevel=error) || fail "npm ci of playwright-core failed"
    cp "$lock" "$npmdir/installed.lock"
  fi
  node_modules=$npmdir/node_modules
}

# Shared by scripts/run, scripts/test, scripts/bench and scripts/fuzz: Debian packages and the build.
# Sourced, not run.

# What building and running the player needs (scdoc, rsvg-convert and dpkg-shlibdeps make its
# man pages, icons and Debian package).
DJKIVO_RUN_PACKAGES=(
  cmake g++ ninja-build pkg-config ccache
  zlib1g-dev libssl-dev qt6-base-dev fonts-wqy-microhei
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev
  portaudio19-dev libasound2-dev scdoc librsvg2-bin dpkg-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev libpcre2-dev libcurl4-openssl-dev
)
# What the tests, benchmarks and fuzzers need on top: the formatter, real peers, the media tool,
# clang for libFuzzer, a virtual display and a session bus, a window manager, a tray, mouse
# clicks and window queries on that display, the desktop's validators of what is installed, the
# openssl tool and an HTTP proxy.
DJKIVO_TEST_PACKAGES=(
  clang-format nginx-light ffmpeg clang libclang-rt-14-dev xvfb xauth dbus openbox trayer xdotool
  x11-utils desktop-file-utils appstream man-db binutils openssl tinyproxy
)

# Installs the named Debian packages that are not installed yet (apt-get update first).
djkivo_install_packages() {
  local missing=()
  local package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' \
      || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# djkivo_configure DIR [cmake options...]: configures DIR, or refreshes an existing one so
# the target list holds every source and test file that has been added since.
djkivo_configure() {
  local dir="$1"
  shift
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$DJKIVO_ROOT" -B "$dir" -G Ninja -DDJKIVO_WERROR=ON "$@"
  else
    # The stage's options hold in a folder made earlier with others.
    cmake -S "$DJKIVO_ROOT" -B "$dir" "$@" >/dev/null
  fi
}

# djkivo_build DIR [cmake options...]: configures (once) and builds everything into DIR.
djkivo_build() {
  djkivo_configure "$@"
  cmake --build "$1" -j "$(nproc)"
}

DJKIVO_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# The sanitizers' settings for the window's tests under ASan+UBSan (scripts/test's asan stage
# and scripts/monkey): LeakSanitizer ignores only what tests/lsan-qt.supp shows is kept by Qt.
DJKIVO_ASAN_QT_OPTIONS="detect_leaks=1:abort_on_error=1"
DJKIVO_LSAN_QT_OPTIONS="suppressions=$DJKIVO_ROOT/tests/lsan-qt.supp:print_suppressions=0"
DJKIVO_UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export CCACHE_DIR="${CCACHE_DIR:-$HOME/.cache/djkivo-ccache}"
export CCACHE_BASEDIR="$DJKIVO_ROOT"
# The suites include precompiled headers (tests/CMakeLists.txt); ccache caches their builds and
# the files that use them only when it may leave a header's macros and time stamps out of its hash.
export CCACHE_SLOPPINESS="pch_defines,time_macros"

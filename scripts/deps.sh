# shellcheck shell=bash
# Sourced by the scripts: the Debian packages the project needs, and a check
# that installs what is missing (as root) or names it and stops.

ZOLVO_PACKAGES=(
  cmake g++ make pkg-config binutils-mingw-w64-i686
  libcurl4-openssl-dev libjsoncpp-dev libpaho-mqtt-dev qtbase5-dev
  libcpp-httplib-dev libssl-dev openssl
  mosquitto mosquitto-clients
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth
  clang libclang-rt-14-dev
  shellcheck clang-format
  # The 32-bit Windows build (scripts/windows.sh) and its suite under wine.
  g++-mingw-w64-i686-posix wine wine32:i386 zip xz-utils
  # The Windows demo package under wine: a private X server, driven and photographed,
  # and the CJK font that its window's Chinese texts need (also the Linux demo's).
  xdotool imagemagick unzip fonts-wqy-microhei
  # The notices of the parts compiled into the Windows demo's Qt (scripts/qt_notices.py).
  python3
)

zolvo_missing_packages() {
  local p status
  for p in "${ZOLVO_PACKAGES[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || echo "$p"
  done
}

# Installs missing packages (one apt-get update, then only what is missing).
# Returns non-zero, naming the packages, when they cannot be installed.
zolvo_ensure_packages() {
  if ! command -v dpkg-query >/dev/null 2>&1; then
    echo "error: dpkg-query not found; this script expects Debian 12" >&2
    return 1
  fi
  local missing missing_list
  mapfile -t missing_list < <(zolvo_missing_packages)
  [ ${#missing_list[@]} -eq 0 ] && return 0
  missing=${missing_list[*]}
  echo "missing Debian packages: $missing"
  if [ "$(id -u)" -ne 0 ]; then
    echo "error: run as root to install them, or: apt-get install $missing" >&2
    return 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  # wine32 is an i386 package: the architecture must be known before the update.
  case " $missing " in
    *:i386\ *)
      if ! grep -qx i386 <<<"$(dpkg --print-foreign-architectures)"; then
        dpkg --add-architecture i386 || { echo "error: dpkg --add-architecture i386 failed" >&2; return 1; }
      fi ;;
  esac
  if ! apt-get update -q; then
    echo "error: apt-get update failed; still missing: $missing" >&2
    return 1
  fi
  apt-get install -y -q --no-install-recommends "${missing_list[@]}" </dev/null || true
  local still
  still=$(zolvo_missing_packages | tr '\n' ' ')
  still=${still% }
  if [ -n "$still" ]; then
    echo "error: these Debian packages could not be installed: $still" >&2
    return 1
  fi
}

# Loopback must stay loopback, whatever proxy the environment names.
zolvo_no_proxy() {
  unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY ALL_PROXY all_proxy ftp_proxy FTP_PROXY
  export no_proxy=127.0.0.1,localhost NO_PROXY=127.0.0.1,localhost
}

# zolvo_build <build dir> [cmake options…]: configures (first time or when the
# options change) and builds incrementally.
zolvo_build() {
  local dir=$1
  shift
  cmake -S "$ZOLVO_ROOT" -B "$dir" "$@" || return 1
  cmake --build "$dir" -j "${ZOLVO_JOBS:-$(nproc)}" || return 1
}

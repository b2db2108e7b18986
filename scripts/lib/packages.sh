# Sourced by the scripts: installs missing Debian packages when it can.
#
#   ensure_packages PACKAGE...
#
# Returns 0 when every package is installed (installing the missing ones with
# apt-get, non-interactively, as root or through sudo without a password).
# Otherwise it installs nothing, prints the one command that would, and
# returns 1.

package_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

ensure_packages() {
  local missing=() p
  for p in "$@"; do
    package_installed "$p" || missing+=("$p")
  done
  [ "${#missing[@]}" -eq 0 ] && return 0

  local as_root=()
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
      as_root=(sudo -n)
    else
      echo "Missing Debian packages: ${missing[*]}. To install them, type:" >&2
      echo "  sudo apt-get install -y ${missing[*]}" >&2
      return 1
    fi
  fi
  if ! command -v apt-get >/dev/null 2>&1; then
    echo "Missing packages: ${missing[*]}, and no apt-get here to install them." >&2
    return 1
  fi
  echo "Installing: ${missing[*]}"
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q &&
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
}

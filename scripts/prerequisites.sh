# Sourced by run.sh and test.sh: makes sure the Debian packages a build needs
# are installed. As root it installs what is missing with apt-get; otherwise
# it prints the exact command to run and stops.
require_packages() {
  local missing=()
  local package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$package")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages: ${missing[*]}" >&2
    echo "Install them with:" >&2
    echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing missing packages: ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q >&2 && apt-get install -y -q "${missing[@]}" >&2 || {
    echo "apt-get could not install: ${missing[*]}" >&2
    exit 1
  }
}

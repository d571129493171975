# Shared set-up of the scripts: installs the Debian packages a step needs,
# only when something is missing (the scripts run as root on a fresh machine).

need_packages() {  # prints the packages of "$@" that are not installed
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

install_packages() {
  local missing
  missing=$(need_packages "$@")
  if [ -n "$missing" ]; then
    echo "installing: $missing"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    # One index update per run is enough, however many steps install.
    if [ -z "${apt_index_updated:-}" ]; then
      $sudo apt-get update -qq
      apt_index_updated=1
    fi
    # Recommended packages are left out: clang's alone are hundreds of
    # megabytes of LLVM that no step uses.
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing >/dev/null
  fi
}

install_build_packages() {
  install_packages cmake ninja-build g++ nlohmann-json3-dev libgtest-dev git procps
}

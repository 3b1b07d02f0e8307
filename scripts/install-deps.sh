#!/usr/bin/env bash
# Installs the Debian packages the build needs, only when one is missing.
# Usage: scripts/install-deps.sh [host] [browser] [mips] [fuzz] [tidy] [format] [shellcheck]   (default: host)
set -euo pipefail
want=("$@"); [ ${#want[@]} -gt 0 ] || want=(host)
pkgs=()
for w in "${want[@]}"; do
  case "$w" in
    host) pkgs+=(cmake ninja-build g++ pkg-config libfreetype-dev libfontconfig-dev fonts-dejavu-core fonts-dejavu-extra
                 fonts-ipafont-gothic zlib1g-dev libtomlplusplus-dev nlohmann-json3-dev libcli11-dev
                 libgtest-dev libgmock-dev googletest libbenchmark-dev libcpp-httplib-dev
                 help2man) ;;
    browser) pkgs+=(chromium chromium-driver python3-selenium) ;;
    mips) pkgs+=(g++-mips-linux-gnu qemu-user googletest) ;;
    fuzz) pkgs+=(clang libclang-rt-14-dev) ;;
    tidy) pkgs+=(clang-tidy) ;;
    format) pkgs+=(clang-format) ;;
    shellcheck) pkgs+=(shellcheck) ;;
    *) echo "install-deps: unknown set '$w' (host, browser, mips, fuzz, tidy, format, shellcheck)" >&2; exit 2 ;;
  esac
done
missing=()
for p in "${pkgs[@]}"; do
  [[ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" == *'install ok installed'* ]] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "install-deps: installing ${missing[*]}"
SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

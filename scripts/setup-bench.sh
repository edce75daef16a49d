#!/usr/bin/env bash
# Installs the Debian packages that the load benchmark (bench/load_bench.sh) runs, when missing:
# nginx as the origin, tinyproxy as the baseline proxy, wrk and curl as the load generators.
set -euo pipefail

packages=(tinyproxy wrk curl python3)
# Any nginx flavour serves as the origin; the light one when none is there.
[ -x /usr/sbin/nginx ] || command -v nginx >/dev/null || packages+=(nginx-light)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo_cmd apt-get update -qq
  $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

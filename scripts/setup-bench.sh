#!/usr/bin/env bash
# Installs the Debian packages that the load benchmark (bench/load_bench.sh) runs, when missing:
# nginx as the origin, tinyproxy as the baseline proxy, wrk and curl as the load generators,
# openssl for the origin's TLS certificate.
set -euo pipefail

packages=(tinyproxy wrk curl python3 openssl)
# Any nginx flavour serves as the origin; the light one when none is there.
[ -x /usr/sbin/nginx ] || command -v nginx >/dev/null || packages+=(nginx-light)

"$(dirname "$0")/install-packages.sh" "${packages[@]}"

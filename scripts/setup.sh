#!/usr/bin/env bash
# Installs the Debian packages that building and testing Lumbra need, when missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libcurl4-openssl-dev nlohmann-json3-dev
  zlib1g-dev libbrotli-dev libzstd-dev   # compressed answer bodies decoded before filtering
  libnss3-tools                 # certutil: the local authority added to the user's browsers
  brotli zstd                   # end-to-end tests: compressed pages of each coding
  libssl-dev                    # HTTPS inspection: the local authority, leaf certificates, TLS
  clang libclang-rt-14-dev      # fuzz targets (libFuzzer) and sanitizers
  curl python3 openssl          # end-to-end tests: browser stand-in, origin and TLS servers
  iproute2 util-linux           # tests run in a network namespace with loopback alone, and
                                # play a computer on the local network with another one
  tinyproxy                     # end-to-end tests: the upstream corporate proxy
  chromium nodejs               # browser tests (headless Chromium driven from Node.js)
)
# nodejs from some sources carries npm itself; Debian's own npm only when the command is missing.
command -v npm >/dev/null || packages+=(npm)

"$(dirname "$0")/install-packages.sh" "${packages[@]}"

# Node.js modules of the browser tests (the Debian Chromium is used, never a downloaded one).
cd "$(dirname "$0")/.."
if [ ! -d node_modules ]; then
  PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund
fi

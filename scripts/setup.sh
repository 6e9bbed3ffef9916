#!/bin/sh
# Installs the Debian packages the build and the tests need, when missing.
#   scripts/setup.sh          build and test dependencies
#   scripts/setup.sh --bench  also the peer tools the benchmark comparisons run
set -e
PKGS="cmake g++ make ninja-build pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libpng-dev libjpeg62-turbo-dev libjpeg-turbo-progs
  libfreetype-dev fonts-dejavu-core libcairo2-dev librsvg2-dev
  clang libclang-rt-14-dev python3-psd-tools
  libgtk-3-dev xvfb xauth xdotool imagemagick"
if [ "$1" = "--bench" ]; then
  PKGS="$PKGS gegl libvips-tools imagemagick libosmesa6-dev hyperfine"
fi
missing=""
for p in $PKGS; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done
if [ -n "$missing" ]; then
  echo "setup: installing$missing"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
fi

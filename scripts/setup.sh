#!/bin/sh
# Installs the Debian packages the build and the tests need, when missing.
#   scripts/setup.sh          build and test dependencies
#   scripts/setup.sh --bench  also the peer tools the benchmark comparisons run
# When another apt or dpkg run holds the package lock, it waits for it (ten
# minutes at most, TESSOLO_APT_WAIT seconds if set). apt's output is kept in
# a log and shown in full only when something fails.
set -e
# Every program the tests, the fuzz smoke runs and the release build start
# comes from this list (a test that misses one fails and names its package).
# Installed without recommended packages, so each one the tests need is named
# here even when another package merely recommends it.
#   build:             cmake (ctest), g++ (nm comes with it), ninja-build, pkg-config;
#                      libxxhash-dev (XXH3, the checksum of the plug-in's seal)
#   fuzz smoke runs:   clang, libclang-rt-14-dev (libFuzzer)
#   window tests:      xvfb (xvfb-run, Xvfb) and xauth, which xvfb-run needs but
#                      xvfb only recommends; xdotool; imagemagick (import,
#                      convert, identify); openbox, a window manager, and
#                      x11-utils (xprop); tesseract-ocr, which reads the status
#                      lines (its English data comes with it)
#   independent readers and writers of our files: python3-psd-tools (python3
#                      with psd_tools), imagemagick, ghostscript (gs),
#                      libjpeg-turbo-progs (cjpeg, djpeg), libimage-exiftool-perl
#                      (exiftool); fonts-dejavu-core, a font to build from
#   script, unshare, mount, timeout, md5sum: bsdutils, util-linux, mount and
#                      coreutils, part of every Debian system
#   a USB stick's disk: dosfstools (mkfs.vfat) makes a vfat image; fusefat
#                      mounts it where the kernel has no vfat of its own
#   strace: sends a signal at a chosen system call of a program under test
PKGS="cmake g++ make ninja-build pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libxxhash-dev libpng-dev libjpeg62-turbo-dev libjpeg-turbo-progs libexif-dev
  libfreetype-dev fonts-dejavu-core libcairo2-dev librsvg2-dev
  clang libclang-rt-14-dev python3-psd-tools libimage-exiftool-perl
  libgtk-3-dev xvfb xauth xdotool imagemagick ghostscript
  openbox x11-utils tesseract-ocr dosfstools fusefat strace"
if [ "$1" = "--bench" ]; then
  PKGS="$PKGS gegl libvips-tools libosmesa6-dev hyperfine libvips-dev libmagickwand-dev libgegl-dev"
fi
missing=""
for p in $PKGS; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done
[ -z "$missing" ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
WAIT=${TESSOLO_APT_WAIT:-600}
LOG=$(mktemp "${TMPDIR:-/tmp}/tessolo-setup.XXXXXX")
trap 'rm -f "$LOG"' EXIT

# Runs apt-get with the given arguments, output to the log. A run refused
# because another one holds the lock is tried again every 5 seconds until
# WAIT seconds have passed.
apt_get() {
  waited=0
  told=""
  while :; do
    if $SUDO env DEBIAN_FRONTEND=noninteractive apt-get -q -o DPkg::Lock::Timeout=0 "$@" > "$LOG" 2>&1; then
      return 0
    fi
    if ! grep -q -e "Could not get lock" -e "Unable to lock" -e "Unable to acquire" "$LOG"; then
      cat "$LOG" >&2
      echo "setup: apt-get $1 failed (its output is above)" >&2
      exit 1
    fi
    if [ "$waited" -ge "$WAIT" ]; then
      cat "$LOG" >&2
      echo "setup: another package manager still holds the lock after $WAIT s; try again when it is done" >&2
      exit 1
    fi
    if [ -z "$told" ]; then
      echo "setup: another package manager holds the lock; waiting for it (at most $WAIT s)"
      told=1
    fi
    sleep 5
    waited=$((waited + 5))
  done
}

echo "setup: installing$missing"
apt_get update
apt_get install -y --no-install-recommends $missing
echo "setup: done"

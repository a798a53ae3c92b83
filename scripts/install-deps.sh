#!/bin/sh
# install-deps.sh: installs with apt-get what building, testing and the demo
# need on Debian 12 (run as root, or it uses sudo). Safe to run again.
set -eu
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

PACKAGES="
  build-essential cmake ninja-build pkg-config git file
  googletest libbenchmark-dev
  libmosquitto-dev nlohmann-json3-dev libinih-dev
  mosquitto mosquitto-clients python3 python3-paho-mqtt
  rsyslog gzip util-linux bsdutils iproute2 procps faketime
  clang libclang-rt-14-dev llvm valgrind dpkg-dev
"

missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "installing:$missing"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
fi

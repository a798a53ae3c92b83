#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# install-deps.sh: installs with apt-get what building, testing and the demo
# need on Debian 12 (run as root, or it uses sudo). Safe to run again.
# The cross build for the controller needs the armhf architecture added to
# dpkg: its libraries are the :armhf packages, beside the host's (multiarch).
set -eu
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

PACKAGES="
  build-essential cmake ninja-build pkg-config git file
  libgtest-dev libbenchmark-dev
  libmosquitto-dev nlohmann-json3-dev libinih-dev zlib1g-dev
  mosquitto mosquitto-clients python3 python3-paho-mqtt
  rsyslog rsyslog-openssl openssl libssl-dev gzip logrotate util-linux bsdutils iproute2 iptables procps faketime time
  tmux
  clang libclang-rt-14-dev llvm valgrind dpkg-dev
  groff-base man-db mandoc lintian
  g++-arm-linux-gnueabihf qemu-user libmosquitto-dev:armhf libinih-dev:armhf zlib1g-dev:armhf
  libssl-dev:armhf libgtest-dev:armhf
"

need_update=""
if ! dpkg --print-foreign-architectures | grep -qx armhf; then
    echo "adding the armhf architecture"
    $SUDO dpkg --add-architecture armhf
    need_update=yes
fi

missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ] || [ -n "$need_update" ]; then
    echo "installing:$missing"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
fi

#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# install-deps.sh [demo]: installs with apt-get what building and testing
# need on Debian 12 (run as root, or it uses sudo); with "demo", only what
# scripts/demo.sh needs: the native build and the demo's peers, no cross
# compiler, emulator or test tools. Safe to run again.
# The cross build for the controller needs the armhf architecture added to
# dpkg: its libraries are the :armhf packages, beside the host's (multiarch).
set -eu
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

DEMO_PACKAGES="
  build-essential cmake ninja-build pkg-config dpkg-dev
  libmosquitto-dev nlohmann-json3-dev libinih-dev zlib1g-dev libssl-dev
  mosquitto mosquitto-clients rsyslog rsyslog-openssl rsyslog-relp openssl gzip
  util-linux iproute2
"
TEST_PACKAGES="
  git file libgtest-dev libbenchmark-dev
  python3 python3-paho-mqtt
  logrotate bsdutils iptables procps faketime time tmux
  librelp-dev libnetfilter-queue-dev
  clang libclang-rt-14-dev llvm valgrind
  groff-base man-db mandoc lintian
  g++-arm-linux-gnueabihf qemu-user libmosquitto-dev:armhf libinih-dev:armhf zlib1g-dev:armhf
  libssl-dev:armhf libgtest-dev:armhf
"

packages=$DEMO_PACKAGES
need_update=""
if [ "${1:-}" != demo ]; then
    packages="$DEMO_PACKAGES $TEST_PACKAGES"
    if ! dpkg --print-foreign-architectures | grep -qx armhf; then
        echo "adding the armhf architecture"
        $SUDO dpkg --add-architecture armhf
        need_update=yes
    fi
fi

# A package is looked for in the architecture it is needed for: the host's
# (or "all") unless its name says otherwise, so that an armhf library does
# not stand for the host's missing one.
native=$(dpkg --print-architecture)
missing=""
for p in $packages; do
    case $p in
    *:*) wanted=$p ;;
    *) wanted="$p:$native $p:all" ;;
    esac
    dpkg-query -W -f='${Status}\n' $wanted 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ] || [ -n "$need_update" ]; then
    echo "installing:$missing"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
fi

#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# test_package.sh CPACK_CONFIG DEB_ARCH VERSION [EMULATOR...]: builds the
# ctrltools package with cpack (its maintainer passed in, as a release would),
# runs lintian on it, unpacks it into a scratch root with dpkg -x and checks
# its fields, its files and both programs run from there. Outputs are
# compared byte for byte; every difference is reported, any fails the test.
set -eu
config=$1 arch=$2 version=$3
shift 3
# example.org is reserved for examples: an address that belongs to nobody.
maintainer="ctrltools package test <package-test@example.org>"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# same NAME EXPECTED ACTUAL: the texts are equal, byte for byte.
same() {
    printf '%s' "$2" >"$scratch/expected"
    printf '%s' "$3" >"$scratch/actual"
    cmp -s "$scratch/expected" "$scratch/actual" && return 0
    fail "$1"
    diff "$scratch/expected" "$scratch/actual" || true
}

# run_from_root PROGRAM ARGS...: PROGRAM's output (stdout and stderr) and
# exit status, as "OUTPUT<status N>". The shell would drop trailing newlines
# of a command substitution, so the status line keeps them.
run_from_root() {
    set +e
    "$@" >"$scratch/run.out" 2>&1
    status=$?
    set -e
    cat "$scratch/run.out"
    printf '<status %d>' "$status"
}

if ! cpack --config "$config" -B "$scratch/out" -D CPACK_DEBIAN_PACKAGE_MAINTAINER="$maintainer" \
    >"$scratch/cpack.log" 2>&1; then
    cat "$scratch/cpack.log"
    echo "FAIL: cpack"
    exit 1
fi
deb=$scratch/out/ctrltools_${version}_$arch.deb
[ -f "$deb" ] || { ls "$scratch/out"; echo "FAIL: no $deb"; exit 1; }

# Debian's own check: no error and no warning (tags kept on purpose are
# overridden in the package, each with its reason).
if ! lintian --fail-on error,warning "$deb" >"$scratch/lintian.log" 2>&1; then
    fail "lintian"
    cat "$scratch/lintian.log"
fi

same "control fields" "ctrltools $version $arch utils $maintainer" \
    "$(dpkg-deb -f "$deb" Package Version Architecture Section Maintainer | sed 's/^[^:]*: //' | tr '\n' ' ' | sed 's/ $//')"
# Depends names the package of every library the programs link.
depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/^ *//; s/[ (].*//')
declared() { printf '%s\n' "$depends" | grep -qx "$1" || fail "Depends lacks $1: $(echo $depends)"; }
for needed in libc6 libstdc++6 libmosquitto1 libinih1 libssl3 zlib1g; do
    declared "$needed"
done

root=$scratch/root
dpkg -x "$deb" "$root"
same "file list" "./usr/bin/devsim
./usr/bin/logfwd
./usr/share/doc/ctrltools/changelog.gz
./usr/share/doc/ctrltools/copyright
./usr/share/man/man1/devsim.1.gz
./usr/share/man/man1/logfwd.1.gz" "$(cd "$root" && find . -type f | sort)"
# The newest changelog entry is this version, signed by the maintainer.
changelog=$root/usr/share/doc/ctrltools/changelog.gz
same "changelog" "$version $maintainer" \
    "$(dpkg-parsechangelog -l "$changelog" -S Version 2>&1) $(dpkg-parsechangelog -l "$changelog" -S Maintainer 2>&1)"

# dpkg -S names the package that holds each linked library on this machine.
needed() { readelf -d "$root/usr/bin/$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'; }
# One dpkg -S for all the libraries: each call reads the whole database.
owners=$(dpkg -S $(for program in devsim logfwd; do needed "$program"; done | sort -u | sed 's|^|*/|') \
    2>/dev/null | grep "^[^ ]*:$arch: " || true)
for program in devsim logfwd; do
    for soname in $(needed "$program"); do
        owner=$(printf '%s\n' "$owners" | awk -v end="/$soname" \
            'substr($NF, length($NF) - length(end) + 1) == end { sub(/:.*/, ""); print; exit }')
        [ -n "$owner" ] && declared "$owner" || fail "$program: no package holds $soname"
    done
done

case $arch in
    amd64) machine="x86-64" ;;
    armhf) machine="ARM, EABI5" ;;
    *) machine="unknown machine for $arch" ;;
esac
for program in devsim logfwd; do
    kind=$(file -b "$root/usr/bin/$program")
    case $kind in *"$machine"*", stripped"*) ;; *) fail "$program is not a stripped $machine program: $kind" ;; esac
done

# The whatis line of each page (what mandb indexes); it renders, and mandoc
# (when there) finds nothing to warn about.
while IFS='|' read -r page whatis; do
    packed=$root/usr/share/man/man1/$page.1.gz
    same "$page.1 whatis" "$packed: \"$whatis\"" "$(lexgrog "$packed" 2>&1)"
    man -l "$packed" 2>&1 | grep -q '^SYNOPSIS' || fail "$page.1.gz does not render"
    if command -v mandoc >/dev/null; then
        same "$page.1 lint" "" "$(mandoc -T lint -W warning "$packed" 2>&1)"
    fi
done <<'PAGES'
devsim|devsim - test device for the controller's message bus
logfwd|logfwd - forward a log file and its archives to a syslog server over UDP, TCP or TLS
PAGES

same "devsim -v" "$version
<status 0>" "$(run_from_root "$@" "$root/usr/bin/devsim" -v)"
tab=$(printf '\t')
same "logfwd --help" "Usage: $root/usr/bin/logfwd filename [all] [all slow]
${tab}filename: path of the file that contains the logs to send
${tab}all: sends also the logs that are in associated archive files
${tab}slow; sleeps 60 seconds between each archive file to be able to read all of them in Syslog Watcher
<status 1>" "$(run_from_root "$@" "$root/usr/bin/logfwd" --help)"

[ "$failures" -eq 0 ] || exit 1
echo "package ctrltools_${version}_$arch.deb: lintian, fields, files, manual pages and both programs checked"

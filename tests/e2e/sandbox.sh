#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# sandbox.sh COMMAND...: runs COMMAND in private mount and network namespaces,
# so that the programs' fixed paths and port 514 can be used for real without
# touching the host: loopback up, an empty tmpfs over /mnt (with
# /mnt/vexa/set), a throw-away overlay over /etc (with /etc/orvane) and an
# empty /dev/shm (libfaketime names its shared memory by process id and
# leaves it behind when the process is killed; a later faketime that gets
# the same id would fail).
set -eu
if [ "${CTRLTOOLS_SANDBOX:-}" != inside ]; then
    CTRLTOOLS_SANDBOX=inside exec unshare --mount --net --propagation private -- /bin/sh "$0" "$@"
fi
ip link set lo up
mount -t tmpfs -o size=64m tmpfs /mnt
mount -t tmpfs -o size=16m,mode=1777 tmpfs /dev/shm
mkdir -p /mnt/vexa/set
# The overlay's writable layer lives in a tmpfs that only this namespace sees.
layer=$(mktemp -d)
mount -t tmpfs -o size=16m tmpfs "$layer"
mkdir "$layer/upper" "$layer/work"
mount -t overlay overlay -o "lowerdir=/etc,upperdir=$layer/upper,workdir=$layer/work" /etc
mkdir -p /etc/orvane
set +e
"$@"
status=$?
umount /etc "$layer" && rmdir "$layer"
exit $status

# SPDX-License-Identifier: Apache-2.0
# common.sh: what the log forwarding benchmarks share. Sourced after `here`
# (this folder) and `root` (the project) are set.

# Runs the calling script again inside tests/e2e/sandbox.sh (private
# 127.0.0.1:514, /etc/orvane and mounts), unless it is there already.
enter_sandbox() {
    if [ "${CTRLTOOLS_SANDBOX:-}" != inside ]; then
        exec "$root/tests/e2e/sandbox.sh" /bin/sh "$@"
    fi
}

# log_lines N: N lines in the layout logfwd expects, levels and hosts varied.
log_lines() {
    awk -v n="$1" 'BEGIN {
        split("user.info user.warn user.err user.debug user.notice", level, " ")
        for (i = 0; i < n; i++)
            printf "Jan %2d %02d:%02d:%02d ctrl-%d %s app[%d]: request %d served in %d ms\n",
                   i % 28 + 1, i / 3600 % 24, i / 60 % 60, i % 60, i % 7, level[i % 5 + 1],
                   1000 + i % 50, i, i % 997
    }'
}

#!/bin/sh
# Runs a test program in a network namespace of its own whose only interface is the
# loopback, so an assistant program that tries to reach the internet fails instead of
# reaching it. In a private mount namespace, /etc is overlaid with a folder of the test's
# own: Codex reads its system configuration there when it is told to ignore the user's.
#
#   run-isolated.sh PROGRAM [ARGUMENTS…]
#
# Where namespaces are not allowed, the program runs as it is and its tests skip themselves.
set -eu
# The programs are driven as in a user's terminal: a CI marker in the environment would make
# Gemini CLI refuse its interactive screen ("No input provided via stdin").
unset CI CONTINUOUS_INTEGRATION
for variable in $(env | sed -n 's/^\(CI_[A-Za-z0-9_]*\)=.*/\1/p'); do
    unset "$variable"
done
if [ "${VELK_ASSISTANTS_ISOLATED:-}" = 1 ]; then
    ip link set lo up
    overlay=$(mktemp -d "${TMPDIR:-/tmp}/velk-etc.XXXXXX")
    mkdir -p "$overlay/upper/codex" "$overlay/work"
    mount -t overlay overlay -o "lowerdir=/etc,upperdir=$overlay/upper,workdir=$overlay/work" /etc
    # The programs' own scratch files (Gemini CLI's error reports) go with the rest.
    mkdir "$overlay/tmp"
    TMPDIR="$overlay/tmp" "$@" && status=0 || status=$?
    umount /etc
    rm -rf "$overlay"
    exit $status
fi
isolate="unshare --net --mount"
[ "$(id -u)" -eq 0 ] || isolate="$isolate --map-root-user"
if $isolate sh -c 'ip link set lo up && mount -t tmpfs none /mnt' 2>/dev/null; then
    VELK_ASSISTANTS_ISOLATED=1 exec $isolate "$0" "$@"
fi
echo "Network namespaces are not allowed here: the real assistant programs are not run."
exec "$@"

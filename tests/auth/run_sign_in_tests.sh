#!/usr/bin/env bash
# run_sign_in_tests.sh PROGRAM [ARGS...]: runs the sign-in window's tests on a private X display,
# inside scripts/sandbox.
set -euo pipefail

# GLib (and so WebKit) looks names up for IPv4 and IPv6 separately, with AI_ADDRCONFIG, which glibc
# answers for IPv4 only when some IPv4 address other than 127.0.0.1 exists. The sandbox's network
# has loopback alone, so WebKit could not resolve the broker's host names. A second loopback
# address satisfies the check and reaches nothing new. Only where the network namespace holds
# nothing but loopback, that is, in the sandbox's.
if [ "${MORVA_SANDBOX:-}" = 1 ] && [ "$(ip -o link show | wc -l)" -eq 1 ]; then
    # Idempotent, as repeated runs share the namespace: a test with `ip | grep -q` failed under
    # pipefail when grep's early exit cut `ip` off.
    ip addr replace 127.0.0.2/32 dev lo
fi

exec xvfb-run --auto-servernum --server-args="-screen 0 1280x1024x24" "$@"

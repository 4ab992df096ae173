#!/usr/bin/env bash
# The fleet window through the accessibility tree, in a private X server
# (xvfb-run) and a private D-Bus session, where the accessibility bus is
# started on demand. Needs xvfb, at-spi2-core and python3-pyatspi
# (scripts/install-deps).
#   fleet_window_atspi_test.sh RECHANNEL_FLEET RECHANNEL_CLI
set -euo pipefail
here=$(dirname "$0")
# Debian's own Python, which has the python3-pyatspi module, whatever python3
# comes first on the PATH.
python=/usr/bin/python3
"$python" -c 'import pyatspi' 2>/dev/null || { echo "python3-pyatspi is missing: run scripts/install-deps" >&2; exit 1; }
command -v xvfb-run >/dev/null || { echo "xvfb-run is missing: run scripts/install-deps" >&2; exit 1; }
exec xvfb-run -a -s "-screen 0 1280x1024x24" \
    dbus-run-session -- "$python" "$here/fleet_window_atspi_test.py" "$1" "$2"

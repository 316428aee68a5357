#!/usr/bin/env bash
# Ends every Wine process of a prefix: stop-prefix.sh PREFIX_DIR
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-common.sh"
command -v wineserver >/dev/null 2>&1 || exit 0
use_prefix "${1:?usage: stop-prefix.sh PREFIX_DIR}"
stop_prefix
exit 0

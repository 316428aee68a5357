#!/usr/bin/env bash
# Makes a fresh 64-bit Wine prefix: make-prefix.sh PREFIX_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-common.sh"
require_tools wine wineserver
prefix=${1:?usage: make-prefix.sh PREFIX_DIR}

use_prefix "$prefix"
stop_prefix
rm -rf "$prefix"
mkdir -p "$(dirname "$prefix")"
start=$(date +%s)
wine wineboot -i >/dev/null 2>&1
wineserver -w
if [ ! -f "$prefix/system.reg" ]; then
  echo "FAIL: wineboot made no prefix in $prefix"
  exit 1
fi
# No window manager runs under Xvfb. Wine runs every program in a virtual
# desktop of its own, where it keeps activation and focus itself instead of
# learning them from the X server a moment later, and it draws the frames and
# captions of its windows itself, as Windows does.
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d Y /f >/dev/null 2>&1
wineserver -w
echo "prefix ready in $(( $(date +%s) - start )) s"

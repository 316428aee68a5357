#!/usr/bin/env bash
# Makes a fresh Wine prefix for the test bed: make-prefix.sh PREFIX_DIR
# A 64-bit prefix, made by Wine's 64-bit loader on every host; its 32-bit side
# (syswow64) runs the shipped 32-bit files where this host runs 32-bit
# programs. It records in PREFIX_DIR/quorvenal-wine32 whether they run here:
# "yes" or the reason why not, which every run of the 32-bit files reads.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-common.sh"
require_tools wineserver "$WINE64"
prefix=${1:?usage: make-prefix.sh PREFIX_DIR}

use_prefix "$prefix"
stop_prefix
rm -rf "$prefix"
mkdir -p "$(dirname "$prefix")"
start=$(date +%s)
"$WINE64" wineboot -i >/dev/null 2>&1
wineserver -w
if [ ! -f "$prefix/system.reg" ]; then
  echo "FAIL: wineboot made no prefix in $prefix"
  exit 1
fi
# No window manager runs under Xvfb. Wine runs every program in a virtual
# desktop of its own, where it keeps activation and focus itself instead of
# learning them from the X server a moment later, and it draws the frames and
# captions of its windows itself, as Windows does.
"$WINE64" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
"$WINE64" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
"$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
"$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d Y /f >/dev/null 2>&1
# Wine's own fonts (Debian's fonts-wine: Marlett for the caption buttons, the
# Tahoma that stands for the dialog font "MS Shell Dlg", MS Sans Serif), which
# this Wine does not find where the package puts them: the prefix's font
# folder is always searched.
if [ -d /usr/share/wine/fonts ]; then
  cp /usr/share/wine/fonts/*.ttf "$prefix/drive_c/windows/Fonts/"
fi
# The driver host takes the HAL from the test bed's hal.dll, which the runs
# place in syswow64 (install_bed in wine-common.sh).
"$WINE64" reg add 'HKCU\Software\Wine\DllOverrides' /v hal /d native /f >/dev/null 2>&1
wine32_verdict >"$prefix/quorvenal-wine32"
wineserver -w
echo "prefix ready in $(( $(date +%s) - start )) s; 32-bit programs: $(cat "$prefix/quorvenal-wine32")"

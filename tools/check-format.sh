#!/usr/bin/env bash
# Checks that the C++ sources are formatted as .clang-format says, changing
# nothing: prints every place clang-format would change and fails if there is
# one. With file arguments, checks only those files.
#   tools/check-format.sh [FILE...]
# CLANG_FORMAT names the clang-format to use (default: clang-format).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
tool=${CLANG_FORMAT:-clang-format}
if ! command -v "$tool" >/dev/null 2>&1; then
  echo "check-format: $tool not found (Debian: apt-get install clang-format)" >&2
  exit 2
fi
if [ $# -gt 0 ]; then
  files=("$@")
else
  mapfile -t files < <(git ls-files '*.cpp' '*.h')
fi
echo "check-format: $("$tool" --version), ${#files[@]} files"
"$tool" --style=file --dry-run -Werror "${files[@]}"
echo "check-format: all formatted"

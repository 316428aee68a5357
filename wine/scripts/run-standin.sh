#!/usr/bin/env bash
# Runs a stand-in program in a folder and keeps its standard output:
#   run-standin.sh FOLDER OUTPUT PROGRAM [ARGS...]
# The exit code is the program's.
set -uo pipefail
folder=${1:?usage: run-standin.sh FOLDER OUTPUT PROGRAM [ARGS...]}
output=${2:?}
shift 2
mkdir -p "$(dirname "$output")"
cd "$folder" || exit 1
"$@" >"$output"
status=$?
echo "$(basename "$1") exited with $status; $(wc -l <"$output") lines in $output"
grep 'UNEXPECTED' "$output"
exit $status

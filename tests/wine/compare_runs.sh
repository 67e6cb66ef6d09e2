#!/usr/bin/env bash
# Runs the Linux build and the Windows build (under Wine) on the same ROMs
# with the same options, each in a folder of its own, and fails unless every
# file they write and everything they print are the same bytes.
#   compare_runs.sh LINUX_ZAFT WINDOWS_ZAFT_EXE WORK_FOLDER "OPTIONS" ROM...
set -euo pipefail
linux=$(realpath "$1")
windows=$(realpath "$2")
work=$3
options=$4
shift 4
wine=${WINE:-/usr/lib/wine/wine64}
export WINEDEBUG=-all
mkdir -p "$work"
failed=0
for rom in "$@"; do
  name=$(basename "$rom")
  for side in linux windows; do
    mkdir -p "$work/$side/$name"
    cp "$rom" "$work/$side/$name/rom.bin"
  done
  status_linux=0
  status_windows=0
  # shellcheck disable=SC2086
  (cd "$work/linux/$name" && "$linux" $options /d out rom.bin >stdout 2>stderr) || status_linux=$?
  # shellcheck disable=SC2086
  (cd "$work/windows/$name" && "$wine" "$windows" $options /d out rom.bin >stdout 2>stderr) || status_windows=$?
  if [ "$status_linux" != "$status_windows" ]; then
    echo "$name: exit status $status_linux on Linux, $status_windows on Windows"
    failed=1
  fi
  if ! diff -r "$work/linux/$name" "$work/windows/$name" >"$work/$name.diff" 2>&1; then
    echo "$name: the outputs differ:"
    head -20 "$work/$name.diff"
    failed=1
  fi
done
files=$(find "$work/linux" -type f | wc -l)
if [ "$failed" -ne 0 ]; then
  echo "Linux and Windows builds differ (see above)"
  exit 1
fi
echo "$# ROMs with \"$options\": the same $files files and console text from both builds"

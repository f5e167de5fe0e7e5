#!/usr/bin/env bash
# Runs the golden program of the Linux build and of the Windows build (under
# wine) and requires byte-identical output. The Windows one runs three times:
# with the x87 precision word as the C runtime leaves it, and set to 53 and
# to 24 bits as host processes commonly set it; the module must not notice.
#   compare.sh LINUX_GOLDEN LINUX_MODULE WIN_GOLDEN WIN_MODULE OUTDIR [EXAMPLE.obj ...]
set -euo pipefail

[ $# -ge 5 ] || { echo "usage: $0 LINUX_GOLDEN LINUX_MODULE WIN_GOLDEN WIN_MODULE OUTDIR [EXAMPLES]" >&2; exit 2; }
linux_golden=$1 linux_module=$2 win_golden=$3 win_module=$4 out=$5
shift 5
mkdir -p "$out"

"$linux_golden" "$linux_module" "$out/linux.txt" "$@"

status=0
for precision in default 53 24; do
  args=()
  [ "$precision" = default ] || args=(--x87 "$precision")
  result="$out/win32-x87-$precision.txt"
  rm -f "$result"
  wine "$win_golden" "$win_module" "$result" "${args[@]}" "$@"
  if cmp -s "$out/linux.txt" "$result"; then
    echo "golden: Windows (x87 $precision) output is identical to Linux ($(wc -l <"$result") lines)"
  else
    echo "golden: Windows (x87 $precision) output differs from Linux:" >&2
    diff -u "$out/linux.txt" "$result" | head -40 >&2 || true
    status=1
  fi
done
exit $status

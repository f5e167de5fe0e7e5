#!/usr/bin/env bash
# Checks what a built Corvane.p shows a host: it must export exactly one
# name, _mod_descrip, undecorated. A Windows build must also carry its C and
# C++ runtimes inside and import only Windows system DLLs, so that it loads
# on a user's machine without any MinGW DLL beside it.
#   scripts/check-module.sh PATH/Corvane.p
set -euo pipefail

module=${1:?usage: check-module.sh PATH/Corvane.p}
fail() { echo "check-module: $module: $*" >&2; exit 1; }
[ -f "$module" ] || fail "no such file"

magic=$(head -c 2 "$module" | od -An -c | tr -d ' \n')
if [ "$magic" = "MZ" ]; then
  objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
  table=$("$objdump" -p "$module") || fail "$objdump cannot read it"
  grep -q '^Magic[[:space:]]*010b' <<<"$table" || fail "not a 32-bit (PE32) image"
  # The export name table: "[   0] name" lines after its heading.
  exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ {on = 1; next}
                 on && /^[[:space:]]*$/ {exit}
                 on {sub(/^[[:space:]]*\[[[:space:]]*[0-9]+\][[:space:]]*/, ""); print}' <<<"$table")
  [ "$exports" = "_mod_descrip" ] || fail "exports [$(echo $exports)], expected exactly _mod_descrip"
  imports=$(awk '/DLL Name:/ {print $3}' <<<"$table")
  [ -n "$imports" ] || fail "imports no DLL at all (cannot read the import table?)"
  for dll in $imports; do
    case "${dll,,}" in
      kernel32.dll|msvcrt.dll|user32.dll|advapi32.dll|gdi32.dll|shell32.dll|ole32.dll|\
      oleaut32.dll|ntdll.dll|ws2_32.dll|ucrtbase.dll|api-ms-win-*.dll) ;;
      *) fail "imports $dll, which is not a Windows system DLL (runtime not linked statically?)" ;;
    esac
  done
  echo "check-module: $module: exports _mod_descrip only; imports $(echo $imports)"
else
  # ELF: the dynamic symbol table's defined names. A GNU unique symbol
  # ("u") would also keep the module from ever unloading.
  defined=$(nm -D --defined-only "$module" | awk '{print $NF}' | sort -u)
  [ "$defined" = "_mod_descrip" ] || fail "exports [$(echo $defined)], expected exactly _mod_descrip"
  if nm -D "$module" | awk '$2 == "u"' | grep -q .; then
    fail "has unique symbols, which stop it unloading"
  fi
  # Library math other than the square root rounds differently on every
  # target (and on 32-bit Windows depends on the host's x87 precision word):
  # the module must not call it. The Windows build links its runtime in, so
  # the ELF module's imports are where a call would show.
  libm=$(nm -D --undefined-only "$module" | awk '{sub(/@.*/, "", $NF); print $NF}' |
         grep -xE '(acos|asin|atan|atan2|cos|sin|tan|cosh|sinh|tanh|exp|exp2|expm1|log|log2|log10|log1p|pow|cbrt|hypot|fmod|remainder)[fl]?' || true)
  [ -z "$libm" ] || fail "calls library math [$(echo $libm)], whose results differ between targets"
  echo "check-module: $module: exports _mod_descrip only; no library math but sqrt"
fi

#!/usr/bin/env bash
# Checks the layout (.clang-format) and the names (.clang-tidy) of the C++
# files that changed.
#
#   scripts/lint.sh           files changed since the last commit's parent:
#                             what the last commit changed, plus edits not
#                             yet committed
#   scripts/lint.sh BASE      files changed since the commit BASE (a branch:
#                             origin/main, $(git merge-base main HEAD))
#   scripts/lint.sh --all     every C++ file in the tree
#   scripts/lint.sh --fix ... rewrites the files' layout instead of checking
#                             it (the names are still only checked)
#
# The naming check compiles each file with the flags its target gives it,
# from BUILD_DIR/compile_commands.json (BUILD_DIR defaults to build; it is
# configured if missing, and a file that includes a generated header needs
# the build made first). A header is checked through a source file that
# includes it. Files the build does not compile (the fuzz targets are built
# elsewhere) only have their layout checked. Exits 1 on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BUILD_DIR:-build}

fix=0
base=HEAD~1
all=0
for arg in "$@"; do
  case "$arg" in
    --fix) fix=1 ;;
    --all) all=1 ;;
    -h|--help) sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "lint: unknown option '$arg'" >&2; exit 2 ;;
    *) base=$arg ;;
  esac
done

scripts/install-deps.sh lint

cxx='\.(c|cc|cpp|cxx|h|hh|hpp|hxx)$'
if [ "$all" -eq 0 ] && ! git rev-parse -q --verify "$base^{commit}" >/dev/null 2>&1; then
  # A first commit, a shallow clone without the parent, or a tree without
  # its history: check everything.
  echo "lint: no commit '$base'; checking every file" >&2
  all=1
fi
if [ "$all" -eq 1 ] && ! git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(find . \( -name 'build*' -o -name node_modules -o -name '.*' ! -name . \) -prune -o \
                         -type f -print | sed 's|^\./||' | grep -E "$cxx" | sort || true)
elif [ "$all" -eq 1 ]; then
  mapfile -t files < <(git ls-files | grep -E "$cxx" || true)
else
  mapfile -t files < <(git diff --name-only --diff-filter=d "$base" -- | grep -E "$cxx" || true)
fi
if [ ${#files[@]} -eq 0 ]; then
  echo "lint: no C++ file changed"
  exit 0
fi

status=0
if [ "$fix" -eq 1 ]; then
  clang-format -i "${files[@]}"
elif ! clang-format --dry-run --Werror "${files[@]}"; then
  echo "lint: layout differs from .clang-format; scripts/lint.sh --fix${*:+ $*} rewrites it" >&2
  status=1
fi

db="$build/compile_commands.json"
if [ ! -f "$db" ]; then
  cmake -S . -B "$build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
fi
# The sources the build compiles, relative to the tree.
mapfile -t compiled < <(python3 -c '
import json, os, sys
root = sys.argv[2]
for entry in json.load(open(sys.argv[1])):
    path = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
    if path.startswith(root + os.sep):
        print(os.path.relpath(path, root))
' "$db" "$root" | sort -u)

# A source file the build compiles that includes the header $1, directly or
# through other headers. The layers' include directories are the tree's
# root, so every include of a header spells its path from there.
includer() {
  local want=("$1") round unit next h
  for round in 1 2 3 4; do
    for h in "${want[@]}"; do
      unit=$(printf '%s\n' "${sources[@]}" | xargs grep -lF "#include \"$h\"" 2>/dev/null | head -n 1 || true)
      if [ -n "$unit" ]; then echo "$unit"; return; fi
    done
    next=()
    for h in "${want[@]}"; do
      mapfile -t -O "${#next[@]}" next < <(git grep -lF "#include \"$h\"" -- '*.h' '*.hpp' || true)
    done
    [ ${#next[@]} -gt 0 ] || return 0
    want=("${next[@]}")
  done
}
mapfile -t sources < <(printf '%s\n' "${compiled[@]}" | grep -E '\.(c|cc|cpp|cxx)$' | grep -v '^build/' || true)

# Each job is a source file and, for a header, the header's absolute path
# (findings are then reported for the header alone).
jobs=()
skipped=()
for f in "${files[@]}"; do
  case "$f" in
    *.h|*.hh|*.hpp|*.hxx)
      unit=$(includer "$f")
      if [ -n "$unit" ]; then jobs+=("$unit|$root/$f"); else skipped+=("$f"); fi ;;
    *)
      if printf '%s\n' "${compiled[@]}" | grep -qxF "$f"; then jobs+=("$f|"); else skipped+=("$f"); fi ;;
  esac
done
if [ ${#skipped[@]} -gt 0 ]; then
  echo "lint: not compiled in $build/, names not checked: ${skipped[*]}" >&2
fi

tidy_one() {
  local unit=${1%%|*} header=${1#*|} filter
  if [ -n "$header" ]; then
    # The header's findings alone: its includer is checked when it changes.
    filter="^$(printf '%s' "$header" | sed 's/[.[\*^$+?(){}|]/\\&/g')\$"
    clang-tidy --quiet --extra-arg=-w -p "$2" --header-filter="$filter" --line-filter="[{\"name\":\"$header\"}]" \
      "$unit" 2>/dev/null
  else
    clang-tidy --quiet --extra-arg=-w -p "$2" "$unit" 2>/dev/null
  fi
}
export -f tidy_one
if [ ${#jobs[@]} -gt 0 ]; then
  if ! printf '%s\n' "${jobs[@]}" | xargs -d '\n' -P "$(nproc)" -I{} bash -c 'tidy_one "$1" "$2"' _ {} "$build"; then
    echo "lint: names differ from .clang-tidy (or a file did not compile: build first)" >&2
    status=1
  fi
fi
exit $status

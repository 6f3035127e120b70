#!/usr/bin/env bash
# Fails, listing the files, when a tracked .cpp or .h file differs from what
# clang-format makes of it with the repository's .clang-format; then runs
# clang-tidy with the repository's .clang-tidy over the tracked .cpp files
# of the linux preset's compile database (configured here, nothing built),
# two at a time, and fails on any finding. Changes nothing in the tree.
#   TIDY=all       every file of the programs and libraries (default); the
#                  tests and benchmarks, which -Werror builds, are left out
#                  to keep the test command within its time
#   TIDY=tests     those and the tests and benchmarks as well
#   TIDY=changed   the files changed since the merge base with main
#   TIDY=0         no clang-tidy
set -euo pipefail
cd "$(dirname "$0")/.."
clang_format=${CLANG_FORMAT:-clang-format}
clang_tidy=${CLANG_TIDY:-clang-tidy}
tidy=${TIDY:-all}
command -v "$clang_format" >/dev/null || { echo "format: $clang_format not found" >&2; exit 1; }

unformatted=()
while IFS= read -r -d '' file; do
  if ! "$clang_format" --style=file "$file" | cmp -s - "$file"; then
    unformatted+=("$file")
  fi
done < <(git ls-files -z -- '*.cpp' '*.h')

if [ ${#unformatted[@]} -gt 0 ]; then
  echo "format: ${#unformatted[@]} files differ from clang-format's output:"
  printf '  %s\n' "${unformatted[@]}"
  exit 1
fi

[ "$tidy" = 0 ] && exit 0
command -v "$clang_tidy" >/dev/null || { echo "tidy: $clang_tidy not found" >&2; exit 1; }
# The same options as the linux stage, so that its build does not configure
# again.
cmake --preset linux -DVANTRIC_TESTS=ON -DVANTRIC_BENCH=ON -DVANTRIC_WERROR=ON >/dev/null
database=build/linux/compile_commands.json
if [ "$tidy" = changed ]; then
  base=$(git merge-base HEAD main)
  listed=$( (git diff --name-only "$base" -- '*.cpp'; git ls-files --others --exclude-standard -- '*.cpp') | sort -u)
elif [ "$tidy" = tests ]; then
  listed=$(git ls-files -- '*.cpp')
else
  listed=$(git ls-files -- '*.cpp' ':!tests/' ':!bench/')
fi
# Only what this build compiles: the other platform's backends and the
# fuzz targets are not in the database.
files=$(python3 - "$database" $listed <<'PY'
import json, os, sys
compiled = {os.path.realpath(e["file"]) for e in json.load(open(sys.argv[1]))}
print("\n".join(f for f in sys.argv[2:] if os.path.realpath(f) in compiled))
PY
)
[ -n "$files" ] || { echo "tidy: no files"; exit 0; }
echo "tidy: $(wc -l <<<"$files") files"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! xargs -P 2 -n 1 "$clang_tidy" -p build/linux --quiet <<<"$files" >"$log" 2>&1; then
  grep -v '^[0-9]* warnings\? \(and [0-9]* errors\? \)\?generated\.$' "$log" || true
  echo "tidy: findings (above)"
  exit 1
fi

#!/usr/bin/env bash
# Fails, listing the files, when a tracked .cpp or .h file differs from what
# clang-format makes of it with the repository's .clang-format. Changes
# nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
clang_format=${CLANG_FORMAT:-clang-format}
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

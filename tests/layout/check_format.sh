#!/usr/bin/env bash
# The tree is in the house format (.clang-format): prints the files that are not, and fails.
# Fix with: clang-format -i FILE (Debian's clang-format 14, the version the style was set with).
set -euo pipefail
cd "${1:-$(dirname "$0")/../..}"
mapfile -t files < <(git ls-files '*.cpp' '*.h' ':!:tests/fixtures/real-pe')
bad=()
for f in "${files[@]}"; do
    clang-format --dry-run --Werror "$f" 2>/dev/null || bad+=("$f")
done
if [ ${#bad[@]} -ne 0 ]; then
    printf 'not formatted: %s\n' "${bad[@]}"
    exit 1
fi
echo "${#files[@]} files formatted"

#!/bin/sh
# Fails, naming the files, when a C or C++ file that git tracks is not laid out
# as .clang-format says (Debian's clang-format). To mend: scripts/check-format.sh --fix
set -eu
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || { echo "error: clang-format is missing: ./test.sh installs it" >&2; exit 1; }
files=$(git ls-files '*.c' '*.cpp' '*.h')
if [ "${1:-}" = --fix ]; then
    echo "$files" | xargs clang-format -i
    exit 0
fi
unformatted=""
for file in $files; do
    clang-format --dry-run --Werror "$file" >/dev/null 2>&1 || unformatted="$unformatted $file"
done
if [ -n "$unformatted" ]; then
    echo "error: not laid out as .clang-format says (scripts/check-format.sh --fix mends it):$unformatted" >&2
    exit 1
fi
echo "Every C and C++ file is laid out as .clang-format says."

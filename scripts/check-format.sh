#!/usr/bin/env bash
# Fails, listing the files, when a tracked C++ file differs from what clang-format makes of it with the
# repository's .clang-format. Formatting depends on the version: this is clang-format 14 (Debian 12's
# clang-format package). Fix with: clang-format -i FILE...
set -euo pipefail
cd "$(dirname "$0")/.."
format="${CLANG_FORMAT:-$(command -v clang-format-14 || command -v clang-format || true)}"
if [ -z "$format" ]; then
    echo "check-format: clang-format not found (Debian: apt-get install clang-format)" >&2
    exit 1
fi
if ! "$format" --version | grep -q ' version 14\.'; then
    echo "check-format: $("$format" --version) is not clang-format 14; its output may differ" >&2
    exit 1
fi
# The tracked files; outside a git checkout, every C++ file but the build folders'.
sources() {
    if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        git ls-files -z -- '*.cpp' '*.h'
    else
        find . \( -name 'build*' -o -name '.git' -o -name out \) -prune -o \( -name '*.cpp' -o -name '*.h' \) -print0
    fi
}
unformatted=()
count=0
while IFS= read -r -d '' file; do
    count=$((count + 1))
    "$format" --dry-run --Werror "$file" >/dev/null 2>&1 || unformatted+=("$file")
done < <(sources)
if ((${#unformatted[@]})); then
    echo "check-format: ${#unformatted[@]} file(s) differ from clang-format's output:" >&2
    printf '  %s\n' "${unformatted[@]}" >&2
    echo "run: clang-format -i ${unformatted[*]}" >&2
    exit 1
fi
echo "check-format: all $count C++ files are formatted"

#!/usr/bin/env bash
# Static analysis of the project's own code with clang-tidy (.clang-tidy) and cppcheck, its layout against
# .clang-format, and the documents' links (scripts/check-links.sh); fails on any warning.
# Usage: scripts/lint.sh [build dir with compile_commands.json, default build]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

cmake -S . -B "$build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null   # generated sources must exist

sources=$(git ls-files 'src/*.cpp' 'tools/*.cpp' 'music/*.cpp' 'bench/*.cpp' 'tests/*.cpp')
status=0

# The fuzz targets are built by clang in a build of their own (scripts/fuzz.sh): no compile commands here.
tidied=$(echo "$sources" | grep -v '^tests/fuzz/')
echo "clang-tidy: $(echo "$tidied" | wc -w) files"
if ! clang-tidy -p "$build" --quiet $tidied >"$build/clang-tidy.log" 2>&1 || grep -q -E 'warning:|error:' "$build/clang-tidy.log"; then
    grep -E -A3 'warning:|error:' "$build/clang-tidy.log" || cat "$build/clang-tidy.log"
    status=1
fi

echo "cppcheck: $(echo "$sources" | wc -w) files"
if ! cppcheck --quiet --library=googletest --enable=warning,style,performance,portability --std=c++17 --inline-suppr \
        --suppressions-list=cppcheck.supp --error-exitcode=1 \
        -I src -I "$build/generated/960x600" -I tools/vclock -I tools/common -I tools/capture -I tools/flash -I tools/preview -I tests/support $sources; then
    status=1
fi

formatted=$(git ls-files '*.cpp' '*.h')
echo "clang-format: $(echo "$formatted" | wc -w) files"
if ! clang-format --dry-run -Werror $formatted 2>"$build/clang-format.log"; then
    grep -E 'error:' "$build/clang-format.log" | cut -d: -f1 | sort -u | sed 's/$/: not laid out as .clang-format says (clang-format -i)/'
    status=1
fi

# The documents' links and repository paths.
scripts/check-links.sh || status=1

[ $status -eq 0 ] && echo "lint: no warnings"
exit $status

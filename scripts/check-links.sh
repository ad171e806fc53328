#!/usr/bin/env bash
# Checks the project's Markdown files (the README, docs/, music/, bench/): every relative link and picture must
# name a file or folder of the repository, and a link's #anchor a heading of the Markdown file it names; every
# repository path in backticks (one that starts with a top-level folder, such as `src/render.cpp`) must exist.
# Fenced code blocks are not read. Prints each fault as "FILE:LINE: ...", then a count; fails on any.
# Usage: scripts/check-links.sh [repository root, default: this script's]
set -euo pipefail
root=${1:-$(dirname "$0")/..}
cd "$root"

# The GitHub anchor of each heading of a Markdown file, one a line: lower case, punctuation dropped, spaces to -.
anchors() {
    awk '/^```/ { fenced = !fenced; next } !fenced && /^#+ / { sub(/^#+ /, ""); print }' "$1" |
        LC_ALL=C tr '[:upper:]' '[:lower:]' | LC_ALL=C sed 's/[^a-z0-9 _-]//g; s/ /-/g'
}

top_folders=$(find . -mindepth 1 -maxdepth 1 -type d ! -name '.*' ! -name 'build*' -printf '%f\n' | paste -sd '|')
faults=0
files=$(find . \( -name 'build*' -o -name '.*' ! -name . \) -prune -o -name '*.md' -print | sed 's|^\./||' | sort)
for file in $files; do
    dir=$(dirname "$file")
    # Line number and text of every line outside fenced code blocks.
    lines=$(awk '/^```/ { fenced = !fenced; next } !fenced { print NR "\t" $0 }' "$file")
    # Links and pictures: ](target) with the target up to the closing parenthesis or a space (a title).
    while IFS=$'\t' read -r number target; do
        case "$target" in
            http://* | https://* | mailto:*) continue ;;
        esac
        path=${target%%#*}
        anchor=
        [ "$path" != "$target" ] && anchor=${target#*#}
        resolved=$file
        if [ -n "$path" ]; then
            resolved=$dir/$path
            if [ ! -e "$resolved" ]; then
                echo "$file:$number: link to '$target': no $resolved"
                faults=$((faults + 1))
                continue
            fi
        fi
        if [ -n "$anchor" ] && [[ "$resolved" == *.md ]] && ! anchors "$resolved" | grep -qx -- "$anchor"; then
            echo "$file:$number: link to '$target': no heading '#$anchor' in $resolved"
            faults=$((faults + 1))
        fi
    done < <(echo "$lines" | awk -F'\t' '{
        text = $0; sub(/^[0-9]+\t/, "", text)
        while (match(text, /\]\([^) ]+/)) {
            print $1 "\t" substr(text, RSTART + 2, RLENGTH - 2)
            text = substr(text, RSTART + RLENGTH)
        }
    }')
    # Repository paths in backticks: the first word of a code span, where it starts with a top-level folder and
    # holds no pattern or placeholder.
    while IFS=$'\t' read -r number path; do
        if [ ! -e "$path" ]; then
            echo "$file:$number: \`$path\`: no such file or folder in the repository"
            faults=$((faults + 1))
        fi
    done < <(echo "$lines" | awk -F'\t' -v top="^($top_folders)/" '{
        text = $0; sub(/^[0-9]+\t/, "", text)
        while (match(text, /`[^`]+`/)) {
            span = substr(text, RSTART + 1, RLENGTH - 2)
            text = substr(text, RSTART + RLENGTH)
            split(span, words, " ")
            word = words[1]
            if (word ~ top && word !~ /[*?<>…]|[A-Z][A-Z_]*[A-Z]\/?$|\.\.\./)
                print $1 "\t" word
        }
    }')
done

count=$(echo "$files" | wc -w)
if [ "$faults" -gt 0 ]; then
    echo "check-links: $faults dangling in $count Markdown files"
    exit 1
fi
echo "check-links: every link and path of $count Markdown files resolves"

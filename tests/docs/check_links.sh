#!/usr/bin/env bash
# Checks that every relative link of every Markdown file in a tree (the source tree, the installed
# documents, the unpacked Windows zip) resolves: the file or folder it names exists, and its #anchor, if any, is a heading of that Markdown file (the anchors
# GitHub makes: lower case, punctuation dropped, blanks as hyphens). Code blocks and code spans
# are left out. Prints each broken link and exits 1 when there is any.
# Usage: check_links.sh FOLDER
set -u
cd "$1" || exit 1

# Markdown outside fenced code blocks, code spans removed.
prose() {
    awk '/^ *```/ { fence = !fence; next } !fence' "$1" | sed 's/`[^`]*`//g'
}

anchors() {
    awk '/^ *```/ { fence = !fence; next } !fence && /^#+ / { sub(/^#+ +/, ""); print }' "$1" |
        tr 'A-Z' 'a-z' | sed -e 's/[^a-z0-9 _-]//g' -e 's/ /-/g'
}

links() {
    prose "$1" | grep -o '\]([^) ]*)' | sed 's/^\](\(.*\))$/\1/'
}

broken=0
while IFS= read -r doc; do
    while IFS= read -r target; do
        case $target in http://* | https://* | mailto:*) continue ;; esac
        path=${target%%#*}
        anchor=${target#"$path"}
        file=$doc
        [ -z "$path" ] || file="$(dirname "$doc")/$path"
        if [ ! -e "$file" ]; then
            echo "$doc: ($target): no such file"
            broken=1
        elif [ -n "$anchor" ] && ! anchors "$file" | grep -qxF -- "${anchor#\#}"; then
            echo "$doc: ($target): no such heading"
            broken=1
        fi
    done < <(links "$doc")
done < <(find . \( -name build -o -name .git \) -prune -o -name '*.md' -print | sort)
[ "$broken" -ne 0 ] || echo "every relative link resolves"
exit "$broken"

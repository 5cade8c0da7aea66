#!/usr/bin/env bash
# Holds the manual page to kelmtool's --help: every command that `kelmtool --help` lists, and
# every option that it and `kelmtool COMMAND --help` show, must appear in the page.
#
#   man_page_check.sh MAN_PAGE COMMAND...
set -uo pipefail

if [[ $# -lt 2 ]]; then
    echo "usage: $0 MAN_PAGE COMMAND..." >&2
    exit 2
fi
page=$1
shift
tool=("$@")
export LC_ALL=C

scratch=$(mktemp -d) || exit 1
trap 'rm -rf "$scratch"' EXIT

# The page as text: roff's escaped hyphens and font changes undone.
sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$page" >"$scratch/page" || exit 1

help() {  # help ARGS... > FILE: one help text, line ends made Unix ones
    "${tool[@]}" "$@" --help </dev/null >"$scratch/raw" 2>&1 || return 1
    tr -d '\r' <"$scratch/raw"
}

help >"$scratch/main" || { echo "kelmtool --help failed"; exit 1; }
# The commands: the lines of the "Subcommands:" section.
mapfile -t commands < <(sed -n '/^Subcommands:/,/^$/p' "$scratch/main" | awk 'NR > 1 && NF { print $1 }')
if [[ ${#commands[@]} -eq 0 ]]; then
    echo "kelmtool --help lists no commands"
    exit 1
fi

missing=0
checked=0
look_for() {  # look_for WHAT REGEX: one entry of --help that the page must show
    checked=$((checked + 1))
    if ! grep -Eq -- "$2" "$scratch/page"; then
        echo "missing from the page: $1"
        missing=$((missing + 1))
    fi
}
# options FILE: the option names of a help text's "Options:" section (-h,--help gives both).
options() {
    sed -n '/^Options:/,/^$/p' "$1" | grep -Eo -- '^  -[^ ]+' | tr ',' '\n' | tr -d ' '
}

# The page's title line names the version that --version shows.
"${tool[@]}" --version </dev/null >"$scratch/raw" 2>&1 || { echo "kelmtool --version failed"; exit 1; }
version=$(tr -d '\r' <"$scratch/raw" | sed -n 's/^kelmtool //p')
look_for "version $version" "^\.TH KELMTOOL 1 .*\"kelm ${version//./\\.}\""
for option in $(options "$scratch/main"); do
    look_for "kelmtool $option" "(^|[^-a-z])$option([^-a-z]|$)"
done
for command in "${commands[@]}"; do
    look_for "command $command" "^\.(B|BI|BR) $command( |$)"
    help "$command" >"$scratch/$command" || { echo "kelmtool $command --help failed"; exit 1; }
    for option in $(options "$scratch/$command"); do
        look_for "kelmtool $command $option" "(^|[^-a-z])$option([^-a-z]|$)"
    done
done
# Every exit code that --help lists has its entry under EXIT STATUS.
for code in $(sed -n '/^Exit codes:/,/^$/p' "$scratch/main" | awk 'NR > 1 && $1 ~ /^[0-9]+$/ { print $1 }'); do
    look_for "exit code $code" "^\.B $code$"
done
echo "man page: $checked entries of --help checked, $missing missing"
[[ $missing -eq 0 ]]

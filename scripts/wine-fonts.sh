#!/usr/bin/env bash
# Links Wine's own fonts into a Wine prefix: Debian's Wine does not look into its font folder,
# so the kelm dialog's "MS Sans Serif" and the caption buttons' Marlett would be replaced by
# other fonts. Only missing fonts are linked; nothing else of the prefix is touched.
#   bash scripts/wine-fonts.sh [PREFIX]     (default: WINEPREFIX, else ~/.wine)
set -euo pipefail

prefix=${1:-${WINEPREFIX:-$HOME/.wine}}
source_fonts=/usr/share/wine/fonts
[[ -d "$source_fonts" && -d "$prefix/drive_c/windows" ]] || exit 0
fonts="$prefix/drive_c/windows/Fonts"
mkdir -p "$fonts"
for font in "$source_fonts"/*; do
    if [[ ! -e "$fonts/$(basename "$font")" ]]; then
        ln -s "$font" "$fonts/"
    fi
done

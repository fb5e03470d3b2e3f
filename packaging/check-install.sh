#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs a build into a temporary prefix and checks what packaging adds
# for the command line: both man pages render without warnings, velofon.1
# names every option that `velofon render --help`, `velofon play --help`
# and `velofon info --help` print, the bash completion completes commands and options, with the
# bash-completion package's helpers and without them, and the desktop entry
# and the metadata are valid, the entry offers the player for sound files,
# and the pages and the metadata give the version. Then uninstalls and checks
# that nothing is left.
#
# usage: check-install.sh CMAKE BUILD_DIR APP_ID
set -u

cmake=$1
build=$2
app_id=$3
entry_name=$app_id.desktop
here=$(cd "$(dirname "$0")" && pwd)
manifest=$build/install_manifest.txt

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# cmake --install rewrites the build folder's record of the last install,
# which a real install's uninstall needs: keep it, put it back at once.
[ -e "$manifest" ] && cp -p "$manifest" "$tmp/user-manifest"
"$cmake" --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1
installed=$?
cp "$manifest" "$tmp/our-manifest" 2>/dev/null
if [ -e "$tmp/user-manifest" ]; then
    cp -p "$tmp/user-manifest" "$manifest"
else
    rm -f "$manifest"
fi
if [ "$installed" -ne 0 ]; then
    cat "$tmp/install.log"
    echo "FAIL: cmake --install failed"
    exit 1
fi

velofon=$prefix/bin/velofon
pages="$prefix/share/man/man1/velofon.1.gz $prefix/share/man/man1/VelofonPocket.1.gz"
completion=$prefix/share/bash-completion/completions/velofon
applications=$prefix/share/applications
for file in $velofon $pages $completion $applications/$entry_name; do
    [ -e "$file" ] || fail "not installed: ${file#"$prefix"/}"
done
[ "$failures" -eq 0 ] || exit 1

# The pages render without a warning, through man or else groff (whose nroff
# cannot read UTF-8 input). The player's page names its Japanese menus, so it
# is rendered for a UTF-8 terminal.
for page in $pages; do
    name=$(basename "$page" .gz)
    if command -v man >/dev/null; then
        LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" >"$tmp/page.txt" 2>"$tmp/page.err"
    elif command -v groff >/dev/null; then
        gzip -dc "$page" | LC_ALL=C.UTF-8 groff -k -man -Tutf8 -ww >"$tmp/page.txt" 2>"$tmp/page.err"
    else
        echo "skipped: rendering $name (neither man nor groff is installed)"
        continue
    fi
    rendered=$?
    if [ "$rendered" -ne 0 ] || [ -s "$tmp/page.err" ] || [ ! -s "$tmp/page.txt" ]; then
        fail "$name does not render cleanly (status $rendered):"
        cat "$tmp/page.err"
    else
        echo "ok: $name renders without warnings"
    fi
done

# The pages and the metadata name the version velofon says it is.
version=$("$velofon" --version | sed -n '1s/^velofon //p')
before=$failures
for page in $pages; do
    gzip -dc "$page" | grep -q "^\.TH .* \"VelofonPocket $version\"" ||
        fail "$(basename "$page" .gz) does not give the version $version in its title line"
done
grep -q "<release version=\"$version\"" "$prefix/share/metainfo/$app_id.metainfo.xml" ||
    fail "the metadata's releases do not begin with $version"
[ "$failures" -eq "$before" ] && echo "ok: the man pages and the metadata give the version $version"

# The desktop's own checks, where its tools are installed.
if command -v desktop-file-validate >/dev/null; then
    if desktop-file-validate "$applications/$entry_name" >"$tmp/validate.log" 2>&1; then
        echo "ok: the desktop entry is valid"
    else
        fail "the desktop entry is not valid: $(cat "$tmp/validate.log")"
    fi
else
    echo "skipped: validating the desktop entry (desktop-file-validate is not installed)"
fi
if command -v appstreamcli >/dev/null; then
    if appstreamcli validate --no-net --strict "$prefix/share/metainfo/$app_id.metainfo.xml" >"$tmp/metainfo.log" 2>&1; then
        echo "ok: the metadata is valid"
    else
        fail "the metadata is not valid: $(cat "$tmp/metainfo.log")"
    fi
else
    echo "skipped: validating the metadata (appstreamcli is not installed)"
fi
if command -v update-desktop-database >/dev/null; then
    if grep -qF "$entry_name" <(grep '^audio/mpeg=' "$applications/mimeinfo.cache" 2>/dev/null); then
        echo "ok: the install offers the player for MP3 files"
    else
        fail "mimeinfo.cache does not offer the player for audio/mpeg"
    fi
fi

# Every option the commands' help names is in velofon.1, wherever the help
# names it: in a usage line, an option's line or the text.
options=$(
    for command in "" render play info; do
        # shellcheck disable=SC2086 # no command is no argument
        "$velofon" $command --help 2>/dev/null
    done | grep -oE -- "(^|[][ ,|'(])--?[A-Za-z][-A-Za-z0-9]*" | sed "s/^[][ ,|'(]//" | sort -u
)
count=$(printf '%s\n' "$options" | grep -c -- '^-')
if [ "$count" -lt 6 ]; then
    fail "found only $count options in velofon's --help output: $options"
fi
before=$failures
# The page as text: roff's \- is a dash, font changes are nothing.
gzip -dc "$prefix/share/man/man1/velofon.1.gz" | sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' >"$tmp/velofon.txt"
for option in $options; do
    grep -qE -- "(^|[^-A-Za-z0-9])$option([^-A-Za-z0-9]|\$)" "$tmp/velofon.txt" ||
        fail "velofon.1 does not name $option"
done
[ "$failures" -eq "$before" ] && echo "ok: velofon.1 names the $count options of the help: $(printf '%s\n' "$options" | tr '\n' ' ')"

# The completion, as bash calls it: first as sourced from ~/.bashrc without
# the bash-completion package, then, when it is installed, with its helpers.
complete_words() { # MODE WORD... : what completing the last word offers
    local mode=$1
    shift
    # shellcheck disable=SC2016 # expanded by the inner bash
    env -u BASH_ENV bash --norc --noprofile -c '
        mode=$1 completion=$2
        shift 2
        if [ "$mode" = helpers ]; then
            source /usr/share/bash-completion/bash_completion || exit 1
            declare -F _init_completion >/dev/null || { echo "no _init_completion"; exit 1; }
        elif declare -F _init_completion >/dev/null; then
            echo "bash-completion helpers loaded unasked"
            exit 1
        fi
        source "$completion" || exit 1
        function=$(complete -p velofon 2>/dev/null | sed -n "s/.* -F \([^ ]*\) .*/\1/p")
        [ -n "$function" ] || { echo "no completion function for velofon"; exit 1; }
        COMP_WORDS=("$@")
        COMP_CWORD=$(($# - 1))
        COMP_LINE="$*"
        COMP_POINT=${#COMP_LINE}
        COMPREPLY=()
        "$function" velofon "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
        printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " " | sed "s/ \$//"
    ' bash "$mode" "$completion" "$@"
}
modes=fallback
if [ -r /usr/share/bash-completion/bash_completion ]; then
    modes="$modes helpers"
else
    echo "skipped: completion with the bash-completion package's helpers (not installed)"
fi
for mode in $modes; do
    before=$failures
    got=$(complete_words "$mode" velofon re)
    [ "$got" = "render" ] || fail "$mode: 'velofon re' completes to '$got', not 'render'"
    got=$(complete_words "$mode" velofon render --sp)
    [ "$got" = "--speed --speed-index" ] ||
        fail "$mode: 'velofon render --sp' completes to '$got', not '--speed --speed-index'"
    got=$(complete_words "$mode" velofon play --speed 3.)
    [ "$got" = "3.0 3.1 3.2 3.3 3.4 3.5 3.6 3.7 3.8 3.9" ] ||
        fail "$mode: 'velofon play --speed 3.' completes to '$got'"
    [ "$failures" -eq "$before" ] && echo "ok: completion ($mode)"
done

# What was installed is uninstalled to the last file.
if [ -e "$tmp/our-manifest" ]; then
    "$cmake" -DMANIFEST="$tmp/our-manifest" -P "$here/Uninstall.cmake" >"$tmp/uninstall.log" 2>&1 ||
        fail "uninstalling failed: $(cat "$tmp/uninstall.log")"
    left=$(find "$prefix" ! -type d)
    if [ -z "$left" ]; then
        echo "ok: uninstall leaves no file"
    else
        fail "left after uninstall: $left"
    fi
else
    fail "cmake --install wrote no install_manifest.txt"
fi

[ "$failures" -eq 0 ]

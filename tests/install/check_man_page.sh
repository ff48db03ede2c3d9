#!/usr/bin/env bash
# check_man_page.sh PAGE WORDGEN: the manual page renders without a warning in groff and
# mandoc, its title names the version WORDGEN --version prints, and its example output is
# what WORDGEN prints.
set -euo pipefail
page=$1
wordgen=$2
fail() { echo "check_man_page: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Named as installed: mandoc takes the section from the name.
case "$page" in
  *.gz) gzip -dc "$page" > "$work/wordgen.1" ;;
  *) cp "$page" "$work/wordgen.1" ;;
esac
warnings=$(groff -man -ww -z "$work/wordgen.1" 2>&1) || fail "groff fails: $warnings"
[ -z "$warnings" ] || fail "groff warns: $warnings"
warnings=$(mandoc -T lint "$work/wordgen.1" 2>&1) || fail "mandoc warns: $warnings"
title=$(sed -n '/^\.TH/p' "$work/wordgen.1")
version=$("$wordgen" --version) || fail "$wordgen --version fails"
[[ "$version" =~ ^wordgen\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "$wordgen --version prints '$version'"
[[ "$title" == *"\"$version\""* ]] || fail "the title line '$title' does not name '$version'"
grep -q '@' <<<"$title" && fail "the title line keeps a placeholder: $title"

# The first example's command and its output, as the reader sees them.
rendered=$(MANWIDTH=80 man -l -P cat "$work/wordgen.1" 2>/dev/null | sed 's/^ *//')
command=$(grep -m1 '^\$ wordgen -r' <<<"$rendered") || fail "no example with a seed"
shown=$(sed -n "/^\\$ wordgen -r/,/^\$/p" <<<"$rendered" | sed '1d;$d')
# shellcheck disable=SC2086
actual=$("$wordgen" ${command#\$ wordgen })
[ "$shown" == "$actual" ] || fail "the page shows for '$command':
$shown
but wordgen prints:
$actual"

#!/usr/bin/env bash
# The programs as a user meets them first: --help, --version, a wrong option, and the
# manual page as man shows it.
#   programs_test.sh VERSION MANDIR PROGRAM...
set -u
version=$1
mandir=$2
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}

for program in "$@"; do
  name=$(basename "$program")
  "$program" --help >"$work/help" 2>"$work/err"
  rc=$?
  [ $rc -eq 0 ] || fail "$name --help exits $rc"
  [ -s "$work/err" ] && fail "$name --help writes on standard error: $(cat "$work/err")"
  head -1 "$work/help" | grep -q "^Usage: $name " || fail "$name --help starts: $(head -1 "$work/help")"
  grep -q -- "--version" "$work/help" || fail "$name --help does not list --version"

  got=$("$program" --version 2>&1)
  [ "$got" = "$name $version" ] || fail "$name --version says \"$got\""

  "$program" --no-such-option >"$work/out" 2>"$work/err"
  rc=$?
  [ $rc -eq 2 ] || fail "$name --no-such-option exits $rc"
  [ -s "$work/out" ] && fail "$name --no-such-option writes on standard output"
  expected="$name: unknown option --no-such-option (see $name --help)"
  [ "$(cat "$work/err")" = "$expected" ] || fail "$name --no-such-option says: $(cat "$work/err")"

  page=$mandir/$name.1
  if [ ! -s "$page" ]; then
    fail "no manual page $page"
    continue
  fi
  MANWIDTH=80 man --warnings -E UTF-8 -l "$page" >"$work/man" 2>"$work/err"
  rc=$?
  [ $rc -eq 0 ] || fail "man -l $page exits $rc"
  [ -s "$work/err" ] && fail "man warns about $page: $(cat "$work/err")"
  for heading in NAME SYNOPSIS DESCRIPTION OPTIONS; do
    grep -q "^$heading" "$work/man" || fail "$name's manual has no $heading"
  done
  # Every option --help lists, the manual describes.
  for option in $(grep -o -- '--[a-z][a-z-]*' "$work/help" | sort -u); do
    grep -q -- "$option" "$work/man" || fail "$name's manual does not describe $option"
  done
done
[ $failed -eq 0 ] && echo "all programs answer --help, --version and have their manual"
exit $failed

#!/usr/bin/env bash
# Runs orvane-check's demo check unattended, as the main job would, in a scratch folder,
# and checks that the page's signature was verified and the update saved there.
#   scripts/demo-check.sh PATH-TO-ORVANE-CHECK
set -euo pipefail
exe=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
(cd "$work" && timeout 120 "$exe" --yes --no-run </dev/null >"$work/out.txt" 2>&1) || status=$?
if ((status != 0)) || [[ ! -s $work/orvane-demo-1.1.sh ]] ||
  ! grep -q '^signature verified' "$work/out.txt"; then
  echo "demo check failed (exit $status):"
  cat "$work/out.txt"
  exit 1
fi
echo "demo check: the signed update was found, verified and saved"

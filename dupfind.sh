#!/bin/sh
# The Makefile's targets on a machine that may lack make, such as a minimal
# Debian system: installs make with apt if it is missing, then runs
# `make TARGET...` here. The targets install the rest themselves.
# Run it as yourself: apt runs as root, or through sudo. Where neither can,
# it names the packages missing and the one command for root to run.
# Usage: ./dupfind.sh run | test | package | ...
set -eu
cd "$(dirname "$0")"

if ! command -v make >/dev/null 2>&1; then
  # Make and what the first target needs, so that root's one command does.
  case "${1:-all}" in
    test) groups="build test bench" ;;
    package) groups="build package" ;;
    fuzz) groups="fuzz" ;;
    format | check-format) groups="format" ;;
    *) groups="build test" ;;  # the deps of every build
  esac
  # shellcheck disable=SC2086 # the groups are words
  scripts/install-deps.sh make $groups
fi
exec make "$@"

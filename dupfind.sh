#!/bin/sh
# The Makefile's targets on a machine that may lack make, such as a minimal
# Debian system: installs make with apt if it is missing, then runs
# `make TARGET...` here. The targets install the rest themselves.
# Usage: ./dupfind.sh run | test | package | ...   (as root, or with sudo at hand)
set -eu
cd "$(dirname "$0")"

if ! command -v make >/dev/null 2>&1; then
  if [ "$(id -u)" -eq 0 ]; then
    sudo=
  elif command -v sudo >/dev/null 2>&1; then
    sudo=sudo
  else
    echo "dupfind.sh: make is missing and so is sudo: run me as root" >&2
    exit 1
  fi
  echo "dupfind.sh: installing make"
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends make
fi
exec make "$@"

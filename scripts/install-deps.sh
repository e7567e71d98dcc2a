#!/usr/bin/env bash
# Installs the Debian packages the build needs, and only those that are missing.
# Usage: install-deps.sh [build|test|bench|package]...   (default: build test)
set -euo pipefail

build=(cmake make g++ pkg-config qt6-base-dev qt6-qpa-plugins fonts-liberation)
test=(libgtest-dev libgmock-dev libbenchmark-dev libssl-dev fonts-dejavu-core)
bench=(jdupes fdupes rdfind rmlint xvfb xauth time)
package=(dpkg-dev file desktop-file-utils appstream xvfb xauth)

groups=("$@")
[ ${#groups[@]} -gt 0 ] || groups=(build test)

wanted=()
for g in "${groups[@]}"; do
  case "$g" in
    build) wanted+=("${build[@]}") ;;
    test) wanted+=("${test[@]}") ;;
    bench) wanted+=("${bench[@]}") ;;
    package) wanted+=("${package[@]}") ;;
    *) echo "install-deps: unknown group '$g'" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"

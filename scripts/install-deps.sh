#!/usr/bin/env bash
# Installs the Debian packages the build needs, and only those that are missing.
# Usage: install-deps.sh [build|test|bench|probe|package|format|fuzz]...   (default: build test)
set -euo pipefail

build=(cmake make g++ pkg-config qt6-base-dev qt6-qpa-plugins qt6-translations-l10n fonts-liberation)
test=(libgtest-dev libgmock-dev libbenchmark-dev libssl-dev fonts-dejavu-core qt6-base-private-dev bindfs)
bench=(jdupes fdupes rdfind rmlint xvfb xauth time)
# The responsiveness probe: a slow FUSE mount, the ping client, a virtual display
# with a window manager, the clicks, xprop, and screenshots (xwd, then convert to PNG).
probe=(pkg-config libfuse3-dev fuse3 libxcb1-dev xvfb openbox xdotool x11-utils x11-apps imagemagick)
package=(build-essential dpkg-dev debhelper lintian desktop-file-utils appstream xvfb xauth)
format=(clang-format)
fuzz=(cmake make clang libclang-rt-14-dev libssl-dev)  # libFuzzer comes with clang's runtime

groups=("$@")
[ ${#groups[@]} -gt 0 ] || groups=(build test)

wanted=()
for g in "${groups[@]}"; do
  case "$g" in
    build) wanted+=("${build[@]}") ;;
    test) wanted+=("${test[@]}") ;;
    bench) wanted+=("${bench[@]}") ;;
    probe) wanted+=("${probe[@]}") ;;
    package) wanted+=("${package[@]}") ;;
    format) wanted+=("${format[@]}") ;;
    fuzz) wanted+=("${fuzz[@]}") ;;
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
apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get)  # sudo would drop an exported variable
"${apt[@]}" update -qq
"${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}"

#!/usr/bin/env bash
# Installs the Debian packages the build needs, and only those that are missing:
# as root, or through sudo. Where neither can run apt, it names the missing
# packages and the one command for root to run, which installs them and
# touches nothing else, and fails.
# Usage: install-deps.sh [make|build|test|bench|probe|package|format|fuzz]...   (default: build test)
set -euo pipefail

build=(cmake make g++ pkg-config qt6-base-dev qt6-qpa-plugins qt6-translations-l10n fonts-liberation)
test=(libgtest-dev libgmock-dev libbenchmark-dev libssl-dev fonts-dejavu-core qt6-base-private-dev bindfs)
bench=(jdupes fdupes rdfind rmlint xvfb xauth time fio)  # fio: the disk's own floor
# The responsiveness probe: a slow FUSE mount, the ping client, a virtual display
# with a window manager, the clicks, xprop, and screenshots (xwd, then convert to PNG).
probe=(pkg-config libfuse3-dev fuse3 libxcb1-dev xvfb openbox xdotool x11-utils x11-apps imagemagick)
package=(build-essential dpkg-dev debhelper lintian desktop-file-utils appstream xvfb xauth)
format=(clang-format)
fuzz=(cmake make clang libclang-rt-dev libssl-dev)  # libFuzzer comes with clang's runtime

groups=("$@")
[ ${#groups[@]} -gt 0 ] || groups=(build test)

wanted=()
for g in "${groups[@]}"; do
  case "$g" in
    make) wanted+=(make) ;;
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
  case " ${missing[*]} " in *" $p "*) continue ;; esac
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

install="apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  sh -c "$install" && exit 0
elif command -v sudo >/dev/null 2>&1; then
  echo "install-deps: installing ${missing[*]} with sudo"
  sudo sh -c "$install" && exit 0
fi
{
  echo "install-deps: these Debian packages are missing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: apt needs root. Ask root (or your administrator) to run this one command,"
    echo "install-deps: which installs those packages and changes nothing else:"
    echo
    echo "    su -c '$install'"
    echo
    echo "install-deps: then run your command again as yourself."
  fi
} >&2
exit 1

#!/usr/bin/env bash
# Checks the Debian package built by `make package`: lintian finds no error and
# no warning; apt installs it; the menu entry and the metadata validate; the
# installed program starts and stays up; apt purges it and nothing of it is
# left. Installs and removes a system package, so it runs as root (as CI does).
# Usage: check-package.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: check-package.sh BUILD_DIR}
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" package
fail() {
  echo "check-package: $*" >&2
  exit 1
}
[ "$(id -u)" -eq 0 ] || fail "run me as root: I install and purge the package"

version=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)
arch=$(dpkg-architecture -q DEB_HOST_ARCH)
out=$(cd "$build/package" && pwd) || fail "no $build/package: run 'make package' first"
deb=$out/dupfind_${version}_$arch.deb
changes=$out/dupfind_${version}_$arch.changes
if [ ! -f "$deb" ] || [ ! -f "$changes" ]; then fail "no $deb: run 'make package' first"; fi

# The .changes file names the source package and both binary packages.
lintian --fail-on error,warning "$changes" || fail "lintian reports errors or warnings"

status() { dpkg-query -W -f='${Status}' dupfind 2>/dev/null || true; }
apt=(env DEBIAN_FRONTEND=noninteractive apt-get -y -qq)
case "$(status)" in
  "" | *" not-installed") ;;
  *) "${apt[@]}" purge dupfind ;;  # left by an earlier run that stopped half way
esac

log=$(mktemp)
# A failed check does not leave the package installed.
trap 'rm -f "$log"; case "$(status)" in "install ok installed") "${apt[@]}" purge dupfind ;; esac' EXIT

# Every path the package holds, and those of them that were there before it
# (folders it shares with other packages), to compare with after the purge.
mapfile -t paths < <(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's|^\./|/|; s|/$||' | grep -v '^$')
declare -A before=()
for p in "${paths[@]}"; do
  if [ -e "$p" ] || [ -L "$p" ]; then before[$p]=1; fi
done

"${apt[@]}" install "$deb"
case "$(status)" in
  "install ok installed") ;;
  *) fail "apt did not install $deb (dpkg status '$(status)')" ;;
esac
id=org.example.dupfind
desktop-file-validate "/usr/share/applications/$id.desktop"
appstreamcli validate --no-net "/usr/share/metainfo/$id.metainfo.xml"

# The program reads no command line and has no way to quit on its own: it
# passes when it is still up after a few seconds, and is then ended.
code=0
QT_QPA_PLATFORM=offscreen timeout 5 /usr/bin/dupfind >"$log" 2>&1 || code=$?
if [ "$code" -ne 124 ]; then
  cat "$log" >&2
  fail "the installed program ended early (status $code)"
fi

"${apt[@]}" purge dupfind
case "$(status)" in
  "" | *" not-installed") ;;
  *) fail "dupfind is still known to dpkg after the purge (status '$(status)')" ;;
esac
left=()
for p in "${paths[@]}"; do
  if [ -z "${before[$p]:-}" ] && { [ -e "$p" ] || [ -L "$p" ]; }; then left+=("$p"); fi
done
[ ${#left[@]} -eq 0 ] || fail "left after the purge: ${left[*]}"

echo "check-package: $(basename "$deb") passes lintian, installs, starts, and purges without a trace"

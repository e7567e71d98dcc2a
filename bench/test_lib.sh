# shellcheck shell=bash
# Helpers of the tests of the bench scripts, sourced by them.

failures=0

# Exits 77 (skipped) unless every TOOL given is installed.
require() {
  local tool
  for tool; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
  done
}

# Makes the scratch folder $top, named after NAME, removed on exit.
scratch() {
  top=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
  trap 'rm -rf "$top"' EXIT
}

expect() {  # expect WHAT PATTERN FILE: FILE has a line matching PATTERN
  if grep -qE "$2" "$3"; then
    echo "ok: $1"
  else
    echo "FAILED: $1 (no line matching '$2')"
    failures=$((failures + 1))
  fi
}

# Ends the test: failed when any check failed.
finish() {
  [ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
}

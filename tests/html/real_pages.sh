#!/usr/bin/env bash
# Prints the paths of real HTML pages on this machine, one a line, for the
# differential corpus beside the generated one: the bundled sample site,
# HTML under /usr/share/doc, and the Rust documentation of every rustup
# toolchain when there is one. The two large trees are sampled: every Nth
# file in byte order, N chosen so that each gives at most LIMIT files
# (default 300), so the same machine always gives the same list.
#
#   tests/html/real_pages.sh [LIMIT]
set -euo pipefail
limit=${1:-300}
root=$(cd "$(dirname "$0")/../.." && pwd)

# Every Nth line of standard input, at most $limit lines, from the first.
sample() {
  local lines
  lines=$(LC_ALL=C sort)
  [ -n "$lines" ] || return 0
  local total step
  total=$(printf '%s\n' "$lines" | wc -l)
  step=$(( (total + limit - 1) / limit ))
  printf '%s\n' "$lines" | awk -v step="$step" '(NR - 1) % step == 0'
}

find "$root/examples/site" -type f -name '*.html' | LC_ALL=C sort
[ -d /usr/share/doc ] && find /usr/share/doc -type f \( -name '*.html' -o -name '*.htm' \) | sample
for docs in "$HOME"/.rustup/toolchains/*/share/doc/rust/html; do
  [ -d "$docs" ] && find "$docs" -type f -name '*.html'
done | sample

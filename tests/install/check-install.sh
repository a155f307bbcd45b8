#!/bin/sh
# Checks of what a user installs, run by CTest:
#   check-install.sh man MANPAGE FERRET           groff renders it without a warning;
#                                                 it describes every option of --help
#   check-install.sh install CMAKE BUILD VERSION  cmake --install into a temporary
#                                                 prefix; the installed ferret runs
#   check-install.sh deb CPACK BUILD VERSION      cpack -G DEB; the package holds
#                                                 the program and the man page
# Exits 77 when a tool a check needs is missing, 1 on any failure.
set -eu

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

need() {
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
  done
}

mode=$1
shift
tmp=$(mktemp -d "${TMPDIR:-/tmp}/ferret-install.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

case $mode in
  man)
    need groff
    page=$1 ferret=$2
    groff -wall -man -Tutf8 "$page" >"$tmp/out" 2>"$tmp/warnings" || fail "groff exited $?"
    if [ -s "$tmp/warnings" ]; then
      cat "$tmp/warnings" >&2
      fail "groff warns about $page"
    fi
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" FILES EXAMPLES; do
      grep -Eq "^\.SH \"?$section\"?\$" "$page" || fail "$page has no $section section"
    done
    # Every option that --help lists has its own paragraph under OPTIONS.
    "$ferret" --help | sed -n 's/^  -\([a-z]*\) .*/\1/p' >"$tmp/options"
    [ -s "$tmp/options" ] || fail "ferret --help lists no options"
    while read -r option; do
      grep -Eq "^\.BI? \\\\-$option( |\$)" "$page" || fail "$page does not describe -$option"
    done <"$tmp/options"
    ;;

  install)
    cmake=$1 build=$2 version=$3
    "$cmake" --install "$build" --prefix "$tmp/prefix" >"$tmp/log" 2>&1 ||
      { cat "$tmp/log" >&2; fail "cmake --install exited non-zero"; }
    [ -f "$tmp/prefix/share/man/man1/ferret.1" ] || fail "no share/man/man1/ferret.1 installed"
    [ -x "$tmp/prefix/bin/ferret" ] || fail "no executable bin/ferret installed"
    got=$(cd / && "$tmp/prefix/bin/ferret" --version) || fail "installed ferret --version failed"
    [ "$got" = "ferret $version" ] || fail "installed ferret --version printed '$got'"
    ;;

  deb)
    need dpkg-deb dpkg-shlibdeps file
    cpack=$1 build=$2 version=$3
    # Packaging happens in the temporary directory, never in the build tree.
    (cd "$tmp" && "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/out") \
      >"$tmp/log" 2>&1 || { cat "$tmp/log" >&2; fail "cpack exited non-zero"; }
    set -- "$tmp"/out/ferret_"$version"_*.deb
    [ -f "$1" ] || { ls -R "$tmp/out" >&2; fail "no ferret_${version}_*.deb made"; }
    deb=$1
    dpkg-deb -c "$deb" >"$tmp/contents"
    for path in ./usr/bin/ferret ./usr/share/man/man1/ferret.1; do
      grep -q " $path\$" "$tmp/contents" || { cat "$tmp/contents" >&2; fail "$path not in the package"; }
    done
    [ "$(dpkg-deb -f "$deb" Package)" = ferret ] || fail "package name is not ferret"
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"
    # The dependencies come from the libraries the binary links: libc at least.
    dpkg-deb -f "$deb" Depends | grep -q 'libc6' || fail "Depends lacks libc6"
    ;;

  *)
    fail "unknown check $mode"
    ;;
esac
echo "ok: $mode"

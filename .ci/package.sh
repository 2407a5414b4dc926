#!/usr/bin/env bash
# The packages: makes the .deb and the Windows zip with the README's commands, installs the
# .deb and tries the installed program (version, manual page, completion, stripped, one
# extraction the same as the build's), removes it again, and runs the zip's .exe under Wine.
# Runs after .ci/windows.sh, whose build of the .exe the zip reuses. Needs root (dpkg -i).
set -euo pipefail
cd "$(dirname "$0")/.."

bash .ci/install-missing dpkg-dev file unzip g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine wine64

echo "== packages: the .deb and the Windows zip (the README's commands)"
cmake --workflow --preset package
cmake --workflow --preset package-windows

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/package/CMakeCache.txt)
deb=build/packages/ofb2bmp_${version}_amd64.deb
zip=build/packages/ofb2bmp-${version}-win64.zip
scratch=$(mktemp -d)
installed=
WINEPREFIX=$scratch/wine
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  [ -z "$installed" ] || dpkg -r ofb2bmp >/dev/null
  [ ! -d "$WINEPREFIX" ] || wineserver -k 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

fail() {
  echo "package check failed: $*" >&2
  exit 1
}

# The same pictures from the installed program as from the build it was made from.
build/package/tools/sample_writer "$scratch/data" >/dev/null
build/package/ofb2bmp -q -o "$scratch/from-build" "$scratch/data/*"

echo "== .deb: install, try, remove"
if dpkg-query -W -f='${Status}' ofb2bmp 2>/dev/null | grep -q 'install ok installed'; then
  fail "ofb2bmp is installed already; remove it first (dpkg -r ofb2bmp)"
fi
dpkg -i "$deb" >/dev/null
installed=yes
[ "$(command -v ofb2bmp)" = /usr/bin/ofb2bmp ] || fail "ofb2bmp is not /usr/bin/ofb2bmp"
[ "$(ofb2bmp --version)" = "ofb2bmp $version" ] || fail "--version: $(ofb2bmp --version)"
file /usr/bin/ofb2bmp | grep -q ', stripped' || fail "not stripped: $(file /usr/bin/ofb2bmp)"
zcat /usr/share/man/man1/ofb2bmp.1.gz | head -n 1 | grep -qF "\"ofb2bmp $version\"" ||
  fail "the manual page's .TH line lacks the version"
cmp -s LICENSE /usr/share/doc/ofb2bmp/copyright || fail "no licence as the copyright file"
ofb2bmp -q -o "$scratch/installed" "$scratch/data/*"
diff -r "$scratch/from-build" "$scratch/installed" >/dev/null ||
  fail "the installed program's pictures differ from the build's"
[ "$(dpkg-deb -f "$deb" Recommends)" = bash-completion ] || fail "bash-completion not recommended"
# Without -o the installed copy saves where the user is, and says so; never into /usr/bin.
mkdir "$scratch/here"
(cd "$scratch/here" && ofb2bmp -q ../data/BFIL.OFB)
[ "$(ls "$scratch/here" | wc -l)" = 51 ] || fail "not 51 pictures in the current folder"
! ls /usr/bin | grep -q '^BFIL' || fail "pictures written into /usr/bin"
ofb2bmp --help | grep -qF 'current folder, as this copy is installed in /usr/bin/' ||
  fail "--help does not say the installed copy saves into the current folder"
# Installed under another prefix than the one configured, a copy saves beside itself.
cmake --install build/package --prefix "$scratch/elsewhere" >/dev/null
(cd "$scratch/here" && "$scratch/elsewhere/bin/ofb2bmp" -q ../data/BFIL.OFB)
[ "$(ls "$scratch/elsewhere/bin" | grep -c '^BFIL')" = 51 ] ||
  fail "a copy installed elsewhere than configured does not save beside itself"

# The completion offers every long option the help names, and the formats after -f.
completion=/usr/share/bash-completion/completions/ofb2bmp
offered=$(bash -c 'source "$1"; complete -p ofb2bmp >/dev/null || exit 1
  COMP_WORDS=(ofb2bmp --); COMP_CWORD=1; _ofb2bmp; echo "${COMPREPLY[*]}"
  COMP_WORDS=(ofb2bmp -f ""); COMP_CWORD=2; _ofb2bmp; echo "${COMPREPLY[*]}"' _ "$completion") ||
  fail "the completion does not register itself"
for option in $(ofb2bmp --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
  grep -qw -- "$option" <<<"$(head -n 1 <<<"$offered")" || fail "the completion lacks $option"
done
[ "$(tail -n 1 <<<"$offered")" = "bmp png" ] || fail "formats completed: $(tail -n 1 <<<"$offered")"

dpkg -r ofb2bmp >/dev/null
installed=
[ ! -e /usr/bin/ofb2bmp ] || fail "dpkg -r left /usr/bin/ofb2bmp"

echo "== Windows zip: unpack and run under Wine"
unzip -q "$zip" -d "$scratch/zip"
exe=$scratch/zip/ofb2bmp-${version}-win64/ofb2bmp.exe
for text in README.txt LICENSE.txt; do
  file "$(dirname "$exe")/$text" | grep -q 'CRLF' || fail "$text lacks CR LF line ends"
done
# Plain text, naming nothing the zip does not hold.
! grep -qE '\]\(|```' "$(dirname "$exe")/README.txt" || fail "README.txt is Markdown"
mkdir "$WINEPREFIX"
wineserver -p
env -u DISPLAY timeout 300 wine wineboot --init >/dev/null 2>&1
windows_version=$(env -u DISPLAY timeout 120 wine "$exe" --version)
[ "$windows_version" = "ofb2bmp $version"$'\r' ] || fail "Windows --version: $windows_version"
(cd "$scratch" && env -u DISPLAY timeout 300 wine "$exe" -q -o from-zip 'data\*')
diff -r "$scratch/from-build" "$scratch/from-zip" >/dev/null ||
  fail "the .exe's pictures differ from the Linux build's"
echo "packages fine: $deb, $zip"

#!/usr/bin/env bash
# Builds the two Debian packages from a build folder (ferrowipe-cli: the command without Qt;
# ferrowipe: the window, which depends on it), has Debian's own checkers judge them (lintian: no
# error and no warning; appstreamcli: the metainfo; hardening-check: every protection of
# Debian's build flags in both programs), installs both side by side into a scratch root and
# checks what a user gets: the files of each package, the desktop entry, the CLI from its
# installed path, the launcher.
# Usage: check_package.sh BUILD_DIR SOURCE_DIR PREFIX
set -euo pipefail
build=$1
source=$2
prefix=${3#/}  # the package installs under the build's prefix, /usr unless one was given
scratch=$(mktemp -d /tmp/ferrowipe-package.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1) || {
  cat "$scratch/cpack.log" >&2; fail "cpack"; }
deb=$(ls "$scratch"/out/ferrowipe_*.deb)
cli_deb=$(ls "$scratch"/out/ferrowipe-cli_*.deb)
echo "packages: $(basename "$cli_deb") $(basename "$deb")"

# Lintian's informational notes are left to the reader; anything worse fails.
for package in "$cli_deb" "$deb"; do
  lintian --fail-on error,warning --tag-display-limit 0 "$package" >"$scratch/lintian.log" 2>&1 || {
    cat "$scratch/lintian.log" >&2; fail "lintian $(basename "$package")"; }
  cat "$scratch/lintian.log"
done

depends=$(dpkg-deb -f "$deb" Depends)
echo "ferrowipe Depends: $depends"
version=$(dpkg-deb -f "$deb" Version)
for dep in libqt6widgets6 libqt6core6 fonts-arphic-uming qt6-translations-l10n \
           "ferrowipe-cli (= $version)"; do
  grep -qF "$dep" <<<"$depends" || fail "ferrowipe's Depends lacks $dep"
done
cli_depends=$(dpkg-deb -f "$cli_deb" Depends)
echo "ferrowipe-cli Depends: $cli_depends"
for dep in libmount1 libblkid1; do
  grep -q "$dep" <<<"$cli_depends" || fail "ferrowipe-cli's Depends lacks $dep"
done
grep -qi "qt\|fonts-" <<<"$cli_depends" && fail "ferrowipe-cli depends on the window's packages"
grep -qw "util-linux" <<<"$depends $cli_depends" && fail "Depends names util-linux, which is essential"

# Which package carries which file: the CLI's own files only in ferrowipe-cli.
contents() { dpkg-deb -c "$1" | awk '{print $6}' | sed 's|^\./||'; }
in_package() {  # package, files...
  local package=$1 listing
  shift
  listing=$(contents "$package")
  for f in "$@"; do
    grep -qxF "$prefix/$f" <<<"$listing" || fail "$(basename "$package") lacks /$prefix/$f"
  done
}
icons=share/icons/hicolor
in_package "$cli_deb" bin/ferrowipe-cli share/man/man1/ferrowipe-cli.1.gz \
  share/doc/ferrowipe-cli/copyright share/doc/ferrowipe-cli/changelog.gz
if [ -e "$source/packaging/bash-completion/ferrowipe-cli" ]; then
  in_package "$cli_deb" share/bash-completion/completions/ferrowipe-cli
fi
in_package "$deb" bin/ferrowipe libexec/ferrowipe/ferrowipe \
  share/applications/ferrowipe.desktop share/metainfo/org.example.ferrowipe.metainfo.xml \
  $icons/scalable/apps/ferrowipe.svg share/man/man1/ferrowipe.1.gz \
  share/doc/ferrowipe/copyright share/doc/ferrowipe/changelog.gz \
  share/polkit-1/actions/org.example.ferrowipe.policy
contents "$deb" | grep -q "ferrowipe-cli" && fail "ferrowipe carries a file of ferrowipe-cli"

# Both install side by side: dpkg itself, into a scratch root of its own (no maintainer
# scripts to run; the system's libraries are not registered there, hence --force-depends,
# yet ferrowipe's dependency on ferrowipe-cli must be met by the two packages alone).
root=$scratch/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
dpkg --root="$root" --log=/dev/null --force-depends --force-not-root \
  --install "$cli_deb" "$deb" >"$scratch/dpkg.log" 2>&1 || {
  cat "$scratch/dpkg.log" >&2; fail "the two packages do not install side by side"; }
grep -qi "depends on ferrowipe-cli" "$scratch/dpkg.log" \
  && fail "ferrowipe's dependency on ferrowipe-cli is not met: $(cat "$scratch/dpkg.log")"
for package in ferrowipe-cli ferrowipe; do
  dpkg-query --admindir="$root/var/lib/dpkg" -W -f='${Status}' "$package" | grep -q "install ok installed" \
    || fail "$package is not installed in the scratch root"
done

# The hardening of Debian's build flags, in both installed programs; the CLI without Qt.
# Debian 12's own start files (Scrt1.o, crti.o) carry no IBT/SHSTK property, so its linker marks
# no program as protected against control-flow hijacking (/usr/bin/ls neither). There the
# protection is looked for in the program's own code instead: compiled with -fcf-protection,
# every function begins with endbr64 (a program built without it has a handful, from libgcc).
cf_skip=()
if ! readelf -n "$(c++ -print-file-name=Scrt1.o)" 2>/dev/null | grep -q "x86 feature: IBT, SHSTK"; then
  cf_skip=(--nocfprotection)
fi
for program in bin/ferrowipe-cli libexec/ferrowipe/ferrowipe; do
  hardening-check "${cf_skip[@]}" "$root/$prefix/$program" >"$scratch/hardening.log" 2>&1 || {
    cat "$scratch/hardening.log" >&2; fail "hardening-check /$prefix/$program"; }
  grep -v "Control flow" "$scratch/hardening.log" | grep -q ": no" \
    && { cat "$scratch/hardening.log" >&2; fail "hardening /$prefix/$program"; }
  if [ ${#cf_skip[@]} -gt 0 ]; then
    branch_targets=$(objdump -d "$root/$prefix/$program" | grep -c endbr64 || true)
    [ "$branch_targets" -gt 100 ] \
      || fail "/$prefix/$program lacks control-flow protection ($branch_targets endbr64)"
  fi
done
readelf -d "$root/$prefix/bin/ferrowipe-cli" | grep NEEDED | grep -qi "qt" \
  && fail "ferrowipe-cli links Qt"
for size in 16 32 48 128 256; do
  png=$root/$prefix/$icons/${size}x${size}/apps/ferrowipe.png
  file "$png" | grep -q "PNG image data, $size x $size," || fail "icon $size: $(file "$png")"
done
grep -q "^ LICENSE AGREEMENT: TERMS AND CONDITIONS OF USE$" "$root/$prefix/share/doc/ferrowipe/copyright" \
  || fail "the copyright file lacks the terms of use"
grep -q "Name\[zh_TW\]=" "$root/$prefix/share/applications/ferrowipe.desktop" \
  || fail "the desktop entry has no Traditional Chinese name"
[ -x "$root/$prefix/bin/ferrowipe" ] || fail "the launcher is not executable"
grep -q "/$prefix/libexec/ferrowipe/ferrowipe" \
  "$root/$prefix/share/polkit-1/actions/org.example.ferrowipe.policy" \
  || fail "the polkit action does not name the installed program"

desktop-file-validate "$root/$prefix/share/applications/ferrowipe.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$root/$prefix/share/metainfo/org.example.ferrowipe.metainfo.xml" \
  || fail "appstream metainfo"
# The window program answers --help and --version without a display, through the launcher too.
"$root/$prefix/libexec/ferrowipe/ferrowipe" --version | grep -qx "Ferrowipe $version" \
  || fail "ferrowipe --version"
sed "s|^program=.*|program=\"$root/$prefix/libexec/ferrowipe/ferrowipe\"|" "$root/$prefix/bin/ferrowipe" \
  >"$scratch/launcher-here"
env -u DISPLAY -u WAYLAND_DISPLAY sh "$scratch/launcher-here" --help | grep -q "^Usage: ferrowipe" \
  || fail "the launcher's ferrowipe --help"
for page in ferrowipe.1 ferrowipe-cli.1; do
  warnings=$(zcat "$root/$prefix/share/man/man1/$page.gz" | groff -man -Tutf8 -ww 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man page $page: $warnings"
done

# The CLI runs from its installed path (on simulated disks: no real disk is read).
demo=$scratch/demo
bash "$source/scripts/make-demo-disks.sh" "$demo" >/dev/null
FERROWIPE_DISKS=$demo "$root/$prefix/bin/ferrowipe-cli" list >"$scratch/list.txt" \
  || fail "installed ferrowipe-cli list"
[ -s "$scratch/list.txt" ] || fail "installed ferrowipe-cli list printed nothing"

# The launcher, for a user who is not root: through pkexec with the installed program and only a
# first --debug passed on; without pkexec, the program itself, as the user.
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
  fake=$scratch/fakebin
  mkdir -p "$fake"
  printf '#!/bin/sh\necho "pkexec $*"\n' >"$fake/pkexec"
  printf '#!/bin/sh\necho "program $(id -u) $*"\n' >"$fake/program"
  chmod 755 "$fake" "$fake/pkexec" "$fake/program" "$scratch"
  launcher=$root/$prefix/bin/ferrowipe
  # The same launcher with the stand-in program in place of the installed one.
  sed "s|^program=.*|program=\"$fake/program\"|" "$launcher" >"$scratch/launcher"
  as_user() { setpriv --reuid=65534 --regid=65534 --clear-groups env "$@"; }
  launch() {  # expected output, the command; what the launcher says goes to $scratch/said
    local expected=$1 out
    shift
    out=$("$@" 2>"$scratch/said") || fail "launcher failed: $* ($(cat "$scratch/said"))"
    [ "$out" = "$expected" ] || fail "launcher $*: ran '$out'"
  }
  program=/$prefix/libexec/ferrowipe/ferrowipe
  launch "pkexec $program --debug" as_user PATH="$fake:/usr/bin:/bin" sh "$launcher" --debug
  [ ! -s "$scratch/said" ] || fail "launcher with --debug said: $(cat "$scratch/said")"
  launch "pkexec $program" as_user PATH="$fake:/usr/bin:/bin" sh "$launcher"
  launch "pkexec $program --DEBUG" as_user PATH="$fake:/usr/bin:/bin" sh "$launcher" \
    --DEBUG -platform evil
  grep -q "ignoring the arguments" "$scratch/said" || fail "launcher dropped arguments silently"
  launch "pkexec $program" as_user PATH="$fake:/usr/bin:/bin" sh "$launcher" \
    -platformpluginpath "$fake" -platform evil --debug
  grep -q "ignoring the arguments" "$scratch/said" || fail "launcher dropped arguments silently"
  launch "program 0 --debug" sh "$scratch/launcher" --debug -reverse
  bare=$scratch/barebin  # the launcher's own tools, and no pkexec
  mkdir -p "$bare"
  ln -s "$(command -v id)" "$bare/id"
  chmod 755 "$bare"
  launch "program 65534 --debug" as_user PATH="$bare" /bin/sh "$scratch/launcher" --debug
  grep -q "pkexec is not installed" "$scratch/said" || fail "launcher message: $(cat "$scratch/said")"
else
  echo "SKIP: launcher check needs root and setpriv"
fi
echo "package checks passed"

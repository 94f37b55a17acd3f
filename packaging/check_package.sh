#!/usr/bin/env bash
# Proves a built package: its contents, then its unpacked programs at work.
#   packaging/check_package.sh build-package/ku-utility_<version>_<arch>.deb
# The package is unpacked with dpkg -x into a scratch root (nothing is installed).
# The unpacked ku-sim serves the line through a com1 link in a scratch
# $XDG_CONFIG_HOME/ku-utility/ beside a comms.ini naming port 1; the unpacked
# kuctl must find both there (its own folder holds neither) and the database
# through <its folder>/../share/ku-utility/ (XDG_DATA_DIRS points nowhere), and
# read the unit back exactly as the snapshot in tests/golden/expected shows.
set -uo pipefail
cd "$(dirname "$0")/.."
deb=${1:?usage: packaging/check_package.sh PACKAGE.deb}
deb=$(realpath "$deb")

passed=0 failed=0
pass() { passed=$((passed + 1)); echo "ok: $*"; }
fail() { failed=$((failed + 1)); echo "FAILED: $*"; }
check() {  # description, command...
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}

work=$(mktemp -d)
work=$(realpath "$work")
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill -TERM "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

version=$(dpkg-deb -f "$deb" Version)
arch=$(dpkg-deb -f "$deb" Architecture)
check "file name is ku-utility_${version}_${arch}.deb" \
  test "$(basename "$deb")" = "ku-utility_${version}_${arch}.deb"
check "dependencies computed from the binaries (libc6, Qt, mdbtools)" \
  bash -c '[[ "$1" == *libc6* && "$1" == *libqt6serialport6* && "$1" == *libmdbsql3* ]]' _ \
  "$(dpkg-deb -f "$deb" Depends)"

dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$work/listing"
missing=""
for f in /usr/bin/kuutil /usr/bin/kuctl /usr/bin/ku-sim /usr/share/ku-utility/TKUUtil.mdb \
  /usr/share/applications/ku-utility.desktop \
  /usr/share/icons/hicolor/scalable/apps/ku-utility.svg \
  /usr/share/icons/hicolor/48x48/apps/ku-utility.png \
  /usr/share/icons/hicolor/128x128/apps/ku-utility.png \
  /usr/share/man/man1/kuutil.1.gz /usr/share/man/man1/kuctl.1.gz /usr/share/man/man1/ku-sim.1.gz \
  /usr/share/doc/ku-utility/copyright /usr/share/doc/ku-utility/changelog.gz \
  /usr/share/doc/ku-utility/README.md /usr/share/doc/ku-utility/operators-guide.md; do
  grep -qx "$f" "$work/listing" || missing="$missing $f"
done
check "package holds every file it should${missing:+ (missing:$missing)}" test -z "$missing"

root="$work/root"
dpkg -x "$deb" "$root"
bin="$root/usr/bin"
unstripped=$(file "$bin"/kuutil "$bin"/kuctl "$bin"/ku-sim | grep -v ', stripped$' || true)
check "programs are stripped${unstripped:+: $unstripped}" test -z "$unstripped"
png_sizes=$(file "$root"/usr/share/icons/hicolor/{48x48,128x128}/apps/ku-utility.png)
check "icons are 48 and 128 px PNGs" \
  bash -c '[[ "$1" == *"48 x 48"* && "$1" == *"128 x 128"* ]]' _ "$png_sizes"

check "manual pages describe what --help says" packaging/check_manuals.sh "$bin" "$root/usr/share/man/man1"
check "kuctl --version names the package version $version" \
  bash -c '"$1" --version 2>&1 | grep -qF -- "$2"' _ "$bin/kuctl" "$version"

# A user's folders in the scratch space only; the database is not in $XDG_DATA_DIRS.
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state"
export XDG_DATA_DIRS="$work/no-data"
settings="$XDG_CONFIG_HOME/ku-utility"
mkdir -p "$HOME" "$settings"
printf '"Port",1\r\n' >"$settings/comms.ini"
"$bin/ku-sim" --link "$settings/com1" --log "$work/sim.log" >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [ -e "$settings/com1" ] && break; sleep 0.05; done

"$bin/kuctl" read >"$work/read.out" 2>"$work/read.err"
status=$?
check "unpacked kuctl read exits 0 (exit $status; stderr: $(head -c 300 "$work/read.err"))" \
  test "$status" = 0
check "row 4 shows 799 and 50 kHz (database found through ../share)" \
  grep -Eq '^4 +Test Frequency +799 +50 +kHz' "$work/read.out"
check "row 3 shows HF, OFF and Test Signal from the database" \
  grep -Eq '^3 +RFCONT Byte +2 +HF +OFF +Test Signal' "$work/read.out"
check "kuctl read prints what the snapshot shows" \
  diff -u tests/golden/expected/read.out "$work/read.out"

"$bin/kuctl" info >"$work/info.out" 2>&1
status=$?
sed 's/^/  | /' "$work/info.out"
check "kuctl info exits 0 (exit $status)" test "$status" = 0
check "kuctl info names the settings file $settings/comms.ini" \
  grep -qF "$settings/comms.ini" "$work/info.out"
check "kuctl info names the device $settings/com1" grep -qF "$settings/com1" "$work/info.out"
check "kuctl info names the database under the unpacked share folder" \
  grep -Eq "$root/usr/(bin/\.\./)?share/ku-utility/TKUUtil\.mdb" "$work/info.out"

kill -TERM "$sim_pid" 2>/dev/null
wait "$sim_pid" 2>/dev/null
sim_pid=""
cut -f2- "$work/sim.log" >"$work/read.bytes" 2>/dev/null
check "the unit received the read-back's bytes and the close byte" \
  diff -u tests/golden/expected/read.bytes "$work/read.bytes"

# The windows start and wait at the welcome window.
QT_QPA_PLATFORM=offscreen "$bin/kuutil" >"$work/kuutil.out" 2>&1 &
ui_pid=$!
sleep 3
if kill -0 "$ui_pid" 2>/dev/null; then
  kill -TERM "$ui_pid"
  wait "$ui_pid" 2>/dev/null
  pass "unpacked kuutil starts and waits at its welcome window"
else
  wait "$ui_pid"
  fail "unpacked kuutil ended on its own (exit $?): $(head -c 300 "$work/kuutil.out")"
fi

echo "package: $passed passed, $failed failed"
[ "$failed" = 0 ]

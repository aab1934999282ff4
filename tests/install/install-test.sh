#!/usr/bin/env bash
# The installed tree as users and consumers of the library get it:
#  - `cmake --install` into a temporary prefix; the desktop entry and the
#    metainfo pass their validators; every public header compiles on its own;
#  - the example builds against the installed package alone, with
#    find_package(Nimbra) and with a pkg-config compile line;
#  - the built example and the installed mensajes, started by absolute path from
#    another folder with no way back to the source tree, each ask the installed
#    nimbra-adserver for an ad and are still running when checked;
#  - the .deb holds the application, its desktop files and the library.
# Everything started here is stopped, and the prefix removed, on any exit.
#
# Usage (under scripts/with-test-env, which gives a display and a private
# HOME): install-test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
work=$(mktemp -d /tmp/nimbra-install-test.XXXXXX)
prefix="$work/prefix"
# Marks every process this test starts, and their children, so the clean-up
# can tell whether any of them outlived the test.
tag="NIMBRA_INSTALL_TEST=$work"
pids=()

step() { printf '== %s\n' "$*"; }
fail() {
  printf 'FAIL: %s\n' "$*" >&2
  exit 1
}

# Processes that carry the tag in their environment.
tagged() {
  grep -lzxF "$tag" /proc/[0-9]*/environ 2>/dev/null | sed 's|^/proc/\([0-9]*\)/environ$|\1|' || true
}

# SIGTERM to each process started here, then waits for all of them and their
# children to end; what is still there after 10 s is killed and reported.
stop_all() {
  local pid left=""
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  pids=()
  for _ in $(seq 100); do
    left=$(tagged)
    [ -z "$left" ] && return 0
    sleep 0.1
  done
  for pid in $left; do
    printf 'left running: %s %s\n' "$pid" "$(tr '\0' ' ' </proc/"$pid"/cmdline 2>/dev/null)" >&2
    kill -KILL "$pid" 2>/dev/null || true
  done
  return 1
}

cleanup() {
  local status=$?
  stop_all || status=1
  rm -rf "$work"
  exit $status
}
trap cleanup EXIT

# Starts a program in the background with the tag; its pid goes to `pids`
# and to $started.
start() {
  local log=$1
  shift
  env "$tag" "$@" >"$log" 2>&1 &
  started=$!
  pids+=("$started")
}

step "install into $prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/mensajes bin/nimbra-adserver share/mensajes/MainWindow.json \
         share/applications/org.nimbra.Mensajes.desktop \
         share/metainfo/org.nimbra.Mensajes.metainfo.xml \
         share/icons/hicolor/scalable/apps/org.nimbra.Mensajes.svg \
         share/locale/es/LC_MESSAGES/nimbra.mo share/locale/en/LC_MESSAGES/nimbra.mo \
         lib/libnimbra.so lib/pkgconfig/nimbra.pc lib/cmake/Nimbra/NimbraConfig.cmake; do
  [ -e "$prefix/$f" ] || fail "not installed: $f"
done
[ -e "$prefix/share/mensajes/make-icons.py" ] && fail "the icon script was installed"
readelf -d "$prefix/lib/libnimbra.so" | grep -q 'SONAME.*libnimbra\.so\.[0-9]' || fail "libnimbra has no SONAME"

step "desktop entry and metainfo"
desktop-file-validate "$prefix/share/applications/org.nimbra.Mensajes.desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/org.nimbra.Mensajes.metainfo.xml"

step "public headers compile on their own"
includes="$prefix/include/nimbra"
if grep -rEn '#include *<(gtk|gdk|glib|gio|webkit|libsoup|jsc)/' "$includes"; then
  fail "a public header includes a toolkit header"
fi
while IFS= read -r header; do
  printf '#include "%s"\n' "${header#"$includes"/}" |
    g++ -std=c++20 -Wall -Wextra -Werror -fsyntax-only -x c++ -I"$includes" - ||
    fail "${header#"$includes"/} does not compile on its own"
done < <(find "$includes" -name '*.h' | sort)

step "example against the CMake package"
cp -r "$source/examples/banner-window" "$work/example"
cmake -S "$work/example" -B "$work/example-build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/example-build" -j2 >/dev/null
example="$work/example-build/banner-window"
[ -x "$example" ] || fail "the example was not built"

step "example with pkg-config"
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
# shellcheck disable=SC2046  # the flags are meant to split
g++ -std=c++20 -Wall -Wextra -Wpedantic -Werror "$work/example/main.cpp" -o "$work/banner-window-pc" $(pkg-config --cflags --libs nimbra)
unset PKG_CONFIG_PATH

step "the installed programs against the installed ad server"
# Nowhere near the source or build trees, no override of the resources, and
# the web engine's sandbox as users get it.
unset NIMBRA_RESOURCES_DIR MENSAJES_RESOURCES_DIR WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS
mkdir "$work/elsewhere"
cd "$work/elsewhere"
start "$work/adserver.log" "$prefix/bin/nimbra-adserver" --port 0 --exit-after 120
server_pid=$started
port=""
for _ in $(seq 100); do
  port=$(sed -n 's|^nimbra-adserver listening on http://127\.0\.0\.1:\([0-9]*\)$|\1|p' "$work/adserver.log")
  [ -n "$port" ] && break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.1
done
[ -n "$port" ] || fail "nimbra-adserver did not start: $(cat "$work/adserver.log")"
server="http://127.0.0.1:$port"
export NIMBRA_STATIC_SERVER="$server" NIMBRA_AD_SERVER="$server/"
# The remote tabs load the server's index instead of pages on the network.
export MENSAJES_FIRST_PAGE="$server/" MENSAJES_THIRD_PAGE="$server/"

start "$work/example.log" "$example"
example_pid=$started
start "$work/mensajes.log" "$prefix/bin/mensajes"
mensajes_pid=$started

# Each program sends its own ad unit: the example's and Mensajes'.
example_unit=0e1d2c3b4a59687
mensajes_unit=a14c9e0d27f3b85
asked() { grep -Eq "\"slotname\": *\"$1\"" "$work/status.json"; }
seen=""
for _ in $(seq 120); do
  curl -sf "$server/status" -o "$work/status.json" || true
  if [ -s "$work/status.json" ] && asked "$example_unit" && asked "$mensajes_unit"; then
    seen=yes
    break
  fi
  kill -0 "$example_pid" 2>/dev/null && kill -0 "$mensajes_pid" 2>/dev/null || break
  sleep 0.5
done
report() {
  printf -- '-- %s\n' "$1"
  cat "$2" 2>/dev/null || true
  echo
}
if [ -z "$seen" ]; then
  report example "$work/example.log"
  report mensajes "$work/mensajes.log"
  report status "$work/status.json"
  fail "no ad request from both programs"
fi
kill -0 "$example_pid" 2>/dev/null || fail "the example stopped: $(cat "$work/example.log")"
kill -0 "$mensajes_pid" 2>/dev/null || fail "mensajes stopped: $(cat "$work/mensajes.log")"
sandboxed=""
for pid in $(tagged); do
  if [[ $(tr '\0' ' ' 2>/dev/null </proc/"$pid"/cmdline) == *bwrap*WebKitWebProcess* ]]; then sandboxed=yes; fi
done
[ -n "$sandboxed" ] || fail "no web process runs in the bubblewrap sandbox"
echo "ad requests from the example (unit $example_unit) and mensajes (unit $mensajes_unit)"
cd /
stop_all || fail "processes outlived the test"

step "Debian package"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >/dev/null
deb=$(find "$work/deb" -maxdepth 1 -name '*.deb' | head -n 1)
[ -n "$deb" ] || fail "cpack made no .deb"
dpkg-deb --contents "$deb" >"$work/deb-contents"
for f in ./usr/bin/mensajes ./usr/bin/nimbra-adserver ./usr/share/applications/org.nimbra.Mensajes.desktop \
         ./usr/share/metainfo/org.nimbra.Mensajes.metainfo.xml ./usr/share/mensajes/MainWindow.json \
         ./usr/include/nimbra/View/ZELBannerView.h; do
  grep -qE " $f( |$)" "$work/deb-contents" || fail "the package lacks $f"
done
grep -qE ' \./usr/lib/.*libnimbra\.so\.[0-9.]+$' "$work/deb-contents" || fail "the package lacks libnimbra"
depends=$(dpkg-deb --field "$deb" Depends)
for d in libgtk-4 libwebkitgtk-6.0 bubblewrap; do
  [[ $depends == *"$d"* ]] || fail "the package does not depend on $d: $depends"
done
echo "$(basename "$deb"): $(wc -l <"$work/deb-contents") entries"

#!/usr/bin/env bash
# The demo of `make demo`: starts a local Orthanc as the console's default
# peer (AE title NORVANEX on port 3100, worklists and a few sample studies),
# then runs the console against it: the window when a display is there,
# otherwise the command line's worklist and study queries. The node stops and
# its temporary folder goes when the demo ends, however it ends.
#
# Environment: LUMO_BUILD_DIR (default build/default), LUMO_DEMO_KEEP=1 keeps
# the temporary folder, LUMO_DEMO_CLI=1 runs the command line even with a
# display.
set -euo pipefail

src=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${LUMO_BUILD_DIR:-$src/build/default}
gui=$build/app/gui/lumo4410
cli=$build/app/cli/lumo4410-cli
plugin=/usr/share/orthanc/plugins/libModalityWorklists.so
aet=NORVANEX
port=3100
loader=LUMODEMO

say() { printf 'demo: %s\n' "$*"; }
die() { printf 'demo: %s\n' "$*" >&2; exit 1; }

for tool in Orthanc dump2dcm storescu echoscu; do
  command -v "$tool" >/dev/null || die "$tool is missing; run scripts/install-deps.sh"
done
[[ -f $plugin ]] || die "the Orthanc worklist plugin $plugin is missing (package orthanc)"

port_busy() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

if port_busy $port; then
  die "port $port is already in use on this machine (another demo node, or a DICOM service); stop it and run again"
fi

work=$(mktemp -d /tmp/lumo4410-demo.XXXXXX)
orthanc_pid=
cleanup() {
  local status=$?
  if [[ -n $orthanc_pid ]] && kill -0 "$orthanc_pid" 2>/dev/null; then
    say "stopping the demo node"
    kill -TERM "$orthanc_pid" 2>/dev/null || true
    for _ in $(seq 50); do
      kill -0 "$orthanc_pid" 2>/dev/null || break
      sleep 0.2
    done
    kill -KILL "$orthanc_pid" 2>/dev/null || true
    wait "$orthanc_pid" 2>/dev/null || true
  fi
  if [[ ${LUMO_DEMO_KEEP:-0} == 1 ]]; then
    say "kept $work"
  else
    rm -rf "$work"
  fi
  exit $status
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

bash "$src/demo/make-demo-data.sh" "$work"

http_port=
for p in $(seq 8142 8199); do
  if ! port_busy "$p"; then
    http_port=$p
    break
  fi
done
[[ -n $http_port ]] || die "no free HTTP port between 8142 and 8199"

sed -e "s|@WORK@|$work|g" -e "s|@PLUGIN@|$plugin|g" -e "s|@HTTP_PORT@|$http_port|g" \
  "$src/demo/orthanc.json.in" >"$work/orthanc.json"

say "starting Orthanc as $aet on 127.0.0.1:$port (log: $work/orthanc.log)"
Orthanc "$work/orthanc.json" >"$work/orthanc.log" 2>&1 &
orthanc_pid=$!

ready=0
for _ in $(seq 120); do
  if ! kill -0 "$orthanc_pid" 2>/dev/null; then
    tail -n 30 "$work/orthanc.log" >&2 || true
    orthanc_pid=
    die "Orthanc stopped during start-up (its log is above)"
  fi
  if echoscu -q -to 2 -aet $loader -aec $aet 127.0.0.1 $port 2>/dev/null; then
    ready=1
    break
  fi
  sleep 0.5
done
if [[ $ready != 1 ]]; then
  tail -n 30 "$work/orthanc.log" >&2 || true
  die "Orthanc did not answer a DICOM echo on port $port within a minute"
fi

say "loading the sample studies"
storescu -q -aet $loader -aec $aet 127.0.0.1 $port "$work"/studies/*.dcm ||
  die "storing the sample studies into the node failed (log: $work/orthanc.log)"
say "node ready: $(ls "$work/worklists" | wc -l) worklist items," \
  "$(ls "$work/studies" | wc -l) images; browse http://127.0.0.1:$http_port/app/explorer.html"

# The console runs in the demo folder (its Logs folder and exported results
# land there) with settings of its own, so the stored settings of a real
# installation neither shadow the defaults nor get overwritten.
export XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_CONFIG_HOME"
cd "$work"

if [[ ${LUMO_DEMO_CLI:-0} != 1 && ( -n ${DISPLAY:-} || -n ${WAYLAND_DISPLAY:-} ) ]]; then
  [[ -x $gui ]] || die "$gui is not built; run make build"
  say "opening the console; the node stops when its window is closed"
  "$gui"
else
  [[ -x $cli ]] || die "$cli is not built; run make build"
  status=0
  say "no display: the command line's worklist query (today's scheduled items)"
  "$cli" worklist || status=1
  say "the command line's study query (today's studies)"
  "$cli" study || status=1
  [[ $status == 0 ]] || die "a query of the demo failed"
fi

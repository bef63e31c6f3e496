#!/usr/bin/env bash
# The demo of `make demo`: starts a local Orthanc as the console's default
# peer (AE title NORVANEX on port 3100, worklists and a few sample studies)
# and a second one with the same content serving DICOM over TLS on port
# 3101 (its certificate made by openssl at start), then runs the console
# against them: the window when a display is there, otherwise the command
# line's worklist and study queries, a study query over TLS, and the same
# study query over DICOMweb (QIDO-RS) next to C-FIND,
# and a study retrieved by C-MOVE (to the console's receiver, port 11113)
# and by C-GET. The nodes
# stop and their temporary folder goes when the demo ends, however it ends.
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
web_plugin=/usr/share/orthanc/plugins/libOrthancDicomWeb.so
aet=NORVANEX
port=3100
tls_port=3101
store_port=11113
loader=LUMODEMO
# As make-demo-data.sh makes them: the CT study of DURAND^Marie and the MR
# study of LEFÈVRE^Hélène.
root=2.25.58722118546115469654206030654912395254
ct_study=$root.2.201
mr_study=$root.2.203

say() { printf 'demo: %s\n' "$*"; }
die() { printf 'demo: %s\n' "$*" >&2; exit 1; }

for tool in Orthanc dump2dcm storescu echoscu openssl; do
  command -v "$tool" >/dev/null || die "$tool is missing; run scripts/install-deps.sh"
done
[[ -f $plugin ]] || die "the Orthanc worklist plugin $plugin is missing (package orthanc)"
[[ -f $web_plugin ]] ||
  die "the Orthanc DICOMweb plugin $web_plugin is missing (package orthanc-dicomweb)"

port_busy() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

for p in $port $tls_port $store_port; do
  if port_busy $p; then
    die "port $p is already in use on this machine (another demo node, or a DICOM service); stop it and run again"
  fi
done

work=$(mktemp -d /tmp/lumo4410-demo.XXXXXX)
pids=()
stop_node() {
  local pid=$1
  kill -0 "$pid" 2>/dev/null || return 0
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}
cleanup() {
  local status=$?
  if [[ ${#pids[@]} -gt 0 ]]; then
    say "stopping the demo nodes"
    for pid in "${pids[@]}"; do stop_node "$pid"; done
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

# The TLS node's certificate, for 127.0.0.1 and localhost; the console
# trusts it as it is (--tls-ca), as a site trusts its own PACS.
mkdir -p "$work/tls"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Lumo4410 demo node" \
  -addext "subjectAltName=IP:127.0.0.1,DNS:localhost" \
  -keyout "$work/tls/node.key" -out "$work/tls/node.pem" 2>"$work/tls/openssl.log" ||
  die "openssl could not make the demo certificate (log: $work/tls/openssl.log)"

# start_node NAME PORT TLS(true|false) HTTP(true|false): one Orthanc of the
# demo, from the one template, with its own storage.
start_node() {
  local name=$1 dicom_port=$2 tls=$3 http=$4
  local plugins="\"$plugin\""
  [[ $http == true ]] && plugins="$plugins, \"$web_plugin\""
  sed -e "s|@WORK@|$work|g" -e "s|@PLUGINS@|$plugins|g" -e "s|@HTTP_PORT@|$http_port|g" \
    -e "s|@STORAGE@|$work/storage-$name|g" -e "s|@DICOM_PORT@|$dicom_port|g" \
    -e "s|@TLS_ENABLED@|$tls|g" -e "s|@HTTP_ENABLED@|$http|g" \
    "$src/demo/orthanc.json.in" >"$work/orthanc-$name.json"
  Orthanc "$work/orthanc-$name.json" >"$work/orthanc-$name.log" 2>&1 &
  pids+=($!)
}

# wait_node NAME PORT ECHO-OPTIONS...: until the node answers a DICOM echo.
wait_node() {
  local name=$1 dicom_port=$2
  shift 2
  local pid=${pids[-1]}
  for _ in $(seq 120); do
    if ! kill -0 "$pid" 2>/dev/null; then
      tail -n 30 "$work/orthanc-$name.log" >&2 || true
      die "Orthanc ($name) stopped during start-up (its log is above)"
    fi
    if echoscu -q -to 2 "$@" -aet $loader -aec $aet 127.0.0.1 "$dicom_port" 2>/dev/null; then
      return 0
    fi
    sleep 0.5
  done
  tail -n 30 "$work/orthanc-$name.log" >&2 || true
  die "Orthanc ($name) did not answer a DICOM echo on port $dicom_port within a minute"
}

tls_client=(+tla +cf "$work/tls/node.pem")

say "starting Orthanc as $aet on 127.0.0.1:$port (log: $work/orthanc-plain.log)"
start_node plain $port false true
wait_node plain $port
say "starting Orthanc as $aet with DICOM over TLS on 127.0.0.1:$tls_port" \
  "(log: $work/orthanc-tls.log)"
start_node tls $tls_port true false
wait_node tls $tls_port "${tls_client[@]}"

say "loading the sample studies"
storescu -q -aet $loader -aec $aet 127.0.0.1 $port "$work"/studies/*.dcm ||
  die "storing the sample studies into the node failed (log: $work/orthanc-plain.log)"
storescu -q "${tls_client[@]}" -aet $loader -aec $aet 127.0.0.1 $tls_port "$work"/studies/*.dcm ||
  die "storing the sample studies into the TLS node failed (log: $work/orthanc-tls.log)"
say "nodes ready: $(ls "$work/worklists" | wc -l) worklist items," \
  "$(ls "$work/studies" | wc -l) images; browse http://127.0.0.1:$http_port/app/explorer.html"
say "DICOM over TLS: lumo4410-cli study --port $tls_port --tls --tls-ca $work/tls/node.pem"
dicomweb=http://127.0.0.1:$http_port/dicom-web
say "DICOMweb (QIDO-RS): lumo4410-cli study --dicomweb $dicomweb"

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
  say "the same study query over DICOM over TLS, port $tls_port"
  "$cli" study --port $tls_port --tls --tls-ca "$work/tls/node.pem" || status=1
  say "retrieving DURAND^Marie's CT study by C-MOVE to the console's receiver (port $store_port)," \
    "counted first by a C-FIND"
  "$cli" move study --study-uid "$ct_study" --verify || status=1
  say "retrieving LEFÈVRE^Hélène's MR study by C-GET, kept in $work/retrieved"
  "$cli" get study --study-uid "$mr_study" --verify --store-dir "$work/retrieved" || status=1
    say "the same study query over DICOMweb (QIDO-RS, $dicomweb), next to C-FIND"
  "$cli" study --dicomweb "$dicomweb" --verbose >"$work/study-qido.txt" || status=1
  "$cli" study >"$work/study-cfind.txt" || status=1
  paste -d '|' "$work/study-cfind.txt" "$work/study-qido.txt" |
    awk -F'|' '{ printf "%-60s | %s\n", $1, $2 }'
  say "the two compared answer by answer (series level; exit 0: no difference)"
  "$cli" compare series --dicomweb2 "$dicomweb" || status=1
  [[ $status == 0 ]] || die "a query or a retrieval of the demo failed"
fi

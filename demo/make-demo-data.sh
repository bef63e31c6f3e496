#!/usr/bin/env bash
# Makes the demo node's data in the folder given as the only argument:
#   <out>/worklists/*.wl  the worklist items of demo/worklists/*.dump
#   <out>/studies/*.dcm   a few small studies (several patients, CT/MR/US,
#                         several series), to be stored into the node
# Everything is written as dump text and turned into DICOM by dcmtk's dump2dcm;
# nothing is downloaded. Dates are relative to today so that the console's
# default date field (today) finds most of the data and skips the rest.
set -euo pipefail

out=${1:?usage: make-demo-data.sh <output folder>}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# A fixed UID root, so that a second run makes the same objects.
root=2.25.58722118546115469654206030654912395254
today=$(date +%Y%m%d)
tomorrow=$(date -d tomorrow +%Y%m%d)
lastweek=$(date -d '7 days ago' +%Y%m%d)

mkdir -p "$out/worklists" "$out/studies" "$out/dumps"

for tmpl in "$here"/worklists/*.dump; do
  name=$(basename "$tmpl" .dump)
  sed -e "s/@ROOT@/$root/g" -e "s/@DATE@/$today/g" -e "s/@TOMORROW@/$tomorrow/g" \
    "$tmpl" >"$out/dumps/$name.dump"
  dump2dcm -q "$out/dumps/$name.dump" "$out/worklists/$name.wl"
done

sop_class() {
  case $1 in
    CT) echo 1.2.840.10008.5.1.4.1.1.2 ;;
    MR) echo 1.2.840.10008.5.1.4.1.1.4 ;;
    US) echo 1.2.840.10008.5.1.4.1.1.6.1 ;;
    *) echo "make-demo-data: no SOP class for modality $1" >&2; return 1 ;;
  esac
}

# study <patient id> <name> <birth> <sex> <accession> <study no> <date> <time>
#       <modality> <description> <referring> <series>...
# where each series is "number:description:image count". Images are 2 x 2
# pixels: enough for a node to index them, small enough to make in a blink.
study() {
  local pid=$1 pname=$2 birth=$3 sex=$4 acc=$5 sno=$6 sdate=$7 stime=$8
  local mod=$9 sdesc=${10} ref=${11}
  shift 11
  local cuid
  cuid=$(sop_class "$mod")
  local suid=$root.2.$sno
  local series num desc count i file
  for series in "$@"; do
    IFS=: read -r num desc count <<<"$series"
    for ((i = 1; i <= count; i++)); do
      file=$out/dumps/st$sno-se$num-im$i.dump
      cat >"$file" <<EOF
(0008,0005) CS [ISO_IR 192]
(0008,0008) CS [ORIGINAL\PRIMARY\AXIAL]
(0008,0016) UI [$cuid]
(0008,0018) UI [$suid.$num.$i]
(0008,0020) DA [$sdate]
(0008,0021) DA [$sdate]
(0008,0030) TM [$stime]
(0008,0031) TM [$stime]
(0008,0050) SH [$acc]
(0008,0060) CS [$mod]
(0008,0070) LO [Lumo4410 demo]
(0008,0080) LO [Centre Hospitalier de Démonstration]
(0008,0090) PN [$ref]
(0008,1030) LO [$sdesc]
(0008,103e) LO [$desc]
(0010,0010) PN [$pname]
(0010,0020) LO [$pid]
(0010,0030) DA [$birth]
(0010,0040) CS [$sex]
(0020,000d) UI [$suid]
(0020,000e) UI [$suid.$num]
(0020,0010) SH [$sno]
(0020,0011) IS [$num]
(0020,0013) IS [$i]
(0028,0002) US 1
(0028,0004) CS [MONOCHROME2]
(0028,0010) US 2
(0028,0011) US 2
(0028,0100) US 16
(0028,0101) US 12
(0028,0102) US 11
(0028,0103) US 0
(7fe0,0010) OW 0000\0400\0800\0c00
EOF
      dump2dcm -q "$file" "$out/studies/st$sno-se$num-im$i.dcm"
    done
  done
}

study DEMO001 'DURAND^Marie' 19650312 F DEMO-S201 201 "$today" 091200 CT \
  'Scanner thoracique' 'GIRARD^Anne^^Dr' '1:Thorax parenchyme:3' '2:Thorax médiastin:2'
study DEMO001 'DURAND^Marie' 19650312 F DEMO-S202 202 "$lastweek" 154500 MR \
  'IRM cérébrale' 'MOREAU^Luc^^Dr' '1:T1 axial:2' '2:T2 FLAIR:2' '3:Diffusion:1'
study DEMO002 'LEFÈVRE^Hélène' 19781124 F DEMO-S203 203 "$today" 102000 MR \
  'IRM du genou droit' 'MOREAU^Luc^^Dr' '1:DP sagittal:2' '2:T1 coronal:2'
study DEMO003 'MARTIN^Paul' 19520704 M DEMO-S204 204 "$today" 141500 US \
  'Échographie abdominale' 'GIRARD^Anne^^Dr' '1:Foie:2' '2:Reins:2'
study DEMO005 "O'BRIEN^Sean" 19991001 M DEMO-S205 205 "$lastweek" 080000 CT \
  'Scanner du poignet' 'GIRARD^Anne^^Dr' '1:Os:2'

echo "make-demo-data: $(ls "$out/worklists" | wc -l) worklist items and" \
  "$(ls "$out/studies" | wc -l) images in $out"

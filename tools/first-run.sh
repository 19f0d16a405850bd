#!/usr/bin/env bash
# make run: open the desktop program with the sample floor plan in the
# image field and out/ as the output folder, so that one click of
# "トレース実行" traces it. Without a display, trace the sample from the
# command line instead.
set -eu
build=${1:-build}
mkdir -p out
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): tracing the sample with vemo-trace instead."
  "$build/vemo-trace" --txt --dxf --a10 -o out samples/plan.bmp
  echo
  echo "Written to out/:"
  ls -l out/plan.txt out/plan.dxf out/plan.A10
  echo
  echo "First lines of out/plan.txt:"
  head -n 5 out/plan.txt
  exit 0
fi
# A first start (no image remembered yet) begins with the sample.
settings="$build/Vemosys/Vemo.sys"
sed -i -e "s|^DEFDATA=\r\?$|DEFDATA=$PWD/samples/plan.bmp|" -e "s|^DEFFLD=\r\?$|DEFFLD=$PWD/out|" "$settings"
exec "$build/vemo"

#!/usr/bin/env bash
# The main job: pack a sample firmware image, put it on a sample card and run a whole update on the
# simulated camera (start -> yes -> agree -> update -> shutdown), with every screen as PNG and a JSON report.
# The run works on a copy of the card: out/demo/card keeps the update files, ready for vupdate sweep.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh host
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)" --target vupdate
vupdate=build/default/vupdate

out=${1:-out/demo}
rm -rf "$out"
mkdir -p "$out"
cp -r samples/card "$out/card"

# A recognisable image: 14000 numbered text lines of 27 bytes, 378000 bytes.
seq -f 'firmware 1.1 line %08g' 1 14000 > "$out/image.bin"

"$vupdate" pack --image "$out/image.bin" --out "$out/card/SYSTEM/QR40V110.BIN" \
  --firmware 0x01100000 --ccs 0x01000000 --region 1 --installer 0x01000000 \
  --vendor "Norvale Co., Ltd." --product "Calyte QR" --serial-min 0 --serial-max 0xFFFFFFFF
"$vupdate" inspect "$out/card/SYSTEM/QR40V110.BIN" --camera samples/camera-us.toml

"$vupdate" run --card "$out/card" --camera samples/camera-us.toml --flash "$out/flash.bin" \
  --keys left,left,left,centre,right --shots "$out/shots" --report "$out/report.json" --expect success

echo
if cmp -s -n "$(stat -c %s "$out/image.bin")" "$out/image.bin" "$out/flash.bin"; then
  echo "flash: holds the new image"
else
  echo "flash: does NOT hold the new image" >&2
  exit 1
fi
left=$(find "$out/card/SYSTEM" -mindepth 1 -maxdepth 1 -printf '%f\n' | sort | tr '\n' ' ')
echo "card folder, as it was (the run worked on a copy; its summary above shows the card it left): $left"
echo "screens: $out/shots/sheet.png   report: $out/report.json"

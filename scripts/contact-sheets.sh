#!/usr/bin/env bash
# Regenerates docs/sheet-en.png and docs/sheet-ja.png: every screen of the updater on an English (region 1)
# and on a Japanese (region 8) camera, each taken from a run of the simulated camera with `vupdate run --shots`.
# Order on a sheet: splash, version, licence, warning, progress, success, cancelled, battery, missing files,
# corrupt file, incompatible camera, version screen of a debug file.
# Usage: scripts/contact-sheets.sh [BUILD_DIR]   (default build/default; vupdate is built there when missing)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
if [ ! -x "$build/vupdate" ]; then
  cmake --preset default -B "$build" >/dev/null
  cmake --build "$build" -j2 --target vupdate
fi
vupdate=$build/vupdate
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p docs

seq -f 'firmware 1.1 line %08g' 1 4000 >"$work/image.bin"

# profile FILE REGION BATTERY
profile() {
  cat >"$1" <<TOML
vendor = "Norvale Co., Ltd."
product = "Calyte QR"
serial = 0x00001234
firmware = 0x01000000
ccs = 0x01000000
region = $2
region_capability = 1
[power]
battery = $3
[flash]
erase_seconds = 2
TOML
}

# card DIR REGION [pack options...]: the three update files; no options but "none" leaves the folder empty.
card() {
  local dir=$1 region=$2
  shift 2
  mkdir -p "$dir/SYSTEM"
  [ "${1:-}" = none ] && return 0
  : >"$dir/SYSTEM/UPDATE.CRS"
  : >"$dir/SYSTEM/UPDATE.CAM"
  "$vupdate" pack --image "$work/image.bin" --out "$dir/SYSTEM/QR40V110.BIN" --firmware 0x01100000 \
    --ccs 0x01000000 --region "$region" --installer 0x01000000 --vendor "Norvale Co., Ltd." \
    --product "Calyte QR" --serial-min 0 --serial-max 0xFFFFFFFF "$@" >/dev/null
}

# shot NAME PROFILE CARD KEYS WHICH: runs the updater and prints the chosen frame (last, or middle).
shot() {
  local name=$1 camera=$2 cardDir=$3 keys=$4 which=$5
  rm -rf "$work/run-$name"
  mkdir -p "$work/run-$name"
  cp -r "$cardDir" "$work/run-$name/card"
  "$vupdate" run --card "$work/run-$name/card" --camera "$camera" --flash "$work/run-$name/flash.bin" \
    --keys "$keys" --shots "$work/run-$name/shots" --report "$work/run-$name/report.json" >/dev/null
  local frames
  mapfile -t frames < <(find "$work/run-$name/shots" -name 'frame*.png' | sort)
  [ ${#frames[@]} -gt 0 ] || { echo "contact-sheets: run $name showed no frame" >&2; exit 1; }
  if [ "$which" = middle ]; then
    echo "${frames[$((${#frames[@]} / 2))]}"
  else
    echo "${frames[-1]}"
  fi
}

sheet() {
  local lang=$1 region=$2 out=$3 dir=$work/$1
  mkdir -p "$dir"
  profile "$dir/camera.toml" "$region" 7
  profile "$dir/flat.toml" "$region" 3
  card "$dir/good" "$region"
  card "$dir/empty" "$region" none
  card "$dir/corrupt" "$region"
  # One byte of the image changed: the checksums no longer agree.
  printf 'X' | dd of="$dir/corrupt/SYSTEM/QR40V110.BIN" bs=1 seek=200 conv=notrunc status=none
  card "$dir/alien" "$region"
  rm "$dir/alien/SYSTEM/QR40V110.BIN"
  "$vupdate" pack --image "$work/image.bin" --out "$dir/alien/SYSTEM/QR40V110.BIN" --firmware 0x01100000 \
    --ccs 0x01000000 --region "$region" --installer 0x01000000 --vendor "Otherway Inc." \
    --product "Calyte QR" --serial-min 0 --serial-max 0xFFFFFFFF >/dev/null 2>&1  # pack warns: no such model
  card "$dir/debug" "$region" --debug "QA build 7"

  local shots=(
    "$(shot "$lang-0" "$dir/camera.toml" "$dir/good" "wait:1" last)"
    "$(shot "$lang-1" "$dir/camera.toml" "$dir/good" "left" last)"
    "$(shot "$lang-2" "$dir/camera.toml" "$dir/good" "left,left" last)"
    "$(shot "$lang-3" "$dir/camera.toml" "$dir/good" "left,left,left" last)"
    "$(shot "$lang-4" "$dir/camera.toml" "$dir/good" "left,left,left,centre" middle)"
    "$(shot "$lang-5" "$dir/camera.toml" "$dir/good" "left,left,left,centre" last)"
    "$(shot "$lang-6" "$dir/camera.toml" "$dir/good" "right" last)"
    "$(shot "$lang-7" "$dir/flat.toml" "$dir/good" "wait:1" last)"
    "$(shot "$lang-8m" "$dir/camera.toml" "$dir/empty" "wait:1" last)"
    "$(shot "$lang-8c" "$dir/camera.toml" "$dir/corrupt" "wait:1" last)"
    "$(shot "$lang-8i" "$dir/camera.toml" "$dir/alien" "wait:1" last)"
    "$(shot "$lang-1d" "$dir/camera.toml" "$dir/debug" "left" last)"
  )
  python3 - "$out" "${shots[@]}" <<'PY'
# Crops the 288 x 216 picture out of each LCD frame and lays them out four to a row.
import struct, sys, zlib

def read_png(path):
    data = open(path, 'rb').read()
    assert data[:8] == b'\x89PNG\r\n\x1a\n', path
    pos, idat, width = 8, b'', 0
    while pos < len(data):
        length, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b'IHDR':
            width, height, depth, colour, _, _, interlace = struct.unpack('>IIBBBBB', body)
            assert depth == 8 and colour in (2, 6) and interlace == 0, f'{path}: unsupported PNG'
            bpp = 3 if colour == 2 else 4
        elif kind == b'IDAT':
            idat += body
        pos += 12 + length
    raw, stride, rows, prev = zlib.decompress(idat), width * bpp, [], bytearray(width * bpp)
    for y in range(height):
        f, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b, c = prev[i], prev[i - bpp] if i >= bpp else 0
            if f == 1: line[i] = (line[i] + a) & 255
            elif f == 2: line[i] = (line[i] + b) & 255
            elif f == 3: line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line) if bpp == 3 else bytes(v for i, v in enumerate(line) if i % 4 != 3))
        prev = line
    return width, rows

def write_png(path, width, rows):
    def chunk(kind, body):
        return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))
    raw = b''.join(b'\x00' + r for r in rows)
    with open(path, 'wb') as out:
        out.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, len(rows), 8, 2, 0, 0, 0))
                  + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))

W, H, LEFT, TOP, GAP, PER_ROW = 288, 216, 36, 10, 8, 4
out, paths = sys.argv[1], sys.argv[2:]
pictures = []
for p in paths:
    width, rows = read_png(p)
    if width == W and len(rows) == H:
        pictures.append(rows)
    else:
        pictures.append([r[LEFT * 3:(LEFT + W) * 3] for r in rows[TOP:TOP + H]])
n_rows = (len(pictures) + PER_ROW - 1) // PER_ROW
sheet_w, sheet_h = PER_ROW * (W + GAP) + GAP, n_rows * (H + GAP) + GAP
sheet = [bytearray(b'\x30' * (sheet_w * 3)) for _ in range(sheet_h)]
for k, rows in enumerate(pictures):
    x, y = GAP + (k % PER_ROW) * (W + GAP), GAP + (k // PER_ROW) * (H + GAP)
    for dy, r in enumerate(rows):
        sheet[y + dy][x * 3:(x + W) * 3] = r
write_png(out, sheet_w, [bytes(r) for r in sheet])
PY
  echo "$out"
}

sheet en 1 docs/sheet-en.png
sheet ja 8 docs/sheet-ja.png

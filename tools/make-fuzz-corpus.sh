#!/usr/bin/env bash
# Makes the seed corpora of the libFuzzer targets with the suite's own programs:
# valid files of every kind (version-1 files from wavepack and from each iqsynth
# mode, version-2 files from arbtool join, segment configurations, CSV fields) and
# the reproducers of the faults found in them (truncated files, configurations that
# named a segment twice, held braces or line breaks, or ran on without a line end).
# The output is committed: tests/<component>/fuzz/corpus/<target>/.
#
#   tools/make-fuzz-corpus.sh [BUILD]    # BUILD holds bin/ (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
bin=$build/bin
for program in wavepack iqsynth arbtool; do
  [ -x "$bin/$program" ] || { echo "no $bin/$program: build the programs first" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export TMPDIR=$work

format=$root/tests/arbformat/fuzz/corpus/arbformat_fuzz_format
readers=$root/tests/seqlink/fuzz/corpus/seqlink_fuzz_readers
config=$root/tests/seqlink/fuzz/corpus/seqlink_fuzz_config
configFile=$root/tests/seqlink/fuzz/corpus/seqlink_fuzz_config_file
field=$root/tests/wavepack/fuzz/corpus/wavepack_fuzz_csv_field
rm -rf "$format" "$readers" "$config" "$configFile" "$field"
mkdir -p "$format" "$readers" "$config" "$configFile" "$field"

# --- .arb files -----------------------------------------------------------------
head -n 200 "$root/examples/two-tone.csv" >two-tone.csv
printf 'I,Q\n0.5,-0.5\n1,0\n0,0.25\n' >three.csv   # odd pair count: padded data
printf '1\n' >one.csv
"$bin/wavepack" -d two-tone.csv -f 10MHz -o v1-two-tone.arb >/dev/null
"$bin/wavepack" -d three.csv -f 100MHz -o v1-three-pairs.arb >/dev/null
"$bin/wavepack" -i one.csv -f 1k -o v1-one-pair.arb >/dev/null
"$bin/iqsynth" -M 16qam -n 16 -s 2 -f rrc -o v1-16qam.arb >/dev/null
"$bin/iqsynth" -M fsk4 -n 8 -s 4 -r 10k -f gauss-fsk -a 0.5 -o v1-fsk4.arb >/dev/null
"$bin/iqsynth" -m noise --noise-samples 64 -o v1-noise.arb >/dev/null
"$bin/iqsynth" -m mccw --carriers 3 --spacing 1MHz -o v1-mccw.arb >/dev/null
"$bin/arbtool" join -o v2-three-segments.arb --level rms --clock highest \
  v1-three-pairs.arb blank:5@1MHz v1-16qam.arb >/dev/null
"$bin/arbtool" join -o v2-one-segment.arb v1-one-pair.arb >/dev/null
"$bin/arbtool" join -o v2-user-clock.arb --clock user --user-clock 2.5MHz \
  blank:3 v1-fsk4.arb >/dev/null
rm -f ./*-segments.txt

for file in v1-*.arb v2-*.arb; do cp "$file" "$format/$file"; done
# Reproducers: files cut inside the header, the text, the data and the padding.
whole=$(stat -c %s v1-three-pairs.arb)
for cut in 100 208 230 $((whole - 16)) $((whole - 4)) $((whole - 1)); do
  head -c "$cut" v1-three-pairs.arb >"$format/cut-v1-three-pairs-at-$cut.arb"
done
whole=$(stat -c %s v2-three-segments.arb)
for cut in 212 300 $((whole - 8)); do
  head -c "$cut" v2-three-segments.arb >"$format/cut-v2-three-segments-at-$cut.arb"
done
head -c 300 /dev/zero >"$format/zeros.arb"

# The readers' target: a control byte (bit 0 makes the header CRC valid, the rest
# is the number of pairs to read) in front of each file.
for file in "$format"/*.arb; do
  name=$(basename "$file" .arb)
  { printf '\x11'; cat "$file"; } >"$readers/$name-8-pairs.bin"
  { printf '\x00'; cat "$file"; } >"$readers/$name-0-pairs.bin"
done

# --- segment configurations ----------------------------------------------------
head -n 34 two-tone.csv >b.csv   # header line and 33 pairs
"$bin/wavepack" -d b.csv -f 2MHz -o b.arb >/dev/null
head -n 65 two-tone.csv >a.csv
"$bin/wavepack" -d a.csv -f 1MHz -o a.arb >/dev/null
"$bin/arbtool" join -o out.arb --config plain.txt --write-config-only a.arb b.arb >/dev/null
"$bin/arbtool" join -o out.arb --config rms-highest.txt --write-config-only --level rms \
  --clock highest a.arb blank:10@1MHz b.arb >/dev/null
"$bin/arbtool" join -o out.arb --config user.txt --write-config-only --clock user \
  --user-clock 5MHz blank:4 a.arb >/dev/null
blanks=()
for k in $(seq 1 12); do blanks+=("blank:$k@1MHz"); done
"$bin/arbtool" join -o out.arb --config twelve.txt --write-config-only a.arb "${blanks[@]}" >/dev/null
for file in plain rms-highest user twelve; do
  cp "$file.txt" "$config/$file.txt"
  cp "$file.txt" "$configFile/$file.txt"
done
fixed='{LEVEL MODE:UNCHANGED}{CLOCKRATE MODE:UNCHANGED}{USER CLOCKRATE:0}{OUTPUT FILE:out.arb}{SEGMENT MARKER:0}{FIRST SEGMENT RESTART MARKER:0}{EVERY SEGMENT RESTART MARKER:0}'
# Reproducers: SEGMENT_1 found as the start of SEGMENT_10, a key inside a name,
# braces and line breaks in names, a missing closing brace, a count far beyond the
# items, values with spaces, and a line without a line end.
{
  printf '{NUMBER SEGMENTS:11}'
  for i in 10 9 8 7 6 5 4 3 2 1 0; do printf '{SEGMENT_%d:"Blank",1e6,%d,0}' "$i" "$i"; done
  printf '%s\n' "$fixed"
} >"$config/segment-1-inside-segment-10.txt"
printf '{NUMBER SEGMENTS:2}{SEGMENT_0:"SEGMENT_1.arb",1e6,4,1}{SEGMENT_1:"b.arb",2e6,33,1}%s\n' \
  "$fixed" >"$config/key-inside-a-name.txt"
printf '{NUMBER SEGMENTS:1}{SEGMENT_0:"a{b.arb",1e6,64,1}%s\n' "$fixed" >"$config/brace-in-a-name.txt"
printf '{NUMBER SEGMENTS:1}{SEGMENT_0:"a\rb.arb",1e6,64,1}%s\n' "$fixed" >"$config/return-in-a-name.txt"
printf '{NUMBER SEGMENTS:1}{SEGMENT_0:"a.arb",1e6,64,1%s\n' "$fixed" >"$config/no-closing-brace.txt"
printf '{NUMBER SEGMENTS:2147483647}{SEGMENT_0:"a.arb",1e6,64,1}%s\n' "$fixed" >"$config/huge-count.txt"
printf '{NUMBER SEGMENTS: 1}{SEGMENT_0:"a.arb", 1e6 , 64 ,-1 }%s' "$fixed" >"$config/spaces-no-line-end.txt"
printf '{NUMBER SEGMENTS:1}{SEGMENT_0:"a.arb",nan,64,inf}%s\n' "$fixed" >"$config/not-a-number.txt"
printf '{NUMBER SEGMENTS:1}{SEGMENT_0:"Blank",1e6,5,0}{LEVEL MODE:RMS}\n{CLOCKRATE MODE:HIGHEST}\n' \
  >"$config/two-lines.txt"
printf '' >"$config/empty.txt"
for file in "$config"/*.txt; do cp "$file" "$configFile/$(basename "$file")"; done

# --- CSV fields -------------------------------------------------------------------
i=0
for text in '0.5' '-0.25' '+1e-3' '  2.0  ' '1.5V' '1e999' '1e-400' '.5' '5.' '-' '1e' \
  'nan' 'inf' '0x1p3' '1,2' 'I' '' "$(sed -n 2p two-tone.csv)" "$(sed -n 100p two-tone.csv)"; do
  printf '%s' "$text" >"$field/field-$i.txt"
  i=$((i + 1))
done

du -sh "$format" "$readers" "$config" "$configFile" "$field"

#!/usr/bin/env bash
# Makes the seed corpora of the libFuzzer targets with the suite's own programs:
# valid files of every kind (version-1 files from wavepack and from each iqsynth
# mode, version-2 files from arbtool join, segment configurations, CSV fields) and
# the reproducers of the faults found in them (truncated files, configurations that
# named a segment twice, held braces or line breaks, or ran on without a line end);
# and, for the converter's readers, small input files (MATLAB files written with
# libmatio, sound files written with libsndfile, raw samples of every datatype,
# SigMF metadata) with the cases each reader refuses.
# The output is committed: tests/<component>/fuzz/corpus/<target>/.
#
#   tools/make-fuzz-corpus.sh [BUILD [GROUP...]]   # BUILD holds bin/ (default: build)
#
# GROUP is arb (the .arb files, segment configurations and CSV fields: needs
# wavepack, iqsynth and arbtool) or inputs (the readers' files: needs
# wavepack_fuzz_seeds); both without one. A group's corpora are made afresh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
bin=$build/bin
shift $(($# > 0 ? 1 : 0))
groups=("$@")
[ $# -gt 0 ] || groups=(arb inputs)

need() {
  for program in "$@"; do
    [ -x "$bin/$program" ] || { echo "no $bin/$program: build the programs first" >&2; exit 1; }
  done
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export TMPDIR=$work

arb_corpora() {
  need wavepack iqsynth arbtool
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
}


# One byte of value $1 (0-255).
byte() { printf "\\$(printf %03o "$1")"; }

input_corpora() {
  need wavepack_fuzz_seeds
  local seeds=$bin/wavepack_fuzz_seeds
  local corpus=$root/tests/wavepack/fuzz/corpus
  local mat=$corpus/wavepack_fuzz_mat wav=$corpus/wavepack_fuzz_wav raw=$corpus/wavepack_fuzz_raw
  local meta=$corpus/wavepack_fuzz_sigmf_meta pair=$corpus/wavepack_fuzz_sigmf_pair
  rm -rf "$mat" "$wav" "$raw" "$meta" "$pair"
  mkdir -p "$mat" "$wav" "$raw" "$meta" "$pair" mat wav sigmf

  # --- MATLAB files: a flags byte (bits 0-1: --variable none, iq, x, fs; bit 2:
  # strict) in front of each file. Uncompressed and zlib-compressed version-5
  # files, a version-4 file, and files cut in the header, a variable's tag and
  # compressed data.
  "$seeds" mat mat
  local file name
  for file in mat/*.mat; do
    name=$(basename "$file" .mat)
    { byte 0; cat "$file"; } >"$mat/$name.bin"
  done
  { byte 1; cat mat/two-candidates-zlib.mat; } >"$mat/two-candidates-zlib-iq.bin"
  { byte 2; cat mat/two-candidates-zlib.mat; } >"$mat/two-candidates-zlib-x.bin"
  { byte 3; cat mat/complex-double-fs.mat; } >"$mat/complex-double-fs-variable-fs.bin"
  { byte 5; cat mat/complex-double-fs.mat; } >"$mat/complex-double-fs-iq-strict.bin"
  { byte 4; cat mat/rate-not-a-scalar.mat; } >"$mat/rate-not-a-scalar-strict.bin"
  local cut
  for cut in 128 136 200; do
    { byte 0; head -c "$cut" mat/complex-double-fs.mat; } >"$mat/cut-complex-double-fs-at-$cut.bin"
  done
  for cut in 140 300; do
    { byte 0; head -c "$cut" mat/two-candidates-zlib.mat; } >"$mat/cut-two-candidates-zlib-at-$cut.bin"
  done
  { byte 0; head -c 100 mat/version-4.mat; } >"$mat/cut-version-4-at-100.bin"

  # --- sound files as they are: WAV in every sample format, the other containers
  # libsndfile reads, the refused channel counts, no frames, a NaN, and cut files.
  "$seeds" wav wav
  cp wav/* "$wav/"
  head -c 60 wav/pcm16.wav >"$wav/cut-pcm16-at-60.wav"
  head -c 100 wav/float.wav >"$wav/cut-float-at-100.wav"
  head -c 1000 wav/ima-adpcm.wav >"$wav/cut-ima-adpcm-at-1000.wav"
  head -c 100 wav/flac-pcm16.flac >"$wav/cut-flac-pcm16-at-100.flac"

  # --- raw files: a flags byte (bit 0: ignore a partial last sample, bit 1: a real
  # file is Q, bits 2-7: pairs per read less one), the datatype name and a zero
  # byte, then 8 samples; then partial samples, odd counts, values that are not
  # finite, no data, and names that are misspelt.
  local type flags=0
  for type in cf64_le cf64_be cf32_le cf32_be ci32_le ci32_be ci16_le ci16_be cu32_le cu32_be \
    cu16_le cu16_be ci8 cu8 rf64_le rf64_be rf32_le rf32_be ri32_le ri32_be ri16_le ri16_be \
    ru32_le ru32_be ru16_le ru16_be ri8 ru8; do
    { byte $flags; printf '%s\0' "$type"; "$seeds" raw "$type" 8; } >"$raw/$type.bin"
    flags=$(((flags + 6) % 256))
  done
  { byte 0; printf 'cf32_le\0'; "$seeds" raw cf32_le 3; printf '\1\2\3\4\5'; } >"$raw/partial-refused.bin"
  { byte 1; printf 'cf32_le\0'; "$seeds" raw cf32_le 3; printf '\1\2\3\4\5'; } >"$raw/partial-ignored.bin"
  { byte 1; printf 'cf64_le\0'; "$seeds" raw rf64_le 3; } >"$raw/odd-doubles-ignored.bin"
  { byte 4; printf 'cf32_le\0'; "$seeds" raw cf32_le 2; printf '\0\0\300\177\0\0\200\77'; "$seeds" raw cf32_le 2; } \
    >"$raw/nan-value.bin"
  { byte 2; printf 'rf64_be\0'; "$seeds" raw rf64_be 2; printf '\177\360\0\0\0\0\0\0'; } >"$raw/infinite-value.bin"
  { byte 0; printf 'ci16_le\0'; } >"$raw/no-data.bin"
  for type in cf32 cf16_le ci8_le xf32_le cf32_LE; do
    { byte 0; printf '%s\0' "$type"; "$seeds" raw cf32_le 2; } >"$raw/name-$type.bin"
  done

  # --- SigMF metadata beside the fixed 96-byte data file of the meta target: valid
  # recordings of several datatypes, offsets, header and trailing bytes and data
  # file names, and each field the reader refuses.
  local g='"core:version":"1.0.0"'
  local c='"captures":[{"core:sample_start":0}],"annotations":[]'
  local -A metas=(
    [minimal]="{\"global\":{\"core:datatype\":\"ci16_le\",$g},$c}"
    [full]="{\"global\":{\"core:datatype\":\"cf32_le\",$g,\"core:sample_rate\":1000000,\"core:description\":\"tone\",\"core:num_channels\":1},\"captures\":[{\"core:sample_start\":0,\"core:frequency\":2.4e9,\"core:datetime\":\"2024-01-01T00:00:00Z\"}],\"annotations\":[{\"core:sample_start\":0,\"core:sample_count\":4,\"core:label\":\"a\"}]}"
    [offset-and-start]="{\"global\":{\"core:datatype\":\"cf64_be\",$g,\"core:offset\":2},\"captures\":[{\"core:sample_start\":3}]}"
    [header-bytes]="{\"global\":{\"core:datatype\":\"cu8\",$g},\"captures\":[{\"core:sample_start\":0,\"core:header_bytes\":8}]}"
    [trailing-bytes]="{\"global\":{\"core:datatype\":\"ci32_be\",$g,\"core:trailing_bytes\":16},$c}"
    [two-captures]="{\"global\":{\"core:datatype\":\"ci8\",$g},\"captures\":[{\"core:sample_start\":0},{\"core:sample_start\":20}]}"
    [big-endian-with-rate]="{\"global\":{\"core:datatype\":\"cf32_be\",$g,\"core:sample_rate\":2.5e6},$c}"
    [no-captures]="{\"global\":{\"core:datatype\":\"cu16_le\",$g,\"core:sample_rate\":48000.5}}"
    [data-is-the-metadata]="{\"global\":{\"core:datatype\":\"ci8\",$g,\"core:dataset\":\"rec.sigmf-meta\"},$c}"
    [escaped-data-name]="{\"global\":{\"core:datatype\":\"ci16_be\",$g,\"core:dataset\":\"rec.sigmf-\\u0064ata\"},$c}"
    [no-samples-left]="{\"global\":{\"core:datatype\":\"cf32_le\",$g,\"core:trailing_bytes\":48},\"captures\":[{\"core:header_bytes\":48}]}"
    [partial-sample]="{\"global\":{\"core:datatype\":\"ci16_le\",$g,\"core:trailing_bytes\":3},$c}"
    [start-before-offset]="{\"global\":{\"core:datatype\":\"ci16_le\",$g,\"core:offset\":5},\"captures\":[{\"core:sample_start\":4}]}"
    [start-beyond-all]="{\"global\":{\"core:datatype\":\"cf64_le\",$g},\"captures\":[{\"core:sample_start\":18446744073709551615}]}"
    [header-bytes-later]="{\"global\":{\"core:datatype\":\"ci16_le\",$g},\"captures\":[{\"core:sample_start\":0},{\"core:sample_start\":4,\"core:header_bytes\":4}]}"
    [captures-not-array]="{\"global\":{\"core:datatype\":\"ci16_le\",$g},\"captures\":{}}"
    [capture-not-object]="{\"global\":{\"core:datatype\":\"ci16_le\",$g},\"captures\":[7]}"
    [two-channels]="{\"global\":{\"core:datatype\":\"ci16_le\",$g,\"core:num_channels\":2},$c}"
    [metadata-only]="{\"global\":{\"core:datatype\":\"ci16_le\",$g,\"core:metadata_only\":true},$c}"
    [real-datatype]="{\"global\":{\"core:datatype\":\"rf32_le\",$g},$c}"
    [unknown-datatype]="{\"global\":{\"core:datatype\":\"cf16_le\",$g},$c}"
    [no-byte-order]="{\"global\":{\"core:datatype\":\"ci16\",$g},$c}"
    [datatype-number]="{\"global\":{\"core:datatype\":16,$g},$c}"
    [rate-negative]="{\"global\":{\"core:datatype\":\"ci16_le\",$g,\"core:sample_rate\":-1},$c}"
    [rate-text]="{\"global\":{\"core:datatype\":\"ci16_le\",$g,\"core:sample_rate\":\"fast\"},$c}"
    [rate-overflow]="{\"global\":{\"core:datatype\":\"ci16_le\",$g,\"core:sample_rate\":1e400},$c}"
    [offset-negative]="{\"global\":{\"core:datatype\":\"ci16_le\",$g,\"core:offset\":-1},$c}"
    [missing-data-file]="{\"global\":{\"core:datatype\":\"ci16_le\",$g,\"core:dataset\":\"other.sigmf-data\"},$c}"
    [data-name-with-folder]="{\"global\":{\"core:datatype\":\"ci16_le\",$g,\"core:dataset\":\"a/b\"},$c}"
    [data-name-empty]="{\"global\":{\"core:datatype\":\"ci16_le\",$g,\"core:dataset\":\"\"},$c}"
    [global-not-object]='{"global":[],"captures":[]}'
    [not-an-object]='[1,2,3]'
    [cut-json]="{\"global\":{\"core:datatype\":\"ci16_"
  )
  for name in "${!metas[@]}"; do printf '%s\n' "${metas[$name]}" >"$meta/$name.json"; done

  # --- whole recordings: a byte choosing the name given (0 the metadata file, 1 the
  # data file, 2 the shared name), the metadata's length (two bytes, little-endian),
  # the metadata, then the data.
  # recording NAME SELECTOR DATATYPE SAMPLES METADATA [BYTES-BEFORE [BYTES-AFTER]]: the
  # metadata of that name (its ci16_le made DATATYPE), then SAMPLES samples.
  recording() {
    local text=${metas[$5]}
    text=${text//ci16_le/$3}
    { byte "$2"; byte $((${#text} % 256)); byte $((${#text} / 256)); printf '%s' "$text"
      printf '%b' "${6:-}"; "$seeds" raw "$3" "$4"; printf '%b' "${7:-}"; } >"$pair/$1.bin"
  }
  recording minimal-by-metadata 0 ci16_le 8 minimal
  recording minimal-by-data 1 ci16_le 8 minimal
  recording minimal-by-shared-name 2 ci16_le 8 minimal
  recording big-endian-with-rate 0 cf32_be 6 big-endian-with-rate
  recording header-bytes 0 cu8 6 header-bytes '\1\2\3\4\5\6\7\10'
  recording offset-and-start 1 cf64_be 5 offset-and-start
  recording trailing-bytes 2 ci32_be 4 trailing-bytes '' '\0\1\2\3\4\5\6\7\10\11\12\13\14\15\16\17'
  recording partial-sample 0 ci16_le 4 minimal '' '\1'
  recording nan-in-data 0 cf32_le 2 minimal '' '\0\0\300\177\0\0\0\0'
  recording no-data 0 ci16_le 0 minimal
  recording data-is-the-metadata 0 ci8 4 data-is-the-metadata
  recording two-captures 1 ci8 30 two-captures
  du -sh "$mat" "$wav" "$raw" "$meta" "$pair"
}

for group in "${groups[@]}"; do
  case $group in
    arb) arb_corpora ;;
    inputs) input_corpora ;;
    *) echo "unknown group $group (arb or inputs)" >&2; exit 2 ;;
  esac
done

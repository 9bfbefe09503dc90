#!/usr/bin/env bash
# Times the sample path of libseqlink against cat of the same bytes, side by side
# in one run: two 4,000,000-pair .arb files (wavepack --format ci16_le from raw
# noise, the second at a lower peak level so that --level rms scales the first),
# then per round, in turn:
#   cat a.arb b.arb > /dev/null                        (the bytes, from the page cache)
#   cat a.arb b.arb > c.out                            (the bytes read and written: the
#                                                       reference of the join's aim)
#   arbtool dump a.arb --format ci16_le -o /dev/null   (readArbFileData of one file)
#   arbtool join -o j.arb a.arb b.arb                  (levels unchanged)
#   arbtool join -o j.arb --level rms a.arb b.arb      (a scaled down to b's level)
# and prints every round, the best and worst of each command and the ratios of the
# joins to cat into a file (cat-file), best against best and median against median
# (cat's time into a file varies most: an overwritten file's pages may still be on
# their way to the disk). With a reference build (another build tree, or a copy of
# one's bin/ and lib/), its two joins run in each round as well
# (ref-join, ref-rms), and the best of each join is set against the reference's.
# Usage:
#   bench/seqlink/time-join.sh [BUILD_DIR [ROUNDS [REFERENCE_BUILD_DIR]]]
#                                                       (default: build, 7, none)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
rounds=${2:-7}
reference=
if [[ -n "${3:-}" ]]; then reference=$(cd "$3" && pwd); fi
pairs=4000000
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

arbtool=$build/bin/arbtool
wavepack=$build/bin/wavepack
head -c $((4 * pairs)) /dev/urandom > a.ci16
head -c $((4 * pairs)) /dev/urandom > b.ci16
"$wavepack" --format ci16_le -d a.ci16 -o a.arb -f 10MHz > /dev/null
"$wavepack" --format ci16_le --level 0.5 -d b.ci16 -o b.arb -f 10MHz > /dev/null
rm a.ci16 b.ci16
bytes=$(($(stat -c %s a.arb) + $(stat -c %s b.arb)))

# Milliseconds of one run, to three decimals, its output into the file $out
# (/dev/null unless set).
out=/dev/null
elapsed() {
  local start end
  start=$(date +%s%N)
  "$@" > "$out"
  end=$(date +%s%N)
  printf '%d.%03d' $(((end - start) / 1000000)) $(((end - start) / 1000 % 1000))
}

names=(cat cat-file dump join join-rms)
if [[ -n "$reference" ]]; then names+=(ref-join ref-rms); fi
declare -A all
cat a.arb b.arb > /dev/null  # into the page cache
echo "two files of $pairs pairs, $bytes bytes in all; $rounds rounds (ms)"
printf '%-6s' round
printf ' %9s' "${names[@]}"
printf ' %8s %8s\n' join/file rms/file
for ((r = 1; r <= rounds; ++r)); do
  t_cat=$(elapsed cat a.arb b.arb)
  t_file=$(out=c.out elapsed cat a.arb b.arb)
  t_dump=$(elapsed "$arbtool" dump a.arb --format ci16_le -o /dev/null)
  t_join=$(elapsed "$arbtool" join -o j.arb --config j.txt a.arb b.arb)
  t_rms=$(elapsed "$arbtool" join -o j.arb --config j.txt --level rms a.arb b.arb)
  all[cat]+=" $t_cat"
  all[cat-file]+=" $t_file"
  all[dump]+=" $t_dump"
  all[join]+=" $t_join"
  all[join-rms]+=" $t_rms"
  printf '%-6s %9s %9s %9s %9s %9s' "$r" "$t_cat" "$t_file" "$t_dump" "$t_join" "$t_rms"
  if [[ -n "$reference" ]]; then
    t_ref=$(elapsed "$reference/bin/arbtool" join -o j.arb --config j.txt a.arb b.arb)
    t_ref_rms=$(elapsed "$reference/bin/arbtool" join -o j.arb --config j.txt --level rms a.arb b.arb)
    all[ref-join]+=" $t_ref"
    all[ref-rms]+=" $t_ref_rms"
    printf ' %9s %9s' "$t_ref" "$t_ref_rms"
  fi
  printf ' %8.2f %8.2f\n' "$(echo "$t_join / $t_file" | bc -l)" "$(echo "$t_rms / $t_file" | bc -l)"
done

# Best and worst of each command, and what they make per second of file.
best() { tr ' ' '\n' <<< "$1" | sed '/^$/d' | sort -g | head -1; }
worst() { tr ' ' '\n' <<< "$1" | sed '/^$/d' | sort -g | tail -1; }
median() { tr ' ' '\n' <<< "$1" | sed '/^$/d' | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
echo
printf '%-9s %9s %9s\n' command best worst
for name in "${names[@]}"; do
  printf '%-9s %9s %9s\n' "$name" "$(best "${all[$name]}")" "$(worst "${all[$name]}")"
done
dump_best=$(best "${all[dump]}")
printf 'dump of a.arb: %.2f GB/s of file at best\n' \
  "$(echo "$(stat -c %s a.arb) / ($dump_best / 1000) / 1000000000" | bc -l)"
printf 'join / cat into a file, best against best: %.2f (rms %.2f; the aim: at most 2)\n' \
  "$(echo "$(best "${all[join]}") / $(best "${all[cat-file]}")" | bc -l)" \
  "$(echo "$(best "${all[join-rms]}") / $(best "${all[cat-file]}")" | bc -l)"
printf 'join / cat into a file, median against median: %.2f (rms %.2f)\n' \
  "$(echo "$(median "${all[join]}") / $(median "${all[cat-file]}")" | bc -l)" \
  "$(echo "$(median "${all[join-rms]}") / $(median "${all[cat-file]}")" | bc -l)"
printf 'join / cat to /dev/null, best against best: %.2f (rms %.2f)\n' \
  "$(echo "$(best "${all[join]}") / $(best "${all[cat]}")" | bc -l)" \
  "$(echo "$(best "${all[join-rms]}") / $(best "${all[cat]}")" | bc -l)"
if [[ -n "$reference" ]]; then
  printf 'join / reference join, best against best: %.2f (rms %.2f)\n' \
    "$(echo "$(best "${all[join]}") / $(best "${all[ref-join]}")" | bc -l)" \
    "$(echo "$(best "${all[join-rms]}") / $(best "${all[ref-rms]}")" | bc -l)"
fi

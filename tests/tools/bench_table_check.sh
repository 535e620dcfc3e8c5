#!/usr/bin/env bash
# Checks tests/bench_table against two builds' ratio files: every row names its anchor, a
# ratio under 0.8 (and only such) carries "!", a row one build lacks shows "-", and a name
# longer than the usual keeps the ratios in their columns.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/a" "$work/b"
printf 'copy\tmemcpy\t0.799\nblend\tpixman OVER\t0.800\n' >"$work/a/bench_x.tsv"
printf 'a much longer kernel name than the others\tGMP\t1.5x\n' >"$work/a/bench_y.tsv"
printf 'copy\tmemcpy\t2.000\nblend\tpixman OVER\t0.5x\n' >"$work/b/bench_x.tsv"
"$root/tests/bench_table" "$work/a" "first" "$work/b" "second" >"$work/out" || exit 1
cat >"$work/want" <<'WANT'

ratios, our speed / the anchor's (above 1: ours is faster)
  (a) first
  (b) second

program kernel or operation                       anchor           (a)       (b) 
bench_x copy                                      memcpy        0.799!   2.000 
bench_x blend                                     pixman OVER   0.800     0.5x!
bench_y a much longer kernel name than the others GMP            1.5x        - 

!: under 0.8 (2)
WANT
diff -u "$work/want" "$work/out"

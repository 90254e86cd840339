#!/usr/bin/env bash
# Reads the machine code of the built program and fails when the measured
# kernels (the H and E updates) or the energy sum that checks them hold
# packed or vector arithmetic, fused multiply-adds, wide vector registers or
# prefetching: the score must measure the same scalar loops on every machine
# and build. Knows x86-64, aarch64, riscv64, ppc64el and s390x code, told
# apart by the file format objdump names.
#
# With --expect-tuned the verdict is turned round: both kernels must be
# found and hold such code (the energy sum, an ordered reduction, may stay
# scalar). The tests use it on the kernels built at plain -O2 and at -O3, to
# show that the check sees what those flags bring in.
#
# usage: kernel_code_test.sh [--expect-tuned] OBJDUMP PROGRAM
set -euo pipefail

expect_tuned=false
if [ "${1:-}" = --expect-tuned ]; then
  expect_tuned=true
  shift
fi
objdump=$1
program=$2
listing=$(mktemp)
trap 'rm -f "$listing"' EXIT
"$objdump" -d -C --no-show-raw-insn "$program" >"$listing"

tab=$'\t'
format=$(grep -m1 -o 'file format .*' "$listing" || true)
# x86-64: packed double arithmetic, fused multiply-adds, 256- and 512-bit
# registers, prefetches. aarch64: vector arrangements (v0.2d, v1.4s), SVE's z
# registers, fused multiply-adds (scalar and by element), prefetches (prfm,
# prfum, SVE's prfd). riscv64: fused multiply-adds (fmadd.d, fnmsub.d ...),
# the vector extension's v instructions, Zicbop's prefetch.r/.w/.i. ppc64el:
# VSX vector instructions (xvsubdp, lxvd2x, stxvd2x, xxmrghd ...; not the
# xxlxor that zeroes a scalar register), fused multiply-adds of the classic
# FPU (fmadd, fnmsub ...) and of VSX scalars (xsmaddmdp ...), cache-touch
# prefetches (dcbt, dcbtst). s390x: the vector facility (v... and its scalar
# w... forms: vfadb, wfmadb), fused multiply-adds (madbr, msdbr, madb, msdb
# and the short forms), prefetch data (pfd, pfdrl).
case $format in
  *x86-64*)
    patterns=(-e "$tab"'v?(add|sub|mul|div|sqrt|min|max|hadd|hsub|addsub|dp|round)pd '
              -e "$tab"'vf(n)?m(add|sub|addsub|subadd)[0-9]*pd ' -e '%[yz]mm[0-9]'
              -e "$tab"'prefetch') ;;
  *aarch64*)
    patterns=(-e '\.(2d|4s|2s|8h|4h|16b|8b)\b' -e '[[:space:],{]z[0-9]+\.'
              -e "$tab"'f(n)?m(add|sub)'"$tab" -e "$tab"'fml[as]' -e "$tab"'prf') ;;
  *riscv*)
    patterns=(-e "$tab"'f(n)?m(add|sub)\.[sdq]'"$tab" -e "$tab"'v[a-z]' -e "$tab"'prefetch\.') ;;
  *powerpc*)
    patterns=(-e "$tab"'(xv|lxv|stxv|xxmrg|xxperm|xxsplt|xxsel)' -e "$tab"'f(n)?m(add|sub)s?'"$tab"
              -e "$tab"'xs(n)?m(add|sub)[am][sd]p' -e "$tab"'dcbt') ;;
  *s390*)
    patterns=(-e "$tab"'[vw][a-z]' -e "$tab"'m[as][edx]br?'"$tab" -e "$tab"'pfd') ;;
  *)
    echo "$program: unknown instruction set (${format:-no file format})" >&2
    exit 1 ;;
esac
status=0
for function in 'tavro::update_h(tavro::yee_grid&)' 'tavro::update_e(tavro::yee_grid&)' \
  'tavro::total_energy(tavro::yee_grid const&)'; do
  # A function's listing runs from its "<name>:" line to the next blank line
  # that does not open a local label's block: riscv64 objects keep their
  # ".L" labels as symbols, each with a header of its own.
  body=$(awk -v name="<$function>:" 'index($0, name) { found = 1; next }
                                     found && /^$/ { blank = 1; next }
                                     found && blank && /^[0-9a-f]+ <\.L[^>]*>:$/ { blank = 0; next }
                                     found && blank { exit }
                                     found { print }' "$listing")
  if [ -z "$body" ]; then
    echo "$function: not found in $program" >&2
    status=1
    continue
  fi
  instructions=$(printf '%s\n' "$body" | wc -l)
  tuned=$(printf '%s\n' "$body" | grep -E -i "${patterns[@]}" || true)
  if [ -n "$tuned" ]; then
    echo "$function: not scalar: vector, fused or prefetch instructions in the measured code:"
    printf '%s\n' "$tuned" | head -n 10
    $expect_tuned || status=1
  else
    echo "$function: $instructions instructions, scalar"
    if $expect_tuned && [[ $function == *update_* ]]; then
      status=1
    fi
  fi
done
exit $status

#!/usr/bin/env bash
# Fails when any function of the given object files other than the AVX2 and
# AVX-512 kernels' own (namespaces tamsel::json::avx2 and ::avx512) holds an
# AVX instruction: such a function, if it were a shared inline one, could be
# the copy the linker keeps for every caller, and fault on a processor
# without AVX.
# Usage: check_kernel_isolation.sh OBJECT...
set -euo pipefail
status=0
for object in "$@"; do
  found=$(objdump -d -C --no-show-raw-insn "$object" | awk '
    /^[0-9a-f]+ <.*>:$/ { function_name = $0; next }
    /\tv[a-z0-9]+ / || /%[yz]mm/ || /%k[0-7]/ { if (function_name !~ /tamsel::json::avx(2|512)::/) print function_name }' | sort -u)
  if [ -n "$found" ]; then
    echo "AVX code outside the AVX2 and AVX-512 kernels in $object:"
    echo "$found"
    status=1
  fi
done
exit $status

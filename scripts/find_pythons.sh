#!/usr/bin/env bash
# Lists the supported interpreters on this machine (CPython 3.11 or newer,
# default or free-threaded build), one line each, oldest first:
#   VERSION BUILD TAG EXECUTABLE      e.g. 3.14.2 free-threaded cp314t /usr/local/bin/python3.14t
# Candidates: $PYTHONS (space-separated) if set; otherwise python3.11 ...
# python3.19 and their free-threaded "t" names on PATH, and every version
# pyenv holds. An interpreter reached by two names is listed once.
set -uo pipefail

candidates=()
if [ -n "${PYTHONS:-}" ]; then
  read -r -a candidates <<<"$PYTHONS"
else
  # pyenv's own paths before its shims on PATH; a "t" name before the plain
  # one, which a free-threaded installation also has.
  if command -v pyenv >/dev/null; then
    for path in "$(pyenv root)"/versions/*/bin/python3*; do
      [[ $(basename "$path") =~ ^python3\.[0-9]+t?$ ]] && candidates+=("$path")
    done
  fi
  for minor in $(seq 11 19); do
    for name in "python3.${minor}t" "python3.$minor"; do
      path=$(command -v "$name") && candidates+=("$path")
    done
  done
fi

# What an interpreter says of itself; the base prefix tells two names of one
# installation apart from two installations.
probe='
import os, sys, sysconfig
ft = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
v = sys.version_info
print("%d.%d.%d" % v[:3], "free-threaded" if ft else "default",
      "cp%d%d%s" % (v[0], v[1], "t" if ft else ""),
      sys.implementation.name, int(v >= (3, 11)), os.path.realpath(sys.base_prefix))
'
declare -A seen
for path in "${candidates[@]}"; do
  # A pyenv shim for a version not selected fails here, and is left out.
  line=$("$path" -c "$probe" 2>/dev/null) || continue
  read -r version build tag implementation supported prefix <<<"$line"
  [ "$implementation" = cpython ] && [ "$supported" = 1 ] || continue
  key="$tag $prefix"
  [ -z "${seen[$key]:-}" ] || continue
  seen[$key]=1
  echo "$version $build $tag $path"
done | sort -k1,1V -k2,2

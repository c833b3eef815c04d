#!/usr/bin/env bash
# Prints the module files that the named kernel modules need, each after the modules it
# depends on and each once, as paths under /lib/modules/VERSION: the order /init loads them in.
# A module the kernel has neither as a file nor built in is an error.
# Usage: modules.sh VERSION MODULE...
set -euo pipefail
version=$1
shift
declare -A seen=()
for name in "$@"; do
  # modprobe reads the kernel's own modules.dep; "builtin" lines need no file.
  deps=$(modprobe --show-depends -S "$version" "$name")
  while read -r kind path _; do
    [ "$kind" = insmod ] || continue
    if [ -z "${seen[$path]:-}" ]; then
      seen[$path]=1
      echo "$path"
    fi
  done <<<"$deps"
done

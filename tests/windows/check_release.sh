#!/usr/bin/env bash
# Usage: check_release.sh [--control] EXE SYMBOLS PREFIX TOOLS_PREFIX
#
# Checks a Windows executable for what a release must have:
#   aslr       DllCharacteristics carry DYNAMIC_BASE, HIGH_ENTROPY_VA and NX_COMPAT
#   wx         no section is both writable and executable
#   debug      no debug sections (the symbols are in a file of their own)
#   imports    only libraries that Windows loads from its own list of known
#              libraries (KnownDLLs) are imported, so that none can be
#              satisfied by a file planted beside the executable
#   stack      the code calls the stack protector's failure routine
#   swap       the file header asks Windows to run the image from the page
#              file when it starts from a share or a removable disk, and the
#              checksum, set again after the flags, is the image's own
#   search     under Wine, on the program's first thread, the library search
#              is restricted to the system directory before any library is
#              loaded by name or the cryptographic provider is asked for
#              anything (which loads libraries), and before the first SetupAPI
#              call (a relay trace)
# SYMBOLS is the file that holds EXE's symbols (its .debug file, or EXE
# itself); PREFIX the Wine prefix; TOOLS_PREFIX the binutils' prefix, such as
# x86_64-w64-mingw32-.
#
# With --control, EXE is a binary built without any of these properties, and
# every check must fail on it: a check that passes there could never fail.
set -euo pipefail
here=$(dirname "$(realpath "$0")")
control=false
if [ "${1:-}" = --control ]; then
  control=true
  shift
fi
exe=$1 symbols=$2 prefix=$3 tools=$4
objdump=${tools}objdump
nm=${tools}nm
headers=$("$objdump" -p "$exe")
sections=$("$objdump" -h "$exe")

check_aslr() {
  local flag
  for flag in DYNAMIC_BASE HIGH_ENTROPY_VA NX_COMPAT; do
    grep -qw "$flag" <<<"$headers" || {
      echo "DllCharacteristics lack $flag"
      return 1
    }
  done
}

# objdump -h gives each section's flags on the line after its name.
check_wx() {
  local found
  found=$(awk '/^ *[0-9]+ /{name=$2; next} name != "" && /CODE/ && !/READONLY/ {print name} {name=""}' <<<"$sections")
  [ -z "$found" ] || {
    echo "sections both writable and executable: $found"
    return 1
  }
}

check_debug() {
  local found
  found=$(awk '/^ *[0-9]+ /{print $2}' <<<"$sections" | grep -E '^\.(z)?debug_' | tr '\n' ' ' || true)
  [ -z "$found" ] || {
    echo "debug sections: $found"
    return 1
  }
}

# The known libraries of Windows 7 to 11 that a Tessary program may import
# (HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs holds
# them all on each); cfgmgr32.dll, for one, is not among them.
check_imports() {
  local dll bad=""
  while read -r dll; do
    case "${dll^^}" in
    KERNEL32.DLL | ADVAPI32.DLL | SETUPAPI.DLL | MSVCRT.DLL | USER32.DLL) ;;
    *) bad+="$dll " ;;
    esac
  done < <(sed -n 's/^\tDLL Name: //p' <<<"$headers")
  [ -z "$bad" ] || {
    echo "imports libraries that Windows does not load from its known list: $bad"
    return 1
  }
}

# The calls to __stack_chk_fail, found by its address in the symbols.
check_stack() {
  local address calls
  address=$("$nm" "$symbols" | awk '$3 == "__stack_chk_fail" {print $1}' | sed 's/^0*//')
  [ -n "$address" ] || {
    echo "the stack protector is not linked in"
    return 1
  }
  calls=$("$objdump" -d "$exe" | grep -cE "call +(0x)?0*${address}( |$)" || true)
  [ "$calls" -gt 0 ] || {
    echo "no code calls the stack protector"
    return 1
  }
}

# The image's checksum by another implementation than the one that wrote it
# (Debian's pefile), so that a slip in that one cannot pass as its own check.
sum_again() {
  /usr/bin/python3 - "$exe" <<'EOF' 2>&1
import sys
import pefile
image = pefile.PE(sys.argv[1], fast_load=True)
stored = image.OPTIONAL_HEADER.CheckSum
if stored != 0 and stored != image.generate_checksum():
    sys.exit("pefile finds the checksum 0x%08x wrong: the image's is 0x%08x" % (stored, image.generate_checksum()))
EOF
}

# IMAGE_FILE_REMOVABLE_RUN_FROM_SWAP (0x0400) and IMAGE_FILE_NET_RUN_FROM_SWAP
# (0x0800) in the file header's characteristics, with a checksum that is the
# image's own.
check_swap() {
  local characteristics
  characteristics=$(sed -n 's/^Characteristics[[:space:]]*0x\([0-9a-fA-F]*\).*/\1/p' <<<"$headers")
  [ -n "$characteristics" ] && [ $((0x$characteristics & 0x0C00)) -eq $((0x0C00)) ] || {
    echo "the file header lacks the run-from-swap flags (characteristics 0x$characteristics)"
    return 1
  }
  python3 "$here/../../scripts/pe-image.py" check-sum "$exe" 2>&1 && sum_again
}

# The program's first thread is the one the relay trace shows first; the
# search must be restricted on it before anything there loads a library, and
# before it asks SetupAPI for the device set.
check_search() {
  local trace thread restricted loaded first
  trace=$(mktemp)
  WINE_RUN_DEBUG=-all,+relay "$here/wine-run.sh" "$prefix" "$exe" /a >/dev/null 2>"$trace" || true
  thread=$(grep -m1 -E '^[0-9a-f]+:Call ' "$trace" | cut -d: -f1 || true)
  restricted=$(grep -n -m1 -E "^$thread:Call KERNEL32\.SetDefaultDllDirectories\(00000800\)" "$trace" | cut -d: -f1 || true)
  loaded=$(grep -n -m1 -E "^$thread:Call (KERNEL32|KERNELBASE)\.LoadLibrary|^$thread:Call advapi32\.CryptAcquireContext" \
    "$trace" | cut -d: -f1 || true)
  first=$(grep -n -m1 -E "^$thread:Call setupapi\.SetupDiGetClassDevsW\(" "$trace" | cut -d: -f1 || true)
  rm -f "$trace"
  if [ -z "$thread" ] || [ -z "$first" ]; then
    echo "the relay trace shows no call of SetupDiGetClassDevsW on the program's first thread"
    return 1
  fi
  [ -n "$restricted" ] && [ "$restricted" -lt "$first" ] && { [ -z "$loaded" ] || [ "$restricted" -lt "$loaded" ]; } || {
    echo "the library search is not restricted to the system directory before the first library load ($loaded)" \
      "or SetupAPI call ($first): restricted at ${restricted:-no line}"
    return 1
  }
}

failures=0
# The swap check's second half fails on its own too: the control with the
# flags set, but its checksum one off the image's.
if $control; then
  flagged=$(mktemp --suffix=.exe)
  cp "$exe" "$flagged"
  python3 "$here/../../scripts/pe-image.py" run-from-swap "$flagged"
  python3 - "$flagged" <<'PY'
import struct, sys
path = sys.argv[1]
data = bytearray(open(path, "rb").read())
field = struct.unpack_from("<I", data, 0x3C)[0] + 24 + 64  # OptionalHeader.CheckSum
struct.pack_into("<I", data, field, (struct.unpack_from("<I", data, field)[0] + 1) & 0xFFFFFFFF)
open(path, "wb").write(data)
PY
  if message=$(exe=$flagged headers=$("$objdump" -p "$flagged") check_swap); then
    echo "FAILED: the check 'swap' passes on an image whose checksum is not its own: it could never fail" >&2
    failures=$((failures + 1))
  else
    echo "swap: fails on the control with the flags but a wrong checksum, as it must ($message)"
  fi
  if message=$(exe=$flagged sum_again); then
    echo "FAILED: pefile's check passes on an image whose checksum is not its own: it could never fail" >&2
    failures=$((failures + 1))
  else
    echo "swap: pefile's check alone fails on that control too ($message)"
  fi
  rm -f "$flagged"
fi
for check in aslr wx debug imports stack swap search; do
  status=0
  message=$("check_$check") || status=$?
  if $control; then
    if [ "$status" -eq 0 ]; then
      echo "FAILED: the check '$check' passes on a binary without its property: it could never fail" >&2
      failures=$((failures + 1))
    else
      echo "$check: fails on the control, as it must ($message)"
    fi
  elif [ "$status" -ne 0 ]; then
    echo "FAILED: $check: $message" >&2
    failures=$((failures + 1))
  else
    echo "$check: ok"
  fi
done
[ "$failures" -eq 0 ]

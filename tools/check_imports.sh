#!/usr/bin/env bash
# Fails when an image imports a DLL by name that is not one of Windows'
# KnownDLLs: Windows looks for any other DLL first in the program's own
# folder, which the user can write. Usage: check_imports.sh image.exe...
set -euo pipefail
known=" advapi32 clbcatq combase comdlg32 coml2 difxapi gdi32 gdiplus imagehlp imm32 kernel32
  msctf msvcrt normaliz nsi ole32 oleaut32 psapi rpcrt4 sechost setupapi shcore shell32 shlwapi
  user32 wldap32 ws2_32 "
status=0
for image in "$@"; do
  [ -f "$image" ] || { echo "check_imports: $image is missing" >&2; status=1; continue; }
  while read -r dll; do
    name=$(echo "${dll%.*}" | tr 'A-Z' 'a-z')
    if [[ " $(echo $known) " != *" $name "* ]]; then
      echo "check_imports: $image imports $dll, which is no KnownDLL" >&2
      status=1
    fi
  done < <(i686-w64-mingw32-objdump -p "$image" | sed -n 's/^\s*DLL Name: //p')
done
[ $status = 0 ] && echo "check_imports: only KnownDLLs in $*"
exit $status

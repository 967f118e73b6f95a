#!/usr/bin/env bash
# Registers the stand-ins of the agent's COM components in a Wine prefix, as an installer would:
# the regsvr32 of the DLLs' own bitness (under wine64; SysWOW64's for 32-bit servers) calls each
# server's DllRegisterServer, which writes HKCR\<ProgID>\CLSID and HKCR\CLSID\{...}\InprocServer32
# (the DLL where it lies, apartment threaded) in the view of HKCR that programs of that bitness
# read. The prefix then creates "VERUZE.XmlEncryptor" and "Postbird.webpost" for any program of
# that bitness run in it. Registering again repoints the classes at the given DLLs.
#
#   register-standins.sh PREFIX [FOLDER]     FOLDER: where XmlEncryptor.dll and Postbird.dll are
#                                            (default build/mingw-i686/tools/standins, the servers
#                                            the shipping 32-bit program needs)
#   register-standins.sh --remove PREFIX [FOLDER]
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=prefix.sh
. "$here/prefix.sh"

remove=
if [[ ${1:-} == --remove ]]; then
    remove=/u
    shift
fi
(($# >= 1)) || { echo "usage: register-standins.sh [--remove] PREFIX [FOLDER]" >&2; exit 2; }
folder=$(realpath -e -- "${2:-$here/../../build/mingw-i686/tools/standins}") ||
    { echo "register-standins.sh: no folder ${2:-build/mingw-i686/tools/standins}" >&2; exit 1; }
rsw_create_prefix "$1" || exit 1
status=0
# A registration by hand makes the runs' records stale: run-machine.sh registers again.
rm -f -- "$WINEPREFIX"/.rsw-standins-*
for dll in XmlEncryptor.dll Postbird.dll; do
    [[ -f $folder/$dll ]] || { echo "register-standins.sh: no $folder/$dll" >&2; status=1; continue; }
    bits=$(rsw_pe_bits "$folder/$dll") || { echo "register-standins.sh: $dll is no Windows DLL" >&2; status=1; continue; }
    if ! "$RSW_WINE" "$(rsw_regsvr32_for "$bits")" /s $remove "$(rsw_windows_path "$folder/$dll")"; then
        echo "register-standins.sh: regsvr32 failed for $dll" >&2
        status=1
    fi
done
exit $status

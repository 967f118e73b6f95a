#!/usr/bin/env bash
# Registers the stand-ins of the agent's COM components in a Wine prefix, as an installer would:
# regsvr32 (the 64-bit one, under wine64) calls each server's DllRegisterServer, which writes
# HKCR\<ProgID>\CLSID and HKCR\CLSID\{...}\InprocServer32 (the DLL where it lies, apartment
# threaded). The prefix then creates "VERUZE.XmlEncryptor" and "Postbird.webpost" for any
# 64-bit program run in it. Registering again repoints the classes at the given DLLs.
#
#   register-standins.sh PREFIX [FOLDER]     FOLDER: where XmlEncryptor.dll and Postbird.dll are
#                                            (default build/mingw-x86_64/tools/standins)
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
folder=$(realpath -e -- "${2:-$here/../../build/mingw-x86_64/tools/standins}") ||
    { echo "register-standins.sh: no folder ${2:-build/mingw-x86_64/tools/standins}" >&2; exit 1; }
rsw_create_prefix "$1" || exit 1
status=0
for dll in XmlEncryptor.dll Postbird.dll; do
    [[ -f $folder/$dll ]] || { echo "register-standins.sh: no $folder/$dll" >&2; status=1; continue; }
    if ! "$RSW_WINE" regsvr32 /s $remove "$(rsw_windows_path "$folder/$dll")"; then
        echo "register-standins.sh: regsvr32 failed for $dll" >&2
        status=1
    fi
done
exit $status

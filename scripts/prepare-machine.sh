#!/usr/bin/env bash
# Completes a machine folder with what is built rather than kept in the repository: the stand-in
# cipher library at the agent's installation folder, and the agent's configuration enciphered
# from a clear wpConfig.xml.
# usage: prepare-machine.sh MACHINE INSTALL_FOLDER_UNDER_C CIPHER_LIBRARY ENCIPHER_TOOL [CLEAR_XML]
#   INSTALL_FOLDER_UNDER_C: the installation folder below drive C, e.g. "Agent"
#   CLEAR_XML: a clear wpConfig.xml; without it no configuration file is written
set -eu
machine=$1 install=$2 library=$3 encipher=$4 clear=${5:-}
target="$machine/drives/c/$install"
mkdir -p "$target/Configuration"
cp "$library" "$target/Cryptel.dll"
if [ -n "$clear" ]; then
    "$encipher" "$clear" "$target/Configuration/wpConfig.xml"
fi

# Helpers for prepare scripts: completing a machine with what is built rather than kept.
# Sourced by a case's prepare script; RS_STANDINS, RS_TOOLS and RS_REPO come from run.sh, and
# RS_PREPARE_NOW (seconds since 1970), when set, is "now" for the times a preparation writes.

# install_agent MACHINE INSTALL_FOLDER_UNDER_C [CLEAR_XML]
#   puts the cipher library into the installation folder and, with CLEAR_XML, the agent's
#   configuration enciphered with it.
install_agent() {
    "$RS_REPO/scripts/prepare-machine.sh" "$1" "$2" "$RS_STANDINS/Cryptel.dll" "$RS_TOOLS/encipher" "${3:-}"
}

# age MACHINE PATH_UNDER_MACHINE SECONDS: sets the file's last-write time SECONDS ago.
age() {
    touch -d "@$((${RS_PREPARE_NOW:-$(date +%s)} - $3))" "$1/$2"
}

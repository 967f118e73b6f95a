# Writes an earlier run's activity log of an exact size, for the size-limit scenarios.
#   . lib/old-log.sh; make_old_log PATH SIZE
# The file is a whole log: the four header lines, then records of eight fields, every line ended
# by CR LF, the last record padded so that the file has exactly SIZE bytes.
make_old_log() {
    local path=$1 size=$2
    local header=$'#Software: VORN.AgentMonitoring.RebootScheduler\r\n#Version: 1.0.0\r\n#Date: 3/4/2021 5:06:07 PM\r\n#Fields: dtime\tform\tmodule\ttype\tval1\tval2\tval3\r\n'
    local record=$'3/4/2021 5:06:07 PM\tmodMain\tMain\tINFO\told record\t\t\t\r'
    local last_base=$'3/4/2021 5:06:07 PM\tmodMain\tMain\tINFO\tlast old record \t\t\t\r\n'
    local fill=$((size - ${#header} - ${#last_base}))
    local count=$((fill / (${#record} + 1)))
    local pad=$((fill - count * (${#record} + 1)))
    mkdir -p -- "${path%/*}" || return 1
    {
        printf '%s' "$header"
        yes -- "$record" | head -n "$count"
        printf '3/4/2021 5:06:07 PM\tmodMain\tMain\tINFO\tlast old record %s\t\t\t\r\n' \
            "$(head -c "$pad" /dev/zero | tr '\0' 'x')"
    } >"$path" || return 1
    local actual
    actual=$(stat -c %s -- "$path")
    [[ $actual == "$size" ]] || { echo "make_old_log: made $actual bytes, not $size" >&2; return 1; }
}

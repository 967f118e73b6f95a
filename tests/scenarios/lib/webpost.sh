# Helpers for the alert-suspension web-post scenarios: loopback services that answer the posts
# (tools/testserver, the Linux build, for both hosts: Wine's sockets are the host's), the agent's
# web configuration pointing at them, and what they received.
# Sourced by prepare and check scripts; RS_TESTSERVER, RS_REPO and RS_HOST come from run.sh.
#
# Each service keeps its state beside the machine folder, in webpost-NAME/ (port, pid and
# requests.log); run.sh stops it after the case, and it ends by itself after five idle minutes.

# webpost_server_start MACHINE NAME ANSWER...: a service answering the n-th post with the n-th
# ANSWER (testserver's forms: 500:down, 200:1, refuse, ...), the last one repeating.
webpost_server_start() {
    local machine=$1 name=$2 state
    shift 2
    state=$(dirname -- "$machine")/webpost-$name
    [[ -x ${RS_TESTSERVER:-} ]] || { echo "webpost_server_start: no test server at ${RS_TESTSERVER:-}" >&2; return 1; }
    mkdir -p -- "$state" || return 1
    nohup "$RS_TESTSERVER" --port-file "$state/port" --log "$state/requests.log" --idle-seconds 300 \
        --hang-seconds 20 "$@" </dev/null >"$state/out" 2>&1 &
    echo $! >"$state/pid"
    local tries=0
    until [[ -s $state/port ]]; do
        if ((tries++ >= 100)) || ! kill -0 "$(<"$state/pid")" 2>/dev/null; then
            echo "webpost_server_start: the service $name did not start:" >&2
            cat "$state/out" >&2
            return 1
        fi
        sleep 0.05
    done
}

# webpost_port MACHINE NAME: the port the service listens on.
webpost_port() {
    cat -- "$(dirname -- "$1")/webpost-$2/port"
}

# webpost_agent MACHINE PRIMARY SECONDARY ENCRYPT: the agent at C:\Agent, its web configuration
# (enciphered) naming the services PRIMARY and SECONDARY ("host:port") for the alert suspension,
# with that encryption flag.
webpost_agent() {
    local clear
    clear=$(dirname -- "$1")/wpConfig.clear.xml
    cat >"$clear" <<EOF || return 1
<?xml version="1.0" encoding="utf-8"?>
<configuration>
  <fod name="NDATAPOST">
    <PR4>
      <service id="1" ext="aspx" name="wpacpmsusddappextended" kind="post" scheme="0" primary="$2" secondary="$3" selector="0" primary2="" secondary2="" encrypt="$4" />
    </PR4>
  </fod>
</configuration>
EOF
    install_agent "$1" Agent "$clear"
}

# webpost_requests MACHINE NAME: what the service received, one line a request:
# "METHOD TARGET<TAB>BODY", the body as sent; when the target ends with "&ec=256", the text in the
# body's CDATA section deciphered with the stand-in encryptor's transform, as "{clear:TEXT}" (or
# "{undecipherable}").
webpost_requests() {
    python3 - "$(dirname -- "$1")/webpost-$2/requests.log" <<'EOF'
import base64, re, sys

KEY = b"VERUZE-XmlEncryptor-stand-in"

def decipher(text):
    try:
        raw = base64.b64decode(text, validate=True)
        return "{clear:" + bytes(b ^ KEY[i % len(KEY)] for i, b in enumerate(raw)).decode("utf-8") + "}"
    except Exception:
        return "{undecipherable}"

def deciphered(body):
    return re.sub(r"<!\[CDATA\[(.*?)\]\]>", lambda m: "<![CDATA[" + decipher(m.group(1)) + "]]>", body,
                  flags=re.S)

try:
    data = open(sys.argv[1], "rb").read().decode("utf-8", "replace")
except FileNotFoundError:
    sys.exit(0)
pos = 0
while pos < len(data):
    end = data.index("\n", pos)
    title = data[pos:end]
    pos = end + 1
    if not title.startswith("REQUEST "):
        sys.exit("unexpected record: " + title)
    end = data.index("\n", pos)
    line = data[pos:end]
    if line == "END":
        print("(refused)")
        pos = end + 1
        continue
    head_end = data.index("\nBODY ", pos)
    pos = head_end + len("\nBODY ")
    end = data.index("\n", pos)
    length = int(data[pos:end])
    body = data[end + 1:end + 1 + length]
    pos = end + 1 + length
    assert data.startswith("\nEND\n", pos), "record without END"
    pos += len("\nEND\n")
    method, target, _ = line.split(" ", 2)
    if target.endswith("&ec=256"):
        body = deciphered(body)
    print(f"{method} {target}\t{body}")
EOF
}

# webpost_masked TEXT_FILE MACHINE NAME...: the file with the port of each service NAME as
# "{NAME}" and the posted time as {TIME}, so that runs compare alike.
webpost_masked() {
    local file=$1 machine=$2 name
    shift 2
    local script=(-e 's#<mndtime>[0-9]{2}/[0-9]{2}/[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}</mndtime>#<mndtime>{TIME}</mndtime>#g')
    for name in "$@"; do
        script+=(-e "s#127\.0\.0\.1:$(webpost_port "$machine" "$name")/#127.0.0.1:{$name}/#g")
    done
    sed -E "${script[@]}" -- "$file"
}

# webpost_posts MACHINE NAME...: what each service NAME received (see webpost_requests), each line
# led by "NAME: ", with the posted time as {TIME}.
webpost_posts() {
    local machine=$1 name
    shift
    for name in "$@"; do
        webpost_requests "$machine" "$name" | sed -E -e "s/^/$name: /" \
            -e 's#<mndtime>[0-9]{2}/[0-9]{2}/[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}</mndtime>#<mndtime>{TIME}</mndtime>#g'
    done
}

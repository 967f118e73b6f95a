#!/usr/bin/env python3
"""A stand-in of the agent's REST service on loopback for the scenarios.

    rest_server.py STATE_DIR ANSWER...

Listens on 127.0.0.1 at a free port, writes the port to STATE_DIR/port once it listens, and
answers the n-th request with the n-th ANSWER (the last one again once they run out), status
200. Every request is appended to STATE_DIR/requests.jsonl as one JSON line: method, path,
headers and the body as text (UTF-8; undecodable bytes escaped as \\udcXX). The server ends when
STATE_DIR disappears, on SIGTERM, or after ten minutes, so that no run leaves it behind.
"""
import http.server
import json
import os
import signal
import sys
import threading
import time


def main():
    state, answers = sys.argv[1], sys.argv[2:] or ["1"]
    served = [0]
    lock = threading.Lock()

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def do_POST(self):
            length = int(self.headers.get("Content-Length") or 0)
            body = self.rfile.read(length)
            with lock:
                answer = answers[min(served[0], len(answers) - 1)]
                served[0] += 1
                record = {
                    "method": self.command,
                    "path": self.path,
                    "headers": {k.lower(): v for k, v in self.headers.items()},
                    "body": body.decode("utf-8", "surrogateescape"),
                }
                with open(os.path.join(state, "requests.jsonl"), "a", encoding="utf-8",
                          errors="surrogateescape") as out:
                    out.write(json.dumps(record) + "\n")
            data = answer.encode("utf-8")
            self.send_response(200)
            self.send_header("Content-Type", "text/plain; charset=utf-8")
            self.send_header("Content-Length", str(len(data)))
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(data)

        do_GET = do_POST

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    with open(os.path.join(state, "port.tmp"), "w") as out:
        out.write(str(server.server_address[1]))
    os.replace(os.path.join(state, "port.tmp"), os.path.join(state, "port"))
    deadline = time.monotonic() + 600
    while os.path.isdir(state) and time.monotonic() < deadline:
        time.sleep(0.5)
    os._exit(0)


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Serves one file as the configuration service's answer, on 127.0.0.1.

Usage: serve_envelope.py ENVELOPE_FILE PORT_FILE
Binds a free port, writes it to PORT_FILE, then answers GET
/live/vip/getKvConfig with the file's bytes (404 for any other path) until
it is stopped.
"""
import http.server
import sys

PATH = "/live/vip/getKvConfig"


def main():
    args = sys.argv[1:]
    if args[:1] in (["-h"], ["--help"]):
        print(__doc__.strip())
        return 0
    unknown = [a for a in args if a.startswith("-")]
    if unknown or len(args) != 2:
        why = "unknown option " + unknown[0] if unknown else "needs ENVELOPE_FILE PORT_FILE"
        print("serve_envelope.py: %s (see --help)" % why, file=sys.stderr)
        return 2
    envelope_file, port_file = args
    with open(envelope_file, "rb") as f:
        body = f.read()

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            status = 200 if self.path == PATH else 404
            payload = body if status == 200 else b""
            self.send_response(status)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(payload)))
            self.end_headers()
            self.wfile.write(payload)

        def log_message(self, fmt, *args):
            sys.stderr.write("service: %s\n" % (fmt % args))

    server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    with open(port_file, "w") as f:
        f.write(str(server.server_address[1]))
    server.serve_forever()
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""The server's configuration form as a CGI under busybox httpd: keeps what
each call received (method, content type, the user httpd let in, the body
byte for byte) beside the web root and answers with the status found in the
file "status" there (200 when there is none)."""

import json
import os
import sys

# The CGI lives in WEBROOT/cgi-bin; the case's files are in WEBROOT/..
case = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
length = int(os.environ.get("CONTENT_LENGTH") or 0)
body = sys.stdin.buffer.read(length) if length else b""
calls = os.path.join(case, "calls")
os.makedirs(calls, exist_ok=True)
number = len(os.listdir(calls)) // 2 + 1
with open(os.path.join(calls, f"{number}.body"), "wb") as kept:
    kept.write(body)
with open(os.path.join(calls, f"{number}.json"), "w") as kept:
    json.dump({key: os.environ.get(key) for key in
               ("REQUEST_METHOD", "CONTENT_TYPE", "CONTENT_LENGTH", "REMOTE_USER",
                "SERVER_PROTOCOL", "HTTP_USER_AGENT")}, kept)
try:
    with open(os.path.join(case, "status")) as wanted:
        status = wanted.read().strip()
except OSError:
    status = "200 OK"
sys.stdout.write(f"Status: {status}\r\nContent-Type: text/html\r\n\r\n"
                 "<html><body>IP settings stored</body></html>\r\n")

#!/usr/bin/python3
"""A stock FTP server (Debian's python3-pyftpdlib) for one server host of
the test bed:

    ftp_server.py ADDRESS HOME PASSWORD [PERMISSIONS]

User root with PASSWORD, HOME as its login directory, allowed to change
directory, list, read and write there (PERMISSIONS in the library's letters,
"elrw" when not given). Every command and answer goes to
stdout (the library's own log at debug level); "LISTENING" is printed once
the control port is open."""

import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

address, home, password = sys.argv[1:4]
permissions = sys.argv[4] if len(sys.argv) > 4 else "elrw"
logging.basicConfig(stream=sys.stdout, level=logging.DEBUG, format="%(message)s")
authorizer = DummyAuthorizer()
authorizer.add_user("root", password, home, perm=permissions)
FTPHandler.authorizer = authorizer
server = FTPServer((address, 21), FTPHandler)
print("LISTENING", flush=True)
server.serve_forever()

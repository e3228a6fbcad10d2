#!/usr/bin/python3
"""A loopback FTP server for the FTP store's tests, on Debian's pyftpdlib.

It logs in the user root, answers the name search for CONFIG with a listing
given on the command line (or a refusal code), keeps uploaded files byte for
byte (no line-end conversion in ASCII mode), can refuse the upload or fail
it after the data, and writes every command it receives to a log file.
Prints the port it listens on, then serves until it is killed.
"""
import argparse
import json
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--password", default="wxyz")
    parser.add_argument("--listing", default="[]", help="JSON list of names for NLST CONFIG")
    parser.add_argument("--nlst-reply", default="", help="reply line for NLST instead of a listing")
    parser.add_argument("--stor-reply", default="", help="reply line for STOR instead of taking the file")
    parser.add_argument("--fail-after-data", action="store_true", help="take the data, then answer 451")
    parser.add_argument("--log", required=True)
    args = parser.parse_args()

    listing = json.loads(args.listing)
    log = open(args.log, "a", buffering=1, encoding="utf-8", errors="backslashreplace")

    class RawDTP(DTPHandler):
        # The servers keep what they are sent; so do we, to compare bytes.
        def _posix_ascii_data_wrapper(self, chunk):
            return chunk

        def handle_close(self):
            if args.fail_after_data and self.receive and not self._closed:
                self.transfer_finished = False
                self._resp = ("451 Requested action aborted: local error in processing.", logging.debug)
                self.close()
                return
            super().handle_close()

    class Handler(FTPHandler):
        dtp_handler = RawDTP

        def on_connect(self):
            log.write("CONNECT\n")

        def on_disconnect(self):
            log.write("DISCONNECT\n")

        def pre_process_command(self, line, cmd, arg):
            log.write(line + "\n")
            return super().pre_process_command(line, cmd, arg)

        def ftp_NLST(self, path):
            if args.nlst_reply:
                self.respond(args.nlst_reply)
                return None
            data = "".join(name + "\r\n" for name in listing).encode("latin-1")
            self.push_dtp_data(data, cmd="NLST")
            return path

        def ftp_STOR(self, file, mode="w"):
            if args.stor_reply:
                self.respond(args.stor_reply)
                return None
            return super().ftp_STOR(file, mode)

    authorizer = DummyAuthorizer()
    authorizer.add_user("root", args.password, args.root, perm="elradfmwMT")
    Handler.authorizer = authorizer
    Handler.permit_foreign_addresses = False
    logging.basicConfig(level=logging.CRITICAL)

    server = FTPServer(("127.0.0.1", 0), Handler)
    print(server.socket.getsockname()[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())

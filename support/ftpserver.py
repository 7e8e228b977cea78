"""A small FTP server for the transfer tests and the benchmark.

Usage: ftpserver.py ROOT USER PASSWORD [MODE]
Listens on a free port of 127.0.0.1 and prints "PORT <n>" once it accepts connections.
Modes, each a kind of server the transfer window must live with:
  normal    an ordinary server
  nosize    knows no SIZE command
  drop      dies after sending half of a retrieved file
  stall     stops sending, for good, after half of a retrieved file, and stops reading a
            stored file after its first bytes
  readonly  the user may read but not store
  mute      takes the connection and never says a word
  huge      tells every file's size as 3 000 000 000 bytes
  short     tells every file's size as half of what it sends
  hangup    closes the control connection right after a login
  trickle   sends a retrieved file 20 bytes at a time, 30 ms apart
  onelogin  refuses every login after the first one of its run
"""
import os
import socket
import sys
import time

root, user, password = sys.argv[1:4]
mode = sys.argv[4] if len(sys.argv) > 4 else "normal"

if mode == "mute":
    sock = socket.socket()
    sock.bind(("127.0.0.1", 0))
    sock.listen(8)
    print("PORT %d" % sock.getsockname()[1], flush=True)
    # The connection is made by the kernel's backlog; no greeting ever follows.
    while True:
        time.sleep(3600)

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler, proto_cmds
from pyftpdlib.servers import FTPServer


class HalfProducer:
    """Hands out the first half of a file, then fails the way the mode says."""

    chunk = 16384

    def __init__(self, fd):
        self.data = fd.read()
        fd.close()
        self.pos = 0

    def more(self):
        half = len(self.data) // 2
        if self.pos < half:
            block = self.data[self.pos:min(half, self.pos + self.chunk)]
            self.pos += len(block)
            return block
        if mode == "drop":
            os._exit(0)  # both connections go down with the process
        while True:
            time.sleep(3600)


class TrickleProducer:
    def __init__(self, fd):
        self.data = fd.read()
        fd.close()
        self.pos = 0

    def more(self):
        time.sleep(0.03)
        block = self.data[self.pos:self.pos + 20]
        self.pos += len(block)
        return block


class StallingDTP(DTPHandler):
    def handle_read(self):
        if mode == "stall" and self.receive:
            while True:
                time.sleep(3600)
        super().handle_read()

    handle_read_event = handle_read  # the base class binds its own under this name


class Handler(FTPHandler):
    dtp_handler = StallingDTP

    logins = 0

    def ftp_RETR(self, file):
        if mode not in ("drop", "stall", "trickle"):
            return super().ftp_RETR(file)
        try:
            fd = self.run_as_current_user(self.fs.open, file, "rb")
        except OSError as err:
            self.respond("550 %s." % err.strerror)
            return
        producer = TrickleProducer(fd) if mode == "trickle" else HalfProducer(fd)
        self.push_dtp_data(producer, isproducer=True, cmd="RETR")
        return file

    def ftp_SIZE(self, path):
        if mode == "huge" and self.fs.isfile(self.fs.realpath(path)):
            self.respond("213 3000000000")
            return
        if mode == "short" and self.fs.isfile(self.fs.realpath(path)):
            self.respond("213 %d" % (self.fs.getsize(self.fs.realpath(path)) // 2))
            return
        return super().ftp_SIZE(path)

    def ftp_PASS(self, line):
        if mode == "onelogin" and Handler.logins > 0:
            self.respond("530 Only one login per run.")
            return
        return super().ftp_PASS(line)

    def handle_auth_success(self, home, password, msg_login):
        Handler.logins += 1
        super().handle_auth_success(home, password, msg_login)
        if mode == "hangup":
            self.close_when_done()


if mode == "nosize":
    Handler.proto_cmds = {k: v for k, v in proto_cmds.items() if k != "SIZE"}

authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm="elr" if mode == "readonly" else "elradfmwMT")
Handler.authorizer = authorizer
Handler.banner = "Test server ready."

import logging
logging.basicConfig(level=logging.CRITICAL)

server = FTPServer(("127.0.0.1", 0), Handler)
print("PORT %d" % server.socket.getsockname()[1], flush=True)
server.serve_forever()

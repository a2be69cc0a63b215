#!/usr/bin/env python3
"""A lossy relay on loopback between a client and the server, for the
end-to-end tests (scripts import it; the folder is on PYTHONPATH):

    relay = Relay(listen_port, server_port, drop=0.05, repeat=0.05, reorder=0.15, seed=18)
    relay.start() ... relay.stop()

Datagrams from the client to the listening port go on to the server's port,
the server's answers back to the client's address and port; each way a
datagram is lost with the probability `drop`, and from the client it is
repeated (`repeat`) or held back to be overtaken by the next ones
(`reorder`), with a fixed seed. Relay.log lists every datagram in order:
("c", bytes) as the client sent it, ("d", bytes) as it reached the server
(each copy), ("s", bytes) as it reached the client.
"""
import random
import select
import socket
import threading


class Relay(threading.Thread):
    def __init__(self, listen, server_port, drop=0.05, repeat=0.05, reorder=0.15, seed=18):
        super().__init__(daemon=True)
        self.up = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.up.bind(("127.0.0.1", listen))
        self.down = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.down.bind(("127.0.0.1", 0))
        self.server = ("127.0.0.1", server_port)
        self.drop, self.repeat, self.reorder = drop, repeat, reorder
        self.rng = random.Random(seed)
        self.client, self.held = None, []
        self.log = []  # (kind, bytes): "c" from the client, "d" to the server, "s" to the client
        self.lock = threading.Lock()
        self.stopping = threading.Event()

    def note(self, kind, data):
        with self.lock:
            self.log.append((kind, data))

    def deliver(self, data):
        self.down.sendto(data, self.server)
        self.note("d", data)

    def from_client(self, data, addr):
        self.client = addr
        self.note("c", data)
        if self.rng.random() < self.drop:
            return
        copies = 2 if self.rng.random() < self.repeat else 1
        if self.rng.random() < self.reorder:
            self.held.append(data)  # overtaken by the next datagram
            return
        for _ in range(copies):
            self.deliver(data)
        while self.held and self.rng.random() < 0.7:
            self.deliver(self.held.pop(0))

    def from_server(self, data):
        if self.rng.random() < self.drop or self.client is None:
            return
        self.note("s", data)
        self.up.sendto(data, self.client)

    def run(self):
        while not self.stopping.is_set():
            ready, _, _ = select.select([self.up, self.down], [], [], 0.05)
            if not ready and self.held:  # a held-back datagram goes after a pause
                self.deliver(self.held.pop(0))
            for s in ready:
                data, addr = s.recvfrom(65536)
                if s is self.up:
                    self.from_client(data, addr)
                else:
                    self.from_server(data)

    def mark(self):
        """The log's length now: what a pass added is log[mark:]."""
        with self.lock:
            return len(self.log)

    def since(self, mark, kind):
        with self.lock:
            return [d for k, d in self.log[mark:] if k == kind]

    def stop(self):
        self.stopping.set()
        self.join(5)
        self.up.close()
        self.down.close()

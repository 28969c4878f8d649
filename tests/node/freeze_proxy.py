#!/usr/bin/env python3
"""A TCP proxy on loopback that can play a half-open connection.

    freeze_proxy.py LISTEN_PORT TARGET_PORT

Forwards every connection to 127.0.0.1:TARGET_PORT. On SIGUSR1 it freezes
the connections open at that moment: it stops forwarding their bytes either
way but keeps both sockets open, as a peer whose machine vanished or a
firewall that dropped the flow would. Connections made later are forwarded
as usual.
"""
import signal
import socket
import sys
import threading

frozen = set()
live = set()
lock = threading.Lock()


def pump(source, sink, pair):
    try:
        while True:
            data = source.recv(65536)
            if not data:
                break
            with lock:
                if pair in frozen:
                    continue  # swallowed: the peer never hears of it
            sink.sendall(data)
    except OSError:
        pass
    with lock:
        if pair in frozen:
            return  # keep the sockets open: half-open, not closed
    for s in pair:
        try:
            s.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


def freeze(*_):
    with lock:
        frozen.update(live)


def main():
    listen_port, target_port = int(sys.argv[1]), int(sys.argv[2])
    signal.signal(signal.SIGUSR1, freeze)
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", listen_port))
    server.listen(16)
    while True:
        client, _ = server.accept()
        upstream = socket.create_connection(("127.0.0.1", target_port))
        pair = (client, upstream)
        with lock:
            live.add(pair)
        threading.Thread(target=pump, args=(client, upstream, pair), daemon=True).start()
        threading.Thread(target=pump, args=(upstream, client, pair), daemon=True).start()


if __name__ == "__main__":
    main()

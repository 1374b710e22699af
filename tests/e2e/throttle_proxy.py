#!/usr/bin/env python3
"""A TCP proxy that slows what the server sends back, so that a download on
the loopback lasts long enough to be seen.

    throttle_proxy.py --target HOST:PORT [--listen HOST:PORT] [--rate BYTES_PER_SECOND]

Prints "listening on HOST:PORT" first (port 0 picks a free one), then serves
until SIGTERM or SIGINT.
"""

import argparse
import signal
import socket
import sys
import threading
import time

CHUNK = 4096


def split_address(text):
    host, _, port = text.rpartition(":")
    return host or "127.0.0.1", int(port)


def pump(source, destination, rate):
    try:
        while True:
            data = source.recv(CHUNK)
            if not data:
                break
            destination.sendall(data)
            if rate:
                time.sleep(len(data) / float(rate))
    except OSError:
        pass
    finally:
        for sock in (source, destination):
            try:
                sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


def serve_one(client, target, rate):
    try:
        upstream = socket.create_connection(target)
    except OSError:
        client.close()
        return
    requests = threading.Thread(target=pump, args=(client, upstream, 0), daemon=True)
    requests.start()
    pump(upstream, client, rate)
    requests.join()
    client.close()
    upstream.close()


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("--target", required=True)
    parser.add_argument("--listen", default="127.0.0.1:0")
    parser.add_argument("--rate", type=int, default=256 * 1024)
    args = parser.parse_args(argv)

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(split_address(args.listen))
    listener.listen(16)
    host, port = listener.getsockname()
    print("listening on %s:%d" % (host, port), flush=True)

    def stop(*_):
        listener.close()
        sys.exit(0)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    target = split_address(args.target)
    while True:
        try:
            client, _ = listener.accept()
        except OSError:
            return 0
        threading.Thread(target=serve_one, args=(client, target, args.rate), daemon=True).start()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

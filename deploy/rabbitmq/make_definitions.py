#!/usr/bin/env python3
"""Fills the fleet's broker definitions with password hashes.

    make_definitions.py TEMPLATE OUT PASSWORD_DIR

PASSWORD_DIR holds one file per user of the template, named after it
(quillaro-node, quillaro-submit, quillaro-monitor), each with the user's
password on its first line; a missing file gets a new random password,
written there (mode 600). OUT is written with mode 600: it lets whoever reads
it log in as nobody, but it is the broker's own configuration. The hash is
RabbitMQ's rabbit_password_hashing_sha256: base64(salt + sha256(salt +
password)) with a 4-byte random salt.
"""
import base64
import hashlib
import json
import os
import secrets
import sys


def password_hash(password):
    salt = secrets.token_bytes(4)
    return base64.b64encode(salt + hashlib.sha256(salt + password.encode()).digest()).decode()


def main():
    template, out, password_dir = sys.argv[1:4]
    definitions = json.load(open(template))
    for user in definitions["users"]:
        path = os.path.join(password_dir, user["name"])
        if not os.path.exists(path):
            fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
            os.write(fd, (secrets.token_urlsafe(24) + "\n").encode())
            os.close(fd)
        password = open(path).readline().rstrip("\r\n")
        user["password_hash"] = password_hash(password)
    fd = os.open(out, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
    with os.fdopen(fd, "w") as f:
        json.dump(definitions, f, indent=1)


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""Numbers every file of IN_DIR into OUT_DIR in one Python process with a peer's script from
bench/stamper (number_pymupdf.py or number_pikepdf.py), as a user's loop over a folder would.

    loop_peer.py SCRIPT IN_DIR OUT_DIR
"""
import importlib.util
import os
import sys


def main():
    script, src, dst = sys.argv[1], sys.argv[2], sys.argv[3]
    spec = importlib.util.spec_from_file_location("peer", script)
    peer = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(peer)
    os.makedirs(dst, exist_ok=True)
    for name in sorted(os.listdir(src)):
        sys.argv = [script, os.path.join(src, name), os.path.join(dst, name)]
        peer.main()


if __name__ == "__main__":
    main()

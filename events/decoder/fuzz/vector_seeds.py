#!/usr/bin/env python3
# Writes one seed per vector of the decoder tests for the structure-aware fuzz target: class and
# code (16-bit little-endian each), then the class data.
#   vector_seeds.py OUTPUT_DIR VECTORS_FILE...
import pathlib
import sys

out = pathlib.Path(sys.argv[1])
out.mkdir(parents=True, exist_ok=True)
for old in out.glob('*.seed'):
    old.unlink()
for path in map(pathlib.Path, sys.argv[2:]):
    for number, line in enumerate(path.read_bytes().split(b'\n'), 1):
        if not line.strip() or line.startswith(b'#') or b' => ' not in line:
            continue
        fields = line.split(b' => ', 1)[0].split()
        cls, code, data = int(fields[0]), int(fields[1]), b''.join(fields[2:])
        data = b'' if data == b'-' else bytes.fromhex(data.decode())
        seed = cls.to_bytes(2, 'little') + code.to_bytes(2, 'little') + data
        (out / f'{path.stem}-{number}.seed').write_bytes(seed)

"""Shared inputs of the fastreads tests: a FASTQ text with awkward but valid entries, the same
text compressed in each format, and a plain four-line reader to compare with."""

import gzip
import random
import shutil
import struct
import subprocess
import zlib
from pathlib import Path

import pytest

import fastreads

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"


def make_fastq(count=3000, seed=5):
    """FASTQ bytes: comments or none, latin-1 bytes in names, comments and qualities, lower
    case and N, empty and long reads."""
    rng = random.Random(seed)
    lines = []
    for i in range(count):
        length = rng.choice([0, 1, 35, 150, 151, 2000]) if i % 97 == 0 else rng.randint(20, 180)
        name = b"r%d" % i + (b"\xe9" if i % 50 == 7 else b"")
        comment = rng.choice([None, b"", b"1:N:0:ACGT", b"x=\xff y"])
        header = b"@" + name + (b"" if comment is None else b" " + comment)
        seq = bytes(rng.choice(b"ACGTNacgt") for _ in range(length))
        quals = bytes(rng.randint(33, 126) for _ in range(length))
        if i % 61 == 3 and length:
            quals = bytes([200]) + quals[1:]  # value 167, which wraps as int8
        lines += [header, seq, b"+", quals]
    return b"\n".join(lines) + b"\n"


def parse_fastq(data):
    """(name, comment, sequence, qualities) of a clean four-line FASTQ text, as latin-1 str."""
    lines = data.decode("latin-1").split("\n")
    out = []
    for k in range(0, len(lines) - 1, 4):
        header = lines[k][1:]
        name, blank, comment = header.partition(" ")
        out.append(fastreads.Record(name, lines[k + 1], lines[k + 3], comment if blank else None))
    return out


def bgzf(data, block=60000):
    """BGZF: one gzip member a block, each stating its size in a BC extra field, then the
    empty end-of-file block."""
    out = bytearray()
    pieces = [data[i : i + block] for i in range(0, len(data), block)] + [b""]
    for piece in pieces:
        deflate = zlib.compressobj(6, zlib.DEFLATED, -15)
        body = deflate.compress(piece) + deflate.flush()
        size = 12 + 6 + len(body) + 8  # header with XLEN, BC field, data, trailer
        out += b"\x1f\x8b\x08\x04\x00\x00\x00\x00\x00\xff\x06\x00"
        out += b"BC\x02\x00" + struct.pack("<H", size - 1)
        out += body + struct.pack("<II", zlib.crc32(piece), len(piece))
    return bytes(out)


def write_compressed(path, data, fmt):
    """Writes `data` to `path` in `fmt` ("plain", "gzip", "bgzf" or "zstd")."""
    if fmt == "plain":
        path.write_bytes(data)
    elif fmt == "gzip":
        path.write_bytes(gzip.compress(data, 6))
    elif fmt == "bgzf":
        path.write_bytes(bgzf(data))
    elif fmt == "zstd":
        if "zstd" not in fastreads.compressed_formats:
            pytest.skip("this build has no zstd")
        assert shutil.which("zstd"), "the zstd tool is not installed (Debian: zstd)"
        path.write_bytes(subprocess.run(["zstd", "-q", "-c"], input=data, check=True,
                                        stdout=subprocess.PIPE).stdout)
    return path


@pytest.fixture(scope="session")
def fastq_data():
    return make_fastq()


@pytest.fixture(scope="session")
def fastq_records(fastq_data):
    return parse_fastq(fastq_data)

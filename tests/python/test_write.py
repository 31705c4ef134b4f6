"""Writing: round trips byte for byte, refusals, files left only by a clean end."""

import gzip
import os
import subprocess
import sys

import pytest

import fastreads
from conftest import write_compressed

R = fastreads.Record


@pytest.mark.parametrize("threads", [0, 1])
@pytest.mark.parametrize("name, fmt, level", [
    ("o.fq", None, None), ("o.fq.gz", None, 1), ("o.fq.zst", None, 3), ("o.txt", "bgzf", 0),
])
@pytest.mark.parametrize("by", ["records", "batches"])
def test_round_trip(tmp_path, fastq_data, fastq_records, name, fmt, level, threads, by):
    if (name.endswith(".zst") or fmt == "zstd") and "zstd" not in fastreads.compressed_formats:
        pytest.skip("this build has no zstd")
    source = write_compressed(tmp_path / "in.fq", fastq_data, "plain")
    out = tmp_path / name
    with fastreads.open(source, batch_bytes=30000) as reader, \
            fastreads.open(out, mode="w", level=level, threads=threads, format=fmt) as writer:
        if by == "records":
            for record in reader:
                writer.write(record)
        else:
            for batch in reader.batches():
                writer.write_batch(batch)
    with fastreads.open(out) as reader:
        assert list(reader) == fastq_records
    text = out.read_bytes()
    if out.suffix == ".fq":
        assert text == fastq_data
    elif fmt == "bgzf" or out.suffix == ".gz":
        assert text[12:16] == b"BC\x02\x00" and gzip.decompress(text) == fastq_data


@pytest.mark.parametrize("bad, why", [
    (R("a b", "ACGT", "IIII"), "name holds a blank"),
    (R("a", "ACGT", "II\x00I"), ""),
    (R("a", "+CGT", "IIII"), ""),
    (R("a", "ACGT", "IIII", "x\ny"), ""),
    (R("a", "ACGT"), ""),  # FASTA after FASTQ
])
def test_refused_entries(tmp_path, bad, why):
    out = tmp_path / "o.fq"
    out.write_bytes(b"old")
    with pytest.raises(fastreads.FormatError, match=f"entry 4 .*{why}"):
        with fastreads.open(out, mode="w") as writer:
            for k in range(3):
                writer.write(R(f"r{k}", "AC", "II"))
            writer.write(bad)
    assert out.read_bytes() == b"old" and [p.name for p in tmp_path.iterdir()] == ["o.fq"]


def test_nothing_left_by_an_exception_or_a_dropped_writer(tmp_path):
    with pytest.raises(KeyError):
        with fastreads.open(tmp_path / "x.fq.gz", mode="w") as writer:
            writer.write(R("a", "ACGT", "IIII"))
            raise KeyError
    writer = fastreads.open(tmp_path / "y.fq", mode="w")
    writer.write(R("a", "ACGT", "IIII"))
    del writer
    assert list(tmp_path.iterdir()) == []


@pytest.mark.parametrize("width, text", [
    (0, b">a\nACGTACG\n>b\n\n>c x\nA+\n"),
    (3, b">a\nACG\nTAC\nG\n>b\n\n>c x\nA+\n"),
    (1, None),  # "+" would start a line
])
@pytest.mark.parametrize("sync", [True, False])
def test_wrapped_fasta(tmp_path, width, text, sync):
    records = [R("a", "ACGTACG"), R("b", ""), R("c", "A+", None, "x")]
    out = tmp_path / "o.fa"
    if text is None:
        with pytest.raises(fastreads.FormatError, match='entry 3 .*base 2: "\\+" would start'):
            with fastreads.open(out, mode="w", fasta_width=width, sync=sync) as writer:
                for r in records:
                    writer.write(r)
        assert list(tmp_path.iterdir()) == []
        return
    with fastreads.open(out, mode="w", fasta_width=width, sync=sync) as writer:
        for r in records:
            writer.write(r)
    assert out.read_bytes() == text
    with fastreads.open(out) as reader:
        assert list(reader) == records


def test_pairs(tmp_path, fastq_data, fastq_records):
    r1 = write_compressed(tmp_path / "r1.fq", fastq_data, "plain")
    with fastreads.open(r1, r1) as pairs, \
            fastreads.open(tmp_path / "o1.fq.gz", tmp_path / "o2.fq", mode="w", index=True) as out:
        for k, (first, second) in enumerate(pairs):
            out.write(first, second)
    with fastreads.open(tmp_path / "o1.fq.gz", tmp_path / "o2.fq") as pairs:
        assert [(a, b) for a, b in pairs] == [(r, r) for r in fastq_records]
    # Each file's index was written with it, and splits the pair.
    assert fastreads.Index(tmp_path / "o2.fq").entries == len(fastq_records)
    (split,) = fastreads.splits(tmp_path / "o1.fq.gz", 1, tmp_path / "o2.fq")
    with fastreads.open(split) as pairs:
        assert list(pairs) == [(r, r) for r in fastq_records]
    with pytest.raises(fastreads.FormatError, match="entry 2 has unpaired names"):
        with fastreads.open(tmp_path / "p1.fq", tmp_path / "p2.fq", mode="w") as out:
            out.write(R("a/1", "A", "I"), R("a/2", "A", "I"))
            out.write(R("b", "A", "I"), R("c", "A", "I"))
    assert not (tmp_path / "p1.fq").exists() and not (tmp_path / "p2.fq").exists()
    # One file of interleaved mates, read back as pairs; three files in step.
    with fastreads.open(r1, r1) as pairs, \
            fastreads.open(tmp_path / "i.fq.gz", mode="w", interleaved=True) as out, \
            fastreads.open(*(tmp_path / f"t{k}.fq" for k in range(3)), mode="w") as three:
        for first, second in pairs:
            out.write(first, second)
            three.write(first, second, first)
    with fastreads.open(tmp_path / "i.fq.gz", interleaved=True, batch_bytes=3000) as pairs:
        assert list(pairs) == [(r, r) for r in fastq_records]
    with fastreads.open(*(tmp_path / f"t{k}.fq" for k in range(3)), batch_bytes=5000) as three:
        assert isinstance(three, fastreads.TupleReader)
        assert list(three) == [(r, r, r) for r in fastq_records]
    with fastreads.open(*(tmp_path / f"t{k}.fq" for k in (0, 1, 2, 1))) as four:
        assert [len(b) for b in next(four.batches())] == [len(fastq_records)] * 4
    with pytest.raises(fastreads.FormatError, match="entries 3 and 4 have unpaired names"):
        with fastreads.open(tmp_path / "q.fq", mode="w", interleaved=True) as out:
            out.write(R("a/1", "A", "I"), R("a/2", "A", "I"))
            out.write(R("b", "A", "I"), R("c", "A", "I"))
    with pytest.raises(fastreads.FormatError, match="entry 2 has unpaired names.* in the third"):
        with fastreads.open(*(tmp_path / f"u{k}.fq" for k in range(3)), mode="w") as out:
            out.write(R("a", "A", "I"), R("a", "A", "I"), R("a", "A", "I"))
            out.write(R("b", "A", "I"), R("b", "A", "I"), R("c", "A", "I"))
    with pytest.raises(TypeError, match="takes 3 records"):
        with fastreads.open(*(tmp_path / f"v{k}.fq" for k in range(3)), mode="w") as out:
            out.write(R("a", "A", "I"), R("a", "A", "I"))
    assert not list(tmp_path.glob("[quv]*.fq"))
    # A second file that fails at the end, over a file size limit, keeps the first out too.
    script = (
        "import resource, signal, sys, fastreads\n"
        "signal.signal(signal.SIGXFSZ, signal.SIG_IGN)\n"
        "resource.setrlimit(resource.RLIMIT_FSIZE, (100000, 100000))\n"
        "R = fastreads.Record\n"
        "try:\n"
        "    with fastreads.open(sys.argv[1], sys.argv[2], mode='w', threads=1) as out:\n"
        "        for k in range(100):\n"
        "            out.write(R(f'r{k}/1', 'A', 'I'), R(f'r{k}/2', 'A' * 1000, 'I' * 1000))\n"
        "except OSError as e:\n"
        "    print(e)\n"
    )
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    done = subprocess.run([sys.executable, "-c", script, tmp_path / "p1.fq", tmp_path / "p2.fq"],
                          env=env, capture_output=True, text=True, check=True)
    assert done.stdout.endswith("File too large\n"), done.stdout + done.stderr
    assert not (tmp_path / "p1.fq").exists() and not (tmp_path / "p2.fq").exists()


def test_bad_arguments(tmp_path):
    cases = [
        (lambda w: w.write(R("\u0100", "A", "I")), ValueError),
        (lambda w: w.write(("a", "A", "I")), TypeError),
        (lambda w: w.write(R("a", "A", "I"), R("a", "A", "I")), TypeError),
    ]
    for use, error in cases:
        with fastreads.open(tmp_path / "o.fq", mode="w") as writer:
            with pytest.raises(error):
                use(writer)
            writer.write(R("ok", "A", "I"))
        assert (tmp_path / "o.fq").read_bytes() == b"@ok\nA\n+\nI\n"
    writer = fastreads.open(tmp_path / "o.fq", mode="w")
    writer.close()
    with pytest.raises(ValueError, match="closed"):
        writer.write(R("a", "A", "I"))
    for options in ({"format": "xz"}, {"level": 99}, {"batch_bytes": 5}, {"fasta_width": -1}):
        with pytest.raises(ValueError):
            fastreads.open(tmp_path / "z.fq.gz", mode="w", **options)
    for options in ({"sync": False}, {"fasta_width": 60}, {"index": True}):
        with pytest.raises(ValueError, match="for writing"):
            fastreads.open(tmp_path / "o.fq", **options)
    with pytest.raises(TypeError):
        fastreads.open(tmp_path / "z.fq", mode="w", sync=1)
    with pytest.raises(ValueError, match="only a file put in place has one"):
        fastreads.open("-", mode="w", index=True)
    with pytest.raises(FileNotFoundError):
        fastreads.open(tmp_path / "none" / "o.fq", mode="w")

"""Reading: records and batches against a plain reader of the same text, pairs, errors, the
GIL."""

import gzip
import os
import pickle
import random
import subprocess
import sys
import threading

import numpy
import pytest

import fastreads
from conftest import EXAMPLES, make_fastq, parse_fastq, write_compressed


def read_fifo(path, data, **options):
    os.mkfifo(path)
    feeder = threading.Thread(target=lambda: open(path, "wb").write(data))
    feeder.start()
    with fastreads.open(path, **options) as reader:
        records = list(reader)
    feeder.join()
    return records


def read_stdin(path, data, **options):
    code = ("import fastreads, pickle, sys\n"
            f"with fastreads.open('-', **{options!r}) as r:\n"
            "    sys.stdout.buffer.write(pickle.dumps(list(r)))\n")
    done = subprocess.run([sys.executable, "-c", code], input=data, stdout=subprocess.PIPE,
                          check=True)
    return pickle.loads(done.stdout)


@pytest.mark.parametrize("options", [{}, {"threads": 1}, {"threads": 3, "batch_bytes": 5000}])
@pytest.mark.parametrize("source", ["plain", "gzip", "bgzf", "zstd", "fifo", "stdin"])
def test_records_equal_the_text(tmp_path, fastq_data, fastq_records, source, options):
    path = tmp_path / "reads.fq"
    if source == "fifo":
        records = read_fifo(path, fastq_data, **options)
    elif source == "stdin":
        records = read_stdin(path, gzip.compress(fastq_data), **options)
    else:
        write_compressed(path, fastq_data, source)
        with fastreads.open(path, **options) as reader:
            records = list(reader)
    assert len(records) == len(fastq_records)
    assert records == fastq_records
    # str equality compares bytes only: the strings must also know whether they are ASCII.
    for r in records:
        for text in (r.name, r.comment or "", r.sequence, r.qualities):
            assert text.isascii() == text.encode("latin-1").isascii()


def test_example_file_and_biopython(tmp_path):
    with fastreads.open(str(EXAMPLES / "reads.fq")) as reader:
        records = list(reader)
    assert [r.name for r in records] == ["read1", "read2", "read3"]
    assert records[0] == fastreads.Record("read1", "ACGTACGTTTGACCAGTAGGCATA",
                                          "I" * 20 + "#" * 4, "lane=1 tile=7")
    import Bio.SeqIO.QualityIO as bio  # python3-biopython: a second reader to agree with
    data = make_fastq(500, seed=9).replace(b"\xe9", b"e").replace(b"\xff", b"f")
    data = bytes(b if b < 128 else 73 for b in data)
    (tmp_path / "r.fq").write_bytes(data)
    with open(tmp_path / "r.fq") as handle:
        theirs = [(t, s, q) for t, s, q in bio.FastqGeneralIterator(handle)]
    with fastreads.open(tmp_path / "r.fq") as reader:
        # Biopython drops the blank of an empty comment.
        ours = [((r.name + " " + (r.comment or "")).rstrip(), r.sequence, r.qualities)
                for r in reader]
    assert ours == theirs


def test_fasta_entries(tmp_path):
    (tmp_path / "a.fa").write_bytes(b">c1 chromosome\nACGT\nAC\n>c2\nGG\n")
    with fastreads.open(tmp_path / "a.fa") as reader:
        batch = next(reader.batches())
        assert list(batch) == [fastreads.Record("c1", "ACGTAC", None, "chromosome"),
                               fastreads.Record("c2", "GG")]
        assert batch.qualities.size == 0 and list(batch.offsets) == [0, 6, 8]


@pytest.mark.parametrize("threads", [1, 0])
def test_batches_equal_records(tmp_path, fastq_data, fastq_records, threads):
    path = write_compressed(tmp_path / "r.fq.gz", fastq_data, "bgzf")
    seen, kept, stale = [], [], []
    with fastreads.open(path, threads=threads, batch_bytes=20000) as reader:
        for batch in reader.batches():
            n = len(batch)
            offsets, seqs, quals = batch.offsets, batch.sequences, batch.qualities
            assert offsets.dtype == numpy.int64 and len(offsets) == n + 1
            assert seqs.dtype == numpy.uint8 and quals.dtype == numpy.int8
            assert offsets[0] == 0 and offsets[-1] == seqs.size == quals.size
            assert not seqs.flags.writeable
            assert batch.names == [r.name for r in batch]
            assert batch[-1] == list(batch)[-1]
            for i, record in enumerate(batch):
                span = slice(offsets[i], offsets[i + 1])
                assert seqs[span].tobytes().decode("latin-1") == record.sequence
                letters = ((quals[span].astype(numpy.int64) + 33) % 256).astype(numpy.uint8)
                assert letters.tobytes().decode("latin-1") == record.qualities
            seen += list(batch)
            if not kept:
                kept = [batch.copy(), batch[0]]
            stale.append(batch)
        assert len(stale) > 3
        # An old batch refuses to be read; a copy and records taken from it live on.
        for use in (len, lambda b: b.sequences, lambda b: b[0], lambda b: list(b), lambda b: b.names):
            with pytest.raises(ValueError, match="no longer valid"):
                use(stale[0])
    assert seen == fastq_records
    copy, first = kept
    assert list(copy) == fastq_records[: len(copy)] and first == fastq_records[0]
    means = numpy.add.reduceat(copy.qualities.astype(float), copy.offsets[:-1]) / numpy.diff(copy.offsets)
    assert means[1] == pytest.approx(numpy.mean([ord(c) - 33 for c in copy[1].qualities]))


def test_pairs_in_step_and_mismatch(tmp_path, fastq_data, fastq_records):
    r1 = write_compressed(tmp_path / "r1.fq.gz", fastq_data, "gzip")
    r2 = write_compressed(tmp_path / "r2.fq", fastq_data.replace(b" ", b"/2 ", 1), "plain")
    with fastreads.open(r1, r2, batch_bytes=8000) as pairs:
        assert isinstance(pairs, fastreads.PairReader)
        got = list(pairs)
    assert [a for a, _ in got] == fastq_records
    assert [b.name for _, b in got][1:] == [r.name for r in fastq_records][1:]
    with fastreads.open(r1, r2) as pairs:
        for first, second in pairs.batches():
            assert len(first) == len(second) and first.names[2:] == second.names[2:]
    other = parse_fastq(fastq_data)
    cut = fastq_data.replace(b"@r1500", b"@q1500", 1)
    (tmp_path / "bad.fq").write_bytes(cut)
    short = fastq_data[: fastq_data.index(b"@r2000")]
    (tmp_path / "short.fq").write_bytes(short)
    for path, message in [("bad.fq", r"1501.*r1500.*q1500|1501.*q1500.*r1500"),
                          ("short.fq", "")]:
        got = []
        with pytest.raises(fastreads.FormatError, match=message):
            with fastreads.open(r1, tmp_path / path) as pairs:
                for pair in pairs:
                    got.append(pair)
        assert [a for a, _ in got] == other[: len(got)]
    # A third file in step, named otherwise at one entry.
    with pytest.raises(fastreads.FormatError, match=r"entry 1501 .*q1500.* in the third"):
        with fastreads.open(r1, r2, tmp_path / "bad.fq", threads=1) as three:
            got = list(three)


def test_errors(tmp_path, fastq_data):
    (tmp_path / "t.fq.gz").write_bytes(gzip.compress(fastq_data)[:-5000])
    damaged = bytearray(gzip.compress(fastq_data))
    damaged[len(damaged) // 2] ^= 0xFF
    (tmp_path / "d.fq.gz").write_bytes(bytes(damaged))
    for name in ("t.fq.gz", "d.fq.gz"):
        got = []
        with pytest.raises(fastreads.FormatError, match=f"{name}: compressed data is"):
            with fastreads.open(tmp_path / name) as reader:
                got.extend(reader)
        assert len(got) < 3000
    with pytest.raises(FileNotFoundError) as missing:
        fastreads.open(tmp_path / "none.fq")
    assert missing.value.filename == str(tmp_path / "none.fq")
    with pytest.raises(IsADirectoryError):
        fastreads.open(tmp_path)
    bad_arguments = [
        ({"threads": -1}, ValueError), ({"batch_bytes": -1}, ValueError),
        ({"mode": "a"}, ValueError), ({"level": 3}, ValueError), ({"threads": 1.5}, TypeError),
    ]
    for options, error in bad_arguments:
        with pytest.raises(error):
            fastreads.open(EXAMPLES / "reads.fq", **options)
    with pytest.raises(TypeError):
        fastreads.open(3.5)
    with pytest.raises(ValueError):
        fastreads.open("a\0b")
    reader = fastreads.open(EXAMPLES / "reads.fq")
    reader.close()
    with pytest.raises(ValueError, match="closed"):
        list(reader)


def test_unreadable_file(tmp_path):
    path = tmp_path / "locked.fq"
    path.write_bytes(b"@a\nA\n+\nI\n")
    path.chmod(0)
    if os.geteuid() != 0:
        with pytest.raises(PermissionError):
            fastreads.open(path)
        return
    # Root reads every file: the open is tried as nobody, in a child.
    pid = os.fork()
    if pid == 0:
        code = 1
        try:
            os.setgid(65534)
            os.setuid(65534)
            fastreads.open(path)
        except PermissionError:
            code = 7
        finally:
            os._exit(code)
    assert os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]) == 7


def test_skipped_entries_are_counted(tmp_path):
    (tmp_path / "s.fq").write_bytes(b"@a\nACGT\n+\nIIIII\n@b\nAC\n+\nII\n")
    with fastreads.open(tmp_path / "s.fq") as reader:
        assert [r.name for r in reader] == ["b"]
        assert reader.skipped == 1


def test_reading_releases_the_gil(tmp_path, fastq_data, fastq_records):
    # A reader waiting on an empty pipe must let this thread go on and feed it.
    fifo = tmp_path / "pipe"
    os.mkfifo(fifo)
    results = {}

    def read(key, path):
        with fastreads.open(path) as reader:
            results[key] = list(reader)

    waiting = threading.Thread(target=read, args=("fifo", fifo))
    waiting.start()
    with open(fifo, "wb") as pipe:
        for k in range(0, len(fastq_data), 65536):
            pipe.write(fastq_data[k : k + 65536])
    # Two threads reading two files both finish.
    paths = [write_compressed(tmp_path / f"{k}.gz", fastq_data, "bgzf") for k in "ab"]
    readers = [threading.Thread(target=read, args=(k, p)) for k, p in zip("ab", paths)]
    for t in readers + [waiting]:
        t.start() if t is not waiting else None
    for t in readers + [waiting]:
        t.join(60)
        assert not t.is_alive()
    assert results["fifo"] == results["a"] == results["b"] == fastq_records


def test_record_by_hand():
    r = fastreads.Record("n\xe9", "ACGT", "II#!", comment="c")
    assert (r.name, r.sequence, r.qualities, r.comment, r.length) == ("n\xe9", "ACGT", "II#!", "c", 4)
    assert eval(repr(r), {"Record": fastreads.Record}) == r
    assert pickle.loads(pickle.dumps(r)) == r
    assert r != fastreads.Record("n\xe9", "ACGT", "II#!") and r != "n"
    assert fastreads.Record("a", "AC").qualities is None
    with pytest.raises(ValueError):
        fastreads.Record("a", "ACG", "II")
    with pytest.raises(TypeError):
        fastreads.Record("a", b"ACG")


def sam_records(count=400, seed=3):
    """SAM lines of every kind a BAM reader meets: unpaired and paired, both strands, secondary
    and supplementary records, no qualities, and tags of every type (samtools stores each
    integer in the smallest type that holds it)."""
    rng = random.Random(seed)
    integers = [-5, 200, -300, 40000, -70000, 3000000000, 0]
    lines = ["@HD\tVN:1.6\tSO:unsorted", "@SQ\tSN:chr1\tLN:100000"]
    for i in range(count):
        length = rng.randrange(0, 60)
        bases = "".join(rng.choice("ACGTNRYKMSWBDHVacgt") for _ in range(length)).upper()
        quals = "".join(chr(33 + rng.randrange(0, 94)) for _ in range(length))
        flag = rng.choice([0, 4, 16, 1 | 64, 1 | 128 | 16, 256, 2048 | 16, 512])
        tags = rng.sample([
            f"XA:A:{rng.choice('az!~')}", f"XI:i:{rng.choice(integers)}",
            f"XF:f:{rng.choice([0.5, -2.25, 1e-20, 123456.0, 3.0])}", "XZ:Z:a b\tc"[:8],
            "XH:H:1AE301", "BC:B:c,-1,2", "BS:B:S,1,65535", "BI:B:i,-7", "BF:B:f,0.25,-1",
            "BU:B:C", "RG:Z:lane1"], rng.randrange(0, 4))
        if length and rng.random() < 0.1:
            quals = "*"
        mapped = not flag & 4
        where = ("chr1", rng.randrange(1, 90000), 30, f"{length}M" if length else "*") \
            if mapped else ("*", 0, 0, "*")
        lines.append("\t".join([f"r{i}", str(flag), where[0], str(where[1]), str(where[2]),
                                where[3], "*", "0", "0", bases or "*", quals if length else "*"]
                               + tags))
    return "\n".join(lines) + "\n"


@pytest.mark.parametrize("packing", ["bgzf", "level 0", "uncompressed"])
def test_bam_reads_as_samtools_prints_it(tmp_path, packing):
    (tmp_path / "r.sam").write_text(sam_records())
    level = ["-b"] if packing == "bgzf" else ["-u"]
    subprocess.run(["samtools", "view", "--no-PG", *level, "-o", str(tmp_path / "r.bam"),
                    str(tmp_path / "r.sam")], check=True)
    if packing == "uncompressed":
        (tmp_path / "r.bam").write_bytes(gzip.decompress((tmp_path / "r.bam").read_bytes()))
    printed = subprocess.run(["samtools", "fastq", "-n", "-T", "*", str(tmp_path / "r.bam")],
                             check=True, capture_output=True).stdout.decode().split("\n")
    theirs = [(printed[i][1:], printed[i + 1], printed[i + 3])
              for i in range(0, len(printed) - 1, 4)]
    with fastreads.open(tmp_path / "r.bam", batch_bytes=3000, threads=2) as reader:
        ours = [(r.name + ("\t" + r.comment if r.comment else ""), r.sequence, r.qualities)
                for r in reader]
    assert len(ours) == len(theirs) > 250
    for (header, sequence, qualities), want in zip(ours, theirs):
        # samtools invents qualities where a record has none; the entry is a FASTA entry.
        assert (header, sequence, qualities or want[2]) == want


def test_damaged_bam(tmp_path):
    """Each damage fails the stream, naming what is wrong, after the records before it."""
    (tmp_path / "r.sam").write_text(sam_records(20))
    subprocess.run(["samtools", "view", "--no-PG", "-u", "-o", str(tmp_path / "r.bam"),
                    str(tmp_path / "r.sam")], check=True)
    data = gzip.decompress((tmp_path / "r.bam").read_bytes())
    first = data.index(b"r0\0") - 36  # the block size of the first record
    cases = {
        "BAM data ends inside record 1": data[:first + 20],
        "BAM data ends inside its header": data[:10],
        "BAM record 1 has an impossible length": data[:first] + b"\xff\xff\xff\x7f" + data[first + 4:],
        "BAM record 1 has a negative sequence length":
            data[:first + 20] + b"\xff\xff\xff\xff" + data[first + 24:],
        "BAM record 1 runs past its data": data[:first + 20] + b"\x00\x00\x01\x00" + data[first + 24:],
        "the BAM header's text has a negative length": data[:4] + b"\xff\xff\xff\xff" + data[8:],
    }
    for why, damaged in cases.items():
        (tmp_path / "d.bam").write_bytes(gzip.compress(damaged))
        with pytest.raises(fastreads.FormatError, match=why):
            list(fastreads.open(tmp_path / "d.bam"))


def test_interleaved_and_paired_bam(tmp_path, fastq_data, fastq_records):
    """Mates in turn in one file, FASTQ or a paired uBAM, read as pairs; an odd count fails."""
    text = b"".join(b"@p%d/%d\nACGT\n+\nIIII\n" % (k // 2, 1 + k % 2) for k in range(21))
    (tmp_path / "odd.fq").write_bytes(text)
    got = []
    with pytest.raises(fastreads.FormatError, match=r'entry 21 \("p10/1"\) has no mate'):
        with fastreads.open(tmp_path / "odd.fq", interleaved=True, batch_bytes=100) as pairs:
            got.extend(pairs)
    assert [(a.name, b.name) for a, b in got] == [(f"p{k}/1", f"p{k}/2") for k in range(10)]
    simple = fastq_data.replace(b"\xe9", b"e").replace(b"\xff", b"f")
    mates = [r for r in parse_fastq(bytes(b if b < 128 else 73 for b in simple))
             if r.name.isalnum() and r.sequence][:500]
    for k, path in enumerate(("r1.fq", "r2.fq")):
        (tmp_path / path).write_text("".join(f"@{r.name}/{k + 1}\n{r.sequence}\n+\n{r.qualities}\n"
                                             for r in mates))
    subprocess.run(["samtools", "import", "-1", str(tmp_path / "r1.fq"), "-2",
                    str(tmp_path / "r2.fq"), "-o", str(tmp_path / "p.bam")], check=True)
    with fastreads.open(tmp_path / "p.bam", interleaved=True) as pairs:
        got = list(pairs)
    # BAM holds no lower case.
    assert [(a.name, a.sequence, b.sequence) for a, b in got] == \
        [(r.name, r.sequence.upper(), r.sequence.upper()) for r in mates]
@pytest.mark.parametrize("fmt", ["plain", "gzip", "bgzf", "zstd"])
def test_index_splits_and_ranges(tmp_path, fastq_data, fastq_records, fmt):
    """Splits of every count cover the entries once, in order, also pickled and as pairs; a
    range reads exactly its entries; with the index the whole read is the same."""
    path = write_compressed(tmp_path / "reads.fq", fastq_data, fmt)
    if fmt == "zstd":
        # Frames of 20000 bytes of text, each a split point.
        pieces = [fastq_data[i:i + 20000] for i in range(0, len(fastq_data), 20000)]
        path.write_bytes(b"".join(write_compressed(tmp_path / "piece", p, fmt).read_bytes()
                                  for p in pieces))
    index = fastreads.index(path, spacing=3000)
    assert index.entries == len(fastq_records) and len(index.points()) > 10
    for n in (1, 2, 7, 64):
        splits = fastreads.splits(path, n, path)
        assert 1 <= len(splits) <= n
        assert splits[0].start == 0 and splits[-1].stop == len(fastq_records)
        firsts, seconds = [], []
        for split in splits:
            with fastreads.open(pickle.loads(pickle.dumps(split))) as pairs:
                for a, b in pairs:
                    firsts.append(a)
                    seconds.append(b)
        assert firsts == fastq_records and seconds == fastq_records
    for start, stop in [(0, 1), (1234, 1240), (2999, 3000), (17, None), (3000, 3000)]:
        with fastreads.open(path, start=start, stop=stop) as reader:
            assert list(reader) == fastq_records[start:stop]
    with fastreads.open(path) as reader:
        assert list(reader) == fastq_records
    with pytest.raises(ValueError):
        fastreads.open(path, start=5, stop=4)


def test_index_refusals(tmp_path, fastq_data, fastq_records):
    """A stale or damaged index is refused by name, the range read fails, and the whole read
    goes on in order."""
    path = write_compressed(tmp_path / "reads.fq.gz", fastq_data, "gzip")
    fastreads.index(path, spacing=3000)
    os.utime(path, ns=(1, 1))
    with pytest.raises(fastreads.FormatError, match="does not match .*stale"):
        fastreads.Index(path)
    with pytest.raises(fastreads.FormatError, match="modification time differs"):
        list(fastreads.open(path, start=10, stop=20))
    with fastreads.open(path) as reader:
        assert list(reader) == fastq_records
    ridx = str(path) + ".ridx"
    with open(ridx, "r+b") as f:
        f.truncate(100)
    with pytest.raises(fastreads.FormatError, match="damaged or truncated"):
        fastreads.Index(path)


def test_command_line(tmp_path, fastq_data, fastq_records):
    path = write_compressed(tmp_path / "reads.fq.gz", fastq_data, "bgzf")
    env = dict(os.environ)
    run = lambda *args: subprocess.run([sys.executable, "-m", "fastreads", *args], env=env,
                                       check=True, stdout=subprocess.PIPE).stdout
    run("index", "--spacing", "5000", str(path))
    import json
    spans = json.loads(run("splits", str(path), "3"))
    assert spans[0]["start"] == 0 and spans[-1]["stop"] == len(fastq_records)
    assert all(a["stop"] == b["start"] for a, b in zip(spans, spans[1:]))
    lines = fastq_data.split(b"\n")
    assert run("cat", str(path), "--start", "10", "--stop", "13") == b"\n".join(
        lines[40:52]) + b"\n"


def test_concat_parts(tmp_path, fastq_data, fastq_records):
    """Parts written apart join into one file, with its index, that reads as the whole."""
    for fmt, suffix in [("bgzf", ".gz"), ("zstd", ".zst"), ("plain", ".fq")]:
        if fmt == "zstd" and "zstd" not in fastreads.compressed_formats:
            continue
        parts = []
        for k, chunk in enumerate([fastq_records[:1000], fastq_records[1000:1001],
                                   fastq_records[1001:]]):
            part = tmp_path / f"part{k}{suffix}"
            with fastreads.open(part, mode="w", format=fmt) as writer:
                for record in chunk:
                    writer.write(record)
            parts.append(part)
        out = fastreads.concat(parts, tmp_path / f"all{suffix}")
        with fastreads.open(out) as reader:
            assert list(reader) == fastq_records
        assert fastreads.Index(out).entries == len(fastq_records)
        if fmt == "bgzf":
            # One end block, at the end.
            assert out.read_bytes().count(fastreads._BGZF_END) == 1
    with pytest.raises(ValueError, match="different kinds"):
        fastreads.concat([tmp_path / "part0.gz", tmp_path / "part0.fq"], tmp_path / "mixed")
    assert not (tmp_path / "mixed").exists()


def test_dask_bag_on_two_worker_processes(tmp_path, fastq_data, fastq_records):
    """A bag of one partition a split, computed on a cluster of two worker processes, holds
    the records, and the pairs, of the sequential read, in order."""
    import fastreads.dask
    from distributed import Client, LocalCluster

    path = write_compressed(tmp_path / "reads.fq.gz", fastq_data, "gzip")
    fastreads.index(path, spacing=5000)
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                      dashboard_address=None) as cluster, Client(cluster):
        bag = fastreads.dask.read(path, partitions=6)
        assert bag.npartitions > 1
        assert bag.compute() == fastq_records
        pairs = fastreads.dask.read(path, path, partitions=3).compute()
        assert [a for a, _ in pairs] == fastq_records and [b for _, b in pairs] == fastq_records

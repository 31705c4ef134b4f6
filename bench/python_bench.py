"""One measurement of bench/python_bench.sh: reads (or copies) a FASTQ file with fastreads or a
peer, prints "entries N, bases B" and the seconds of the reading loop alone ("loop S"), which
leave out the interpreter's start and the imports.
    python_bench.py CASE PATH [PATH2 | OUT]
CASE: ours, batches, dnaio, pyfastx, mappy, pysam, biopython (records of PATH); ours-pairs,
dnaio-pairs (PATH and PATH2 in step); ours-write (records of PATH to OUT, BGZF level 1);
baseline (the interpreter with fastreads imported)."""

import sys
import time


def main():
    case, path = sys.argv[1], sys.argv[2]
    other = sys.argv[3] if len(sys.argv) > 3 else None
    entries = bases = 0
    if case == "batches":
        import numpy  # noqa: F401  (imported by the first batch otherwise, inside the loop)
    start = time.perf_counter()
    if case == "ours":
        import fastreads

        with fastreads.open(path) as reader:
            for record in reader:
                entries += 1
                bases += len(record.sequence)
    elif case == "batches":
        import fastreads

        with fastreads.open(path) as reader:
            for batch in reader.batches():
                entries += len(batch)
                bases += batch.sequences.size
    elif case == "ours-pairs":
        import fastreads

        with fastreads.open(path, other) as reader:
            for first, second in reader:
                entries += 1
                bases += len(first.sequence) + len(second.sequence)
    elif case == "ours-write":
        import fastreads

        with fastreads.open(path) as reader, fastreads.open(other, mode="w", level=1) as writer:
            for record in reader:
                entries += 1
                bases += len(record.sequence)
                writer.write(record)
    elif case == "dnaio":
        import dnaio

        with dnaio.open(path) as reader:
            for record in reader:
                entries += 1
                bases += len(record.sequence)
    elif case == "dnaio-pairs":
        import dnaio

        with dnaio.open(path, file2=other) as reader:
            for first, second in reader:
                entries += 1
                bases += len(first.sequence) + len(second.sequence)
    elif case == "pyfastx":
        import pyfastx

        for entry in pyfastx.Fastx(path):  # (name, seq, qual[, comment])
            entries += 1
            bases += len(entry[1])
    elif case == "mappy":
        import mappy

        for _name, seq, _qual in mappy.fastx_read(path):
            entries += 1
            bases += len(seq)
    elif case == "pysam":
        import pysam

        with pysam.FastxFile(path) as reader:
            for entry in reader:
                entries += 1
                bases += len(entry.sequence)
    elif case == "biopython":
        import gzip

        from Bio.SeqIO.QualityIO import FastqGeneralIterator

        opener = gzip.open if path.endswith(".gz") else open
        with opener(path, "rt", encoding="latin-1") as handle:
            for _title, seq, _qual in FastqGeneralIterator(handle):
                entries += 1
                bases += len(seq)
    elif case == "baseline":
        import fastreads  # noqa: F401  (numpy is imported by batches only)
    else:
        sys.exit(f"unknown case {case}")
    print(f"entries {entries}, bases {bases}")
    print(f"loop {time.perf_counter() - start:.3f}")


main()

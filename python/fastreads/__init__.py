"""Fast FASTQ/FASTA reading and writing over the fast library's streaming reader and writer.

Records::

    with fastreads.open("reads.fq.gz") as reader:
        for record in reader:
            print(record.name, record.sequence, record.qualities)

Batches of entries as numpy arrays, for work done per batch rather than per read::

    with fastreads.open("reads.fq.gz") as reader:
        for batch in reader.batches():
            means = numpy.add.reduceat(batch.qualities, batch.offsets[:-1]) / ...

Text is read as latin-1: every byte of a file is one character of a str, so any byte
round-trips through a Record. Errors are Python's own: FileNotFoundError and the other
OSErrors for paths, FormatError (a ValueError) for damaged data, and ValueError for bad
arguments. Nothing is ever printed.
"""

import os as _os

from ._fastreads import (
    Batch,
    FormatError,
    PairReader,
    PairWriter,
    Reader,
    Record,
    TupleReader,
    TupleWriter,
    Writer,
    compressed_formats,
    library_version,
)

__all__ = [
    "Batch",
    "FormatError",
    "PairReader",
    "PairWriter",
    "Reader",
    "Record",
    "TupleReader",
    "TupleWriter",
    "Writer",
    "open",
]

__version__ = library_version

# The writer's formats, as fast.h numbers them.
_FORMATS = {None: 0, "plain": 1, "bgzf": 2, "gzip": 2, "zstd": 3}


def _path(path):
    """The path as bytes for the library: str, bytes or os.PathLike, or "-"."""
    try:
        return _os.fsencode(_os.fspath(path))
    except TypeError:
        raise TypeError(
            f"a path must be str, bytes or os.PathLike, not {type(path).__name__}"
        ) from None


def open(path, path2=None, *more, mode="r", threads=0, batch_bytes=0, level=None, format=None,
         sync=True, fasta_width=0, interleaved=False):
    """Open a FASTQ/FASTA file, or the two files of paired-end reads, to read or write.

    path, path2: str, bytes or os.PathLike; "-" is standard input (standard output for
        mode="w"). With path2 the two files are read or written in step: reading yields
        (first, second) pairs and checks that their names pair (equal up to the first blank
        or tab, a final "/1" or "/2" aside) and that both files end together.
    more: further paths, read or written in step with the first two (R1, R2, I1, I2): reading
        yields tuples of one record a file, every name checked against the first file's;
        writing takes write(*records), one a file.
    interleaved: with one path, the file holds the two records of each pair in turn: reading
        yields (first, second) pairs, checked as for two files (an odd count is a FormatError);
        writing takes write(first, second).
    mode: "r" to read (the default) or "w" to write.
    threads: at most this many threads in all, the caller's included; 1 reads in the calling
        thread, 0 (the default) as many as help: a thread that reads ahead and parses, and
        for gzip data one a core to inflate BGZF blocks.
    batch_bytes: the most text of one batch (0: 1 MiB), when reading.
    level: the compression level, when writing (None or 0: the format's default).
    format: when writing, "plain", "bgzf" (or "gzip") or "zstd"; None picks by the name:
        ".gz" and ".bgz" BGZF, ".zst" zstd, anything else plain.
    sync: when writing, whether a file is synced to the disk (fdatasync) before it is put in
        place. False is faster and still never leaves a partial file under the name when the
        process fails or is killed; what it gives up is a finished file surviving a crash of
        the machine. Meant for intermediate files.
    fasta_width: when writing, the most bases on a line of a FASTA entry; 0 (the default)
        writes each entry's bases on one line. Readers join the lines again. A FASTA entry
        whose line would start with "+" or ">" is refused (FormatError).

    Reading understands plain text, gzip (BGZF too), zstd, xz and bzip2 by their first bytes,
    pipes and FIFOs. A written file is put in place only when the with block ends without an
    exception; until then it is a file without a name (or, where the file system has no such
    files, a temporary file beside it), removed on an exception. The two files of a pair are
    both written and synced before either is put in place.

    Returns a Reader or PairReader (iterate it for Record objects, or call batches()), or a
    Writer or PairWriter. Raises FileNotFoundError, IsADirectoryError, PermissionError and
    the other OSErrors for paths, ValueError for bad arguments; reading raises FormatError
    for damaged or truncated data and names that do not pair.
    """
    if mode not in ("r", "w"):
        raise ValueError(f"mode must be 'r' or 'w', not {mode!r}")
    if not isinstance(interleaved, bool):
        raise TypeError(f"interleaved must be True or False, not {type(interleaved).__name__}")
    if more and path2 is None:
        raise ValueError("the second path is None")
    if interleaved and path2 is not None:
        raise ValueError("interleaved pairs are in one file")
    first = _path(path)
    second = None if path2 is None else _path(path2)
    others = [first, second] + [_path(p) for p in more] if more else None
    if mode == "r":
        if level is not None or format is not None or sync is not True or fasta_width:
            raise ValueError("level, format, sync and fasta_width are for writing")
        if others:
            return TupleReader(others, batch_bytes, threads)
        cls = Reader if second is None and not interleaved else PairReader
        return cls(first, second, batch_bytes, threads)
    if batch_bytes:
        raise ValueError("batch_bytes is for reading")
    if format not in _FORMATS:
        raise ValueError(f"format must be 'plain', 'bgzf', 'gzip', 'zstd' or None, not {format!r}")
    code = _FORMATS[format]
    lvl = 0 if level is None else level
    if not isinstance(sync, bool):
        raise TypeError(f"sync must be True or False, not {type(sync).__name__}")
    if others:
        return TupleWriter(others, code, lvl, threads, sync, fasta_width)
    if second is None and not interleaved:
        return Writer(first, code, lvl, threads, sync, fasta_width)
    return PairWriter(first, second, code, lvl, threads, sync, fasta_width)

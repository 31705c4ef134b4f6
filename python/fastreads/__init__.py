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
    _Index,
    compressed_formats,
    library_version,
)

__all__ = [
    "Batch",
    "FormatError",
    "Index",
    "PairReader",
    "PairWriter",
    "Reader",
    "Record",
    "Split",
    "TupleReader",
    "TupleWriter",
    "Writer",
    "concat",
    "index",
    "open",
    "splits",
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


class Split:
    """A span of entries [start, stop) of an indexed file, or of the two files of a pair.

    Made by Index.splits() and fastreads.splits(); fastreads.open(split) reads exactly its
    entries (as pairs when it has path2). A Split pickles, so a task on another process or
    machine can read its part of the read set where the files and their indexes are seen.
    """

    __slots__ = ("path", "path2", "start", "stop")

    def __init__(self, path, start, stop, path2=None):
        self.path = path
        self.path2 = path2
        self.start = int(start)
        self.stop = int(stop)

    def __len__(self):
        return self.stop - self.start

    def __eq__(self, other):
        return isinstance(other, Split) and self._key() == other._key()

    def __hash__(self):
        return hash(self._key())

    def _key(self):
        return (self.path, self.path2, self.start, self.stop)

    def __getstate__(self):
        return self._key()

    def __setstate__(self, state):
        self.path, self.path2, self.start, self.stop = state

    def __repr__(self):
        second = "" if self.path2 is None else f", path2={self.path2!r}"
        return f"fastreads.Split({self.path!r}, {self.start}, {self.stop}{second})"


class Index:
    """The record index of a read set, loaded from PATH.ridx (or index_path) and checked.

    Raises FormatError when the index is missing, damaged or truncated, of another version,
    or does not match the file (stale, or another file's): the message says which.
    """

    def __init__(self, path, index_path=None, *, _built=None):
        self.path = path
        self._index = _built or _Index(
            _path(path), None if index_path is None else _path(index_path), False, 0, 0
        )

    @property
    def entries(self):
        """The number of entries of the read set."""
        return self._index.entries

    @property
    def text_size(self):
        """The size of the read set's text in bytes."""
        return self._index.text_size

    def points(self):
        """The split points: (entry number, text offset of that entry) for each."""
        return self._index.points()

    def splits(self, n, path2=None):
        """Up to n Split objects of nearly equal text, at split points, together covering
        every entry exactly once, in order."""
        bounds = self._index.bounds(n)
        return [Split(self.path, a, b, path2) for a, b in zip(bounds, bounds[1:])]


def index(path, index_path=None, *, spacing=0, threads=0):
    """Build the record index of the regular file path in one pass and write it to
    index_path (None: path + ".ridx"), atomically. spacing is the text between split points
    (0: 4 MiB). Returns the Index. Raises FormatError when the file cannot be indexed
    (damaged text, changed while read) and OSError-style messages inside it for paths."""
    built = _Index(
        _path(path), None if index_path is None else _path(index_path), True, spacing, threads
    )
    return Index(path, _built=built)


def splits(path, n, path2=None):
    """Up to n Split objects of one indexed file, or of a pair whose second file path2 is
    indexed too and has as many entries: the spans are the first file's, and a pair's spans
    stay in step as they are the same entry numbers in both."""
    first = Index(path)
    if path2 is not None:
        second = Index(path2)
        if second.entries != first.entries:
            raise FormatError(
                f"the two files have {first.entries} and {second.entries} entries: not a pair"
            )
    return first.splits(n, path2)


# The empty block that ends a BGZF file.
_BGZF_END = bytes.fromhex("1f8b08040000000000ff0600424302001b0003000000000000000000")


def _kind(head):
    """The kind of a part by its first bytes: "gzip", "zstd" or "plain"."""
    if head[:2] == b"\x1f\x8b":
        return "gzip"
    if head[:4] == b"\x28\xb5\x2f\xfd":
        return "zstd"
    if head[:1] in (b"@", b">", b""):
        return "plain"
    raise ValueError(f"not a BGZF, zstd or plain FASTQ/FASTA part: starts with {head[:4]!r}")


def concat(parts, out, *, index=True):
    """Join the files `parts`, written apart (by tasks, say), into the one file out, exactly
    and in order, without recompressing: BGZF (or other gzip members), zstd frames or plain
    text, all of one kind. A BGZF part's end block is dropped, except the last part's. out is
    written beside its final name, synced and renamed into place, so that it is whole or
    absent; then, with index, its record index out + ".ridx" is made. Returns out.
    Raises ValueError for parts of different kinds or a plain part whose last line is not
    ended, OSError for paths."""
    import tempfile

    parts = [_os.fspath(p) for p in parts]
    kinds = set()
    for p in parts:
        with _builtin_open(p, "rb") as f:
            head = f.read(4)
            if _os.path.getsize(p) > 0:
                kinds.add(_kind(head))
                if head[:1] in (b"@", b">"):
                    f.seek(-1, 2)
                    if f.read(1) != b"\n":
                        raise ValueError(f"{p}: its last line has no line feed")
    if len(kinds) > 1:
        raise ValueError("the parts are of different kinds: " + ", ".join(sorted(kinds)))
    target = _os.fspath(out)
    folder = _os.path.dirname(_os.path.abspath(target))
    fd, temp = tempfile.mkstemp(prefix="." + _os.path.basename(target) + ".", dir=folder)
    try:
        with _os.fdopen(fd, "wb") as dst:
            for i, p in enumerate(parts):
                with _builtin_open(p, "rb") as src:
                    size = _os.fstat(src.fileno()).st_size
                    keep = size
                    if i + 1 < len(parts) and size >= len(_BGZF_END):
                        src.seek(size - len(_BGZF_END))
                        if src.read() == _BGZF_END:
                            keep = size - len(_BGZF_END)
                        src.seek(0)
                    left = keep
                    while left > 0:
                        chunk = src.read(min(left, 1 << 20))
                        if not chunk:
                            raise OSError(f"{p}: it shrank while it was read")
                        dst.write(chunk)
                        left -= len(chunk)
            dst.flush()
            _os.fsync(dst.fileno())
        _os.chmod(temp, 0o666 & ~_umask())
        _os.replace(temp, target)
    except BaseException:
        try:
            _os.unlink(temp)
        except OSError:
            pass
        raise
    dirfd = _os.open(folder, _os.O_RDONLY)
    try:
        _os.fsync(dirfd)
    finally:
        _os.close(dirfd)
    if index:
        globals()["index"](target)
    return out


def _umask():
    mask = _os.umask(0)
    _os.umask(mask)
    return mask


_builtin_open = open


def open(path, path2=None, *more, mode="r", threads=0, batch_bytes=0, level=None, format=None,
         sync=True, fasta_width=0, interleaved=False, start=None, stop=None, index=False):
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
    index: when writing, whether each file's record index PATH.ridx is written too, as
        fastreads.index() would build it, and put in place with the file: the file can then
        be split and read on every core at once with no pass of its own. A zstd file is then
        written as one frame a split point, about every 16 MiB of text.
    start, stop: when reading, only entries [start, stop) (stop None: to the end), read
        from the nearest split point of the file's index PATH.ridx (fastreads.index()). A
        Split in place of path reads its entries, as pairs when it has path2. An index that
        does not match its file fails the first read with FormatError saying why.

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
    if isinstance(path, Split):
        if path2 is not None or start is not None or stop is not None:
            raise ValueError("a Split says its own files and entries")
        path, path2, start, stop = path.path, path.path2, path.start, path.stop
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
        if level is not None or format is not None or sync is not True or fasta_width or index:
            raise ValueError("level, format, sync, fasta_width and index are for writing")
        if others:
            if start is not None or stop is not None:
                raise ValueError("start and stop read one file or a pair")
            return TupleReader(others, batch_bytes, threads)
        cls = Reader if second is None and not interleaved else PairReader
        if start is None and stop is None:
            return cls(first, second, batch_bytes, threads, -1, -1)
        begin = 0 if start is None else start
        if stop is None:
            stop = Index(path).entries
        if begin < 0 or stop < begin:
            raise ValueError(f"start and stop must be 0 <= start <= stop, not {begin} and {stop}")
        return cls(first, second, batch_bytes, threads, begin, stop)
    if start is not None or stop is not None:
        raise ValueError("start and stop are for reading")
    if batch_bytes:
        raise ValueError("batch_bytes is for reading")
    if format not in _FORMATS:
        raise ValueError(f"format must be 'plain', 'bgzf', 'gzip', 'zstd' or None, not {format!r}")
    code = _FORMATS[format]
    lvl = 0 if level is None else level
    for name, flag in (("sync", sync), ("index", index)):
        if not isinstance(flag, bool):
            raise TypeError(f"{name} must be True or False, not {type(flag).__name__}")
    if others:
        return TupleWriter(others, code, lvl, threads, sync, fasta_width, index)
    if second is None and not interleaved:
        return Writer(first, code, lvl, threads, sync, fasta_width, index)
    return PairWriter(first, second, code, lvl, threads, sync, fasta_width, index)

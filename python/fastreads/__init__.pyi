"""Fast FASTQ/FASTA reading and writing over the fast library's streaming reader and writer.

Every str read from or written to a file is latin-1: each byte is one character, so any byte
round-trips. Errors: OSError subclasses for paths, FormatError (a ValueError) for damaged
data, names that do not pair and entries the writer refuses, ValueError for bad arguments.
"""

import os
from types import TracebackType
from typing import Iterable, Iterator, List, Literal, Optional, Tuple, Type, TypeVar, Union, overload

import numpy
import numpy.typing

_Path = Union[str, bytes, os.PathLike[str], os.PathLike[bytes]]
_P = TypeVar("_P", str, bytes, os.PathLike)

__version__: str
library_version: str
compressed_formats: Tuple[str, ...]
"""The compressed formats this build reads: "gzip", and those of "zstd", "xz", "bzip2" it has."""

class FormatError(ValueError):
    """Damaged or truncated data, names that do not pair, or an entry the writer refuses.

    The message is the library's, after the path, e.g. "r.fq.gz: compressed data is truncated".
    """

class Record:
    """One FASTQ or FASTA entry.

    Each field is a str read as latin-1. Records compare equal when all four fields are equal,
    print as Record(name=..., sequence=..., qualities=..., comment=...), and pickle.
    """

    name: str
    """The header's text after "@" or ">" up to the first blank or tab."""
    comment: Optional[str]
    """The rest of the header line after that blank, or None when there is none."""
    sequence: str
    """The bases."""
    qualities: Optional[str]
    """The quality letters, Phred+33, one a base; None for a FASTA entry."""
    @property
    def length(self) -> int:
        """The number of bases."""
    def __init__(
        self,
        name: str,
        sequence: str,
        qualities: Optional[str] = None,
        comment: Optional[str] = None,
    ) -> None:
        """A record made by hand; qualities, when given, must be as long as sequence."""

class Batch:
    """The entries of one batch, as arrays.

    A batch read from a file is a view of the reader's memory: valid until the reader reads
    the next batch or is closed, after which every method raises ValueError (arrays taken
    from it earlier stay readable but then show other data). copy() keeps one. The entries'
    bases and quality values are gathered end to end once per batch, in the reading thread,
    without the GIL, into buffers reused from batch to batch; nothing is copied per access.
    """

    def __len__(self) -> int:
        """The number of entries."""
    @property
    def sequences(self) -> numpy.typing.NDArray[numpy.uint8]:
        """Every entry's bases, end to end (read-only); entry i is sequences[offsets[i]:offsets[i+1]]."""
    @property
    def qualities(self) -> numpy.typing.NDArray[numpy.int8]:
        """Quality values (not +33), laid out as sequences (read-only); empty when every entry
        is FASTA. A FASTA entry among FASTQ entries has -1 for each base."""
    @property
    def offsets(self) -> numpy.typing.NDArray[numpy.int64]:
        """len(batch) + 1 starts: entry i spans [offsets[i], offsets[i+1]) (read-only)."""
    @property
    def names(self) -> list[str]:
        """Every entry's name."""
    def __getitem__(self, index: int) -> Record:
        """Entry `index` (negative counts from the end) as a Record of its own."""
    def __iter__(self) -> Iterator[Record]:
        """The entries as Records, which own their strings and outlive the batch."""
    def copy(self) -> "Batch":
        """A copy that stays valid whatever the reader does."""

class Reader:
    """Reads one file; made by fastreads.open(path).

    Iterate it for Records, or call batches() for Batches; use one way per reader. Reading,
    decompressing and parsing run without the GIL, ahead of the caller unless threads=1.
    """

    def __iter__(self) -> Iterator[Record]:
        """The remaining entries as Records; FormatError on damaged data, never a silent end."""
    def batches(self) -> Iterator[Batch]:
        """The remaining entries a batch at a time; each Batch is valid until the next."""
    @property
    def closed(self) -> bool: ...
    @property
    def skipped(self) -> int:
        """Entries left out so far because their qualities and bases differ in length."""
    def close(self) -> None:
        """Ends the reading threads and closes the file; batches become invalid."""
    def __enter__(self) -> "Reader": ...
    def __exit__(
        self,
        exc_type: Optional[Type[BaseException]],
        exc: Optional[BaseException],
        tb: Optional[TracebackType],
    ) -> bool: ...

class PairReader(Reader):
    """Reads the two files of paired-end reads in step; made by fastreads.open(path, path2), or
    by fastreads.open(path, interleaved=True) for one file of mates in turn.

    Names must pair (equal up to the first blank or tab, a final /1 or /2 aside) and both
    files must end together, or FormatError names the entry or the file that ended first.
    """

    def __iter__(self) -> Iterator[Tuple[Record, Record]]:  # type: ignore[override]
        """The remaining pairs as (first, second) Records."""
    def batches(self) -> Iterator[Tuple[Batch, Batch]]:  # type: ignore[override]
        """The remaining pairs a batch of each file at a time; entry i of one pairs with entry i
        of the other."""
    def __enter__(self) -> "PairReader": ...

class TupleReader(Reader):
    """Reads three or more files in step (R1, R2, I1, I2); made by fastreads.open(p1, p2, p3, ...).

    Every file's names must pair with the first's, and every file must end with the first."""

    def __iter__(self) -> Iterator[Tuple[Record, ...]]:  # type: ignore[override]
        """The remaining entries as tuples of one Record a file."""
    def batches(self) -> Iterator[Tuple[Batch, ...]]:  # type: ignore[override]
        """A batch of each file at a time, all of one length."""
    def __enter__(self) -> "TupleReader": ...

class Writer:
    """Writes one file; made by fastreads.open(path, mode="w").

    Records are buffered and written a few hundred KB at a time without the GIL. The file is
    written without a name (or beside its final name, where the file system has no unnamed
    files) and put in place when the with block ends without an exception (or by close()); on
    an exception the partial file is removed, and a killed process leaves nothing.
    """

    def write(self, record: Record) -> None:
        """Writes one record. FormatError for an entry the library refuses (a blank or line
        feed in the name, a line feed in the comment, FASTA after FASTQ, ...), raised when its
        buffer is written: by this call, a later one or the end of the with block."""
    def write_batch(self, batch: Batch) -> None:
        """Writes every entry of a batch, without copying it."""
    def close(self) -> None:
        """Writes what is buffered, finishes the file and puts it in place."""
    @property
    def closed(self) -> bool: ...
    def __enter__(self) -> "Writer": ...
    def __exit__(
        self,
        exc_type: Optional[Type[BaseException]],
        exc: Optional[BaseException],
        tb: Optional[TracebackType],
    ) -> bool: ...

class PairWriter:
    """Writes the two files of paired-end reads in step; made by fastreads.open(p1, p2, mode="w"),
    or one file of mates in turn with fastreads.open(path, mode="w", interleaved=True).

    At the end both files are written and synced before either is put in place, so a failure
    there (a full disk, a failed sync) keeps neither."""

    def write(self, first: Record, second: Record) -> None:
        """Writes one pair."""
    def write_batch(self, first: Batch, second: Batch) -> None:
        """Writes two batches of equal length, entry i of one with entry i of the other."""
    def close(self) -> None: ...
    @property
    def closed(self) -> bool: ...
    def __enter__(self) -> "PairWriter": ...
    def __exit__(
        self,
        exc_type: Optional[Type[BaseException]],
        exc: Optional[BaseException],
        tb: Optional[TracebackType],
    ) -> bool: ...

class TupleWriter:
    """Writes three or more files in step; made by fastreads.open(p1, p2, p3, ..., mode="w").

    Every name is checked against the first file's; all files are put in place together."""

    def write(self, *records: Record) -> None:
        """Writes one record to each file."""
    def write_batch(self, *batches: Batch) -> None:
        """Writes one batch to each file, all of one length."""
    def close(self) -> None: ...
    @property
    def closed(self) -> bool: ...
    def __enter__(self) -> "TupleWriter": ...
    def __exit__(
        self,
        exc_type: Optional[Type[BaseException]],
        exc: Optional[BaseException],
        tb: Optional[TracebackType],
    ) -> bool: ...

class Split:
    """Entries [start, stop) of an indexed file, or of a pair's two files; pickles."""
    path: _Path
    path2: Optional[_Path]
    start: int
    stop: int
    def __init__(self, path: _Path, start: int, stop: int, path2: Optional[_Path] = ...) -> None: ...
    def __len__(self) -> int: ...

class Index:
    """A read set's record index (PATH.ridx), loaded and checked against its file."""
    path: _Path
    def __init__(self, path: _Path, index_path: Optional[_Path] = ...) -> None: ...
    @property
    def entries(self) -> int: ...
    @property
    def text_size(self) -> int: ...
    def points(self) -> List[Tuple[int, int]]: ...
    def splits(self, n: int, path2: Optional[_Path] = ...) -> List[Split]: ...

def index(path: _Path, index_path: Optional[_Path] = ..., *, spacing: int = ...,
          threads: int = ...) -> Index: ...
def splits(path: _Path, n: int, path2: Optional[_Path] = ...) -> List[Split]: ...
def concat(parts: Iterable[_Path], out: _P, *, index: bool = ...) -> _P: ...

@overload
def open(
    path: Split, path2: None = ..., *, mode: Literal["r"] = ..., threads: int = ...,
    batch_bytes: int = ...,
) -> Reader: ...
@overload
def open(
    path: _Path, path2: None = ..., *, mode: Literal["r"] = ..., threads: int = ...,
    batch_bytes: int = ..., interleaved: Literal[False] = ..., start: Optional[int] = ...,
    stop: Optional[int] = ...,
) -> Reader: ...
@overload
def open(
    path: _Path, path2: None = ..., *, mode: Literal["r"] = ..., threads: int = ...,
    batch_bytes: int = ..., interleaved: Literal[True],
) -> PairReader: ...
@overload
def open(
    path: _Path, path2: _Path, path3: _Path, *more: _Path, mode: Literal["r"] = ...,
    threads: int = ..., batch_bytes: int = ...,
) -> TupleReader: ...
@overload
def open(
    path: _Path, path2: _Path, path3: _Path, *more: _Path, mode: Literal["w"],
    threads: int = ..., level: Optional[int] = ..., format: Optional[str] = ...,
    sync: bool = ..., fasta_width: int = ..., index: bool = ...,
) -> TupleWriter: ...
@overload
def open(
    path: _Path, path2: None = ..., *, mode: Literal["w"], interleaved: Literal[True],
    threads: int = ..., level: Optional[int] = ..., format: Optional[str] = ...,
    sync: bool = ..., fasta_width: int = ..., index: bool = ...,
) -> PairWriter: ...
@overload
def open(
    path: _Path, path2: _Path, *, mode: Literal["r"] = ..., threads: int = ...,
    batch_bytes: int = ..., start: Optional[int] = ..., stop: Optional[int] = ...,
) -> PairReader: ...
@overload
def open(
    path: _Path, path2: None = ..., *, mode: Literal["w"], threads: int = ...,
    level: Optional[int] = ..., format: Optional[str] = ..., sync: bool = ...,
    fasta_width: int = ..., index: bool = ...,
) -> Writer: ...
@overload
def open(
    path: _Path, path2: _Path, *, mode: Literal["w"], threads: int = ...,
    level: Optional[int] = ..., format: Optional[str] = ..., sync: bool = ...,
    fasta_width: int = ..., index: bool = ...,
) -> PairWriter: ...

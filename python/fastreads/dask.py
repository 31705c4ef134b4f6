"""Dask over fastreads: a read set, or a pair, as a dask.bag.Bag with one partition a Split.

    import fastreads.dask
    bag = fastreads.dask.read("reads.fq.gz")          # its index is made first if missing
    bag.count().compute()
    bag.filter(lambda r: "N" not in r.sequence).count().compute()

Dask is imported here only: the rest of fastreads never needs it.
"""

import os as _os

import dask.bag as _bag

import fastreads as _fastreads

__all__ = ["read"]


def _records(splits):
    """The entries of a partition's Splits: records, or (first, second) pairs."""
    out = []
    for split in splits:
        with _fastreads.open(split) as reader:
            out.extend(reader)
    return out


def read(path, path2=None, partitions=None):
    """A dask.bag.Bag of the records of path, or of the (first, second) pairs of path and
    path2, in order, one partition a Split of nearly equal text at the index's split points.

    partitions: how many at the most (None: four a core of this machine, at least one a
        split point apart). The files' indexes (path + ".ridx") are made first where they
        are missing; an index that does not match its file raises FormatError. The workers
        must see the files and their indexes at the same paths.
    """
    for p in (path, path2):
        if p is not None and not _os.path.exists(_os.fsdecode(p) + ".ridx"):
            _fastreads.index(p)
    n = partitions if partitions is not None else 4 * (_os.cpu_count() or 1)
    parts = _fastreads.splits(path, n, path2)
    return _bag.from_sequence(parts, npartitions=max(1, len(parts))).map_partitions(_records)

"""Partitioned data sets generated on Dask: one part file per contiguous id range.

Every entity owns its random stream, so any id range can be built on any worker, and the JSON
Lines parts of a data set, concatenated in name order, are byte for byte one ``tessary.write`` of
the whole range. The work runs on the current Dask scheduler: the local one by default, the
active ``distributed.Client`` when there is one.

A data set folder holds, in the order they are written:

- ``_tessary.json``, the intent: seed, scale, format, compression, the specs document and its
  SHA-256, the package and stream versions, and the id ranges of the parts;
- the parts, ``part-{start:020d}-{stop:020d}`` plus the format's suffix (names sort in id order),
  each written under a temporary name unique to the attempt and renamed when complete, so a part
  under its final name is whole;
- ``_manifest.json``, the intent plus the digest algorithm (``"digest"``: ``"sha256"``, the
  default, or ``"xxh128"``) and each part's byte count and the digest of its bytes and of its
  uncompressed text, under the algorithm's name (``"sha256"`` and ``"text_sha256"``, or
  ``"xxh128"`` and ``"text_xxh128"``): its presence says the data set is complete.

``write_dataset`` writes each table of a ``tessary.Dataset`` as such a folder, under the table's
name; its intent file also holds the data set (seed, document, table name), which rebuilds the
references of its parts.

Writers must not share a folder: one call (with its retries) writes a data set at a time. On a
cluster of several machines a local path must be a filesystem that every worker sees.
"""

from __future__ import annotations

try:
    import fsspec  # type: ignore[import-untyped]  # noqa: F401
    from dask.base import compute  # noqa: F401
except ImportError as error:
    raise ImportError(
        f"tessary.dask needs the optional dependencies ({error.name} is missing): "
        "pip install 'tessary[dask]'"
    ) from error

from tessary.dask.folder import INTENT, MANIFEST, Problem
from tessary.dask.frames import dataframe, dataframes
from tessary.dask.planning import MAX_PARTITIONS, PART_TEXT_BYTES, plan_ranges
from tessary.dask.verifying import verify
from tessary.dask.writing import WriteSummary, write, write_dataset

__all__ = [
    "INTENT",
    "MANIFEST",
    "MAX_PARTITIONS",
    "PART_TEXT_BYTES",
    "Problem",
    "WriteSummary",
    "dataframe",
    "dataframes",
    "plan_ranges",
    "verify",
    "write",
    "write_dataset",
]

"""Tessary: reproducible synthetic entities by seeded Monte Carlo sampling.

``Table(seed, scale, specs_json)`` reads a specs document once and stands for the ``scale``
entities it describes, each with an ``id`` and one member per attribute spec; the same arguments
give the same entities on any number of threads. From a Table (or any slice of its ids) come
their text (``text()``), files and file objects (``write``, as JSON or JSON Lines, optionally
compressed, or Parquet), chunks of bytes (``iter_text``), Arrow record batches (``batches``, and
the Arrow stream interface that pyarrow, Polars and DuckDB read), and partitioned data sets on
Dask (``tessary.dask``). The functions ``write``, ``iter_text`` and ``generate_batches`` do the
same from the arguments of a Table; ``generate_entities(seed, scale, specs_json)`` returns the JSON
text of the whole data set. ``Dataset(seed, document_json)`` reads a document of several tables
whose ``reference`` attributes point at one another; each of its tables is a Table.
``make_seed()`` draws a fresh seed from the operating system.

``STREAM_VERSION`` numbers the stream contract (docs/stability.md): the same arguments give the same
bytes for as long as it stays the same, and any change of a single output byte raises it.
"""

from typing import Any, Final

from tessary._core import generate_entities, make_seed
from tessary.checking import SpecProblem, check_specs
from tessary.columns import generate_batches
from tessary.dataset import Dataset
from tessary.table import Table
from tessary.writing import WriteResult, iter_text, write

__version__ = "0.1.0"

# The version of the byte streams: the same seed, scale, specs and format give the same bytes in
# every release that has the same stream version (docs/stability.md).
STREAM_VERSION: Final = 2

__all__ = [
    "Dataset",
    "PanicException",
    "SpecProblem",
    "STREAM_VERSION",
    "Table",
    "WriteResult",
    "__version__",
    "check_specs",
    "generate_batches",
    "generate_entities",
    "iter_text",
    "make_seed",
    "write",
]


def __getattr__(name: str) -> Any:
    # The exception type is created on first use, as both extension modules raise it: looking it
    # up here is such a use.
    if name == "PanicException":
        from tessary import _engine

        return _engine.panic_exception()
    raise AttributeError(f"module 'tessary' has no attribute {name!r}")

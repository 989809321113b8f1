"""What a write reports: its counts and digests."""

from __future__ import annotations

from dataclasses import dataclass

# Digest algorithms, by the names the API and data set manifests use. SHA-256 is the default:
# it is what a user compares with other tools. XXH3-128 detects accidental corruption only, at
# several times the speed.
DIGESTS = ("sha256", "xxh128")


@dataclass(frozen=True)
class WriteResult:
    """What a call of :func:`write` wrote.

    ``entities`` and ``text_bytes`` count the entities and the bytes of their uncompressed text;
    ``bytes_written`` counts what reached the target. With a digest, ``digest`` is the digest
    (lower-case hex) of the bytes written and ``text_digest`` that of the uncompressed text (the
    same when nothing is compressed), by ``digest_algorithm`` (``"sha256"`` or ``"xxh128"``,
    XXH3-128 in the canonical big-endian form that ``xxh128sum`` prints); ``sha256`` and
    ``text_sha256`` repeat them for SHA-256 only. Without a digest all five are None.
    """

    entities: int
    text_bytes: int
    bytes_written: int
    sha256: str | None = None
    text_sha256: str | None = None
    digest: str | None = None
    text_digest: str | None = None
    digest_algorithm: str | None = None

    @classmethod
    def of(
        cls,
        entities: int,
        text_bytes: int,
        bytes_written: int,
        digest: str | None,
        text_digest: str | None,
        algorithm: str | None,
    ) -> WriteResult:
        """The result of a write with these digests by that algorithm (None: no digest)."""
        sha256 = algorithm == "sha256"
        return cls(
            entities, text_bytes, bytes_written,
            digest if sha256 else None, text_digest if sha256 else None,
            digest, text_digest, algorithm,
        )


def digest_algorithm(digest: bool | str | None) -> str | None:
    """The algorithm a ``digest`` argument asks for: None for False (or None), ``"sha256"`` for
    True, else the name itself, which must be one of DIGESTS (ValueError; TypeError for another
    type)."""
    if digest is None or digest is False:
        return None
    if digest is True:
        return "sha256"
    if not isinstance(digest, str):
        raise TypeError(
            f"digest must be True, False or one of {', '.join(map(repr, DIGESTS))}, "
            f"not {type(digest).__name__}"
        )
    if digest not in DIGESTS:
        raise ValueError(f"unknown digest {digest!r}: the accepted ones are {', '.join(DIGESTS)}")
    return digest

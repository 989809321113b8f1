def make_seed(seed: int | None = None) -> int:
    """Return a u64 seed derived from an optional user-supplied seed.
    Passing None draws from the OS entropy source."""

def generate_entities(seed: int, scale: int, specs_json: str) -> str:
    """Generate `scale` entities using Monte Carlo sampling.

    `specs_json` is a JSON array of attribute spec objects, e.g.:
      [{"name":"age","type":"uniform_int","low":18,"high":80}, ...]

    Returns a JSON string (array of entity objects)."""

__all__: list[str]

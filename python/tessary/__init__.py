"""Tessary: reproducible synthetic entities by seeded Monte Carlo sampling."""

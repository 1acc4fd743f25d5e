"""Tests of the chunked filters on Dask (a package, so that its conftest keeps its own name)."""

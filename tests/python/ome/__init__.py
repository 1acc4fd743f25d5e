"""Tests of the OME-Zarr pyramids and the command line (a package, so that module names stay unique)."""

"""The release a factory can verify: one ZIP per architecture with stripped binaries, a
symbols ZIP beside it, and SHA-256 sums, the same bytes from the same commit.

archive.py writes ZIPs and sums from bytes alone (no clock, no file times, no owner);
cli.py is `scripts/release` and `scripts/check-reproducible`.
"""

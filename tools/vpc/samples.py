"""The sample run list and its package sources, as scripts/demo and the report's picture
in docs/ rehearse them."""

import os
import shutil

from .check import REPO

RUN_LIST = os.path.join(REPO, "samples", "RUN.NUV")
# Where samples/RUN.NUV expects each package, and where the build puts it.
PACKAGES = (("C/VELK/APPS/NOTES/NotesSetup.exe", "samples/NotesSetup.exe"),
            ("C/VELK/APPS/TOOLS/VelkTools.msi", "samples/VelkTools.msi"))


def lay_out_sources(build, sources):
    """Copies the built sample packages into a new sources folder, one folder per drive."""
    for target, built in PACKAGES:
        os.makedirs(os.path.dirname(os.path.join(sources, target)), exist_ok=True)
        shutil.copyfile(os.path.join(build, built), os.path.join(sources, target))

"""The virtual PC: a fresh Wine prefix that stands for one factory PC, 32-bit (NT or 9x
family) or 64-bit (NT family), with the tools that use it.

Modules by concern: host (what this machine runs), prefix (the prefix, its drives and
files), registry, screen, boot (power on, restarts, power cuts), pc (VirtualPC itself),
check (the run-list check), machine_diff (the machine's state read from Linux, and what
changed), report (report.html and report.txt, from templates/), rehearse (a run list run
to its end, with its report), matrix (many lists on many machines at once, and their
index), campaign (power cuts during installations),
fixup_campaign (power cuts during Hobrint's rewrite), cli (scripts/vpc). The PC itself
needs the standard library only; the report needs Jinja2. Scripts and tests put the
folder tools/ on their path and `import vpc`.
"""

from .boot import BOOT_MARK
from .host import ARCHS, VpcError, can_run, can_run_32bit_programs, runnable_archs, selected_archs
from .pc import Result, VirtualPC
from .prefix import template_path
from .registry import RUN_KEY
from .screen import read_png, shows_text, write_png

"""``python -m nvfiltering``: the ``nvfiltering`` command."""

import sys

from ._cli import main

sys.exit(main())

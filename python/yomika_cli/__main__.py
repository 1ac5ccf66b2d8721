"""Runs the converter as ``python -m yomika_cli``."""
import sys

from yomika_cli import main

sys.exit(main())

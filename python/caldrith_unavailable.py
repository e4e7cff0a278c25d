"""Installed as `caldrith` where its eight functions are not built: they take C API that only
CPython 3.14 has, so their extension module exists for the regular CPython 3.14 alone. Importing
this module raises ImportError saying so; caldrith_ld, the modellers' module, works on every
CPython from 3.11."""

import sys
import sysconfig

_FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
_INTERPRETER = f"CPython {sys.version_info.major}.{sys.version_info.minor}" + (
    " (free-threaded)" if _FREE_THREADED else "")

if sys.version_info[:2] == (3, 14) and not _FREE_THREADED:
    _WHY = "this build left them out (CALDRITH_BUILD_EIGHT_FUNCTIONS=OFF); a plain `pip install .` builds them"
else:
    _WHY = ("their extension module uses C API that only CPython 3.14 has, and is built for the regular "
            "(not free-threaded) CPython 3.14 alone")

raise ImportError(
    f"caldrith's eight functions are not installed for {_INTERPRETER}: {_WHY}. caldrith_ld, the modellers' "
    "module, is installed and works here: import caldrith_ld.",
    name="caldrith",
)

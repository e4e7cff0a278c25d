"""The parameter names of caldrith's eight functions, read from their text signatures (imported by
caldrith's own tests alone: conftest.py serves caldrith_ld's too, where caldrith is not built)."""

import caldrith
from conftest import VALID_CALLS

PARAMETERS = {
    name: getattr(caldrith, name).__text_signature__.strip("()").split(", ") for name in VALID_CALLS
}

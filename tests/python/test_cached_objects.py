"""The Python objects the module looks up once and keeps (collections.abc.Sequence, named in the
message for a non-sequence argument): a lookup that calls back into the module, and a lookup that
fails at interpreter teardown, both still give the TypeError naming 'Sequence'.

Each runs in a fresh interpreter (the lookup happens once per process), with a timeout since the
fault guarded against is a thread waiting for itself."""

import json
import textwrap

from conftest import run_python

MESSAGE = "'dict' object is not an instance of 'Sequence'"


def run(body):
    return run_python("import json, sys, types\nimport caldrith\n" + textwrap.dedent(body), timeout=60)


def test_lookup_that_calls_back_into_the_module_does_not_wait_for_itself():
    completed = run(
        """
        real = sys.modules["collections.abc"]
        inner = []

        def lookup(name):
            # Called while the module looks Sequence up for the outer call.
            try:
                caldrith.witt_mao_magnification({}, 1.0, 0.1)
            except Exception as error:
                inner.append([type(error).__name__, str(error)])
            return getattr(real, name)

        stand_in = types.ModuleType("collections.abc")
        stand_in.__getattr__ = lookup
        sys.modules["collections.abc"] = stand_in
        outcomes = []
        for _ in range(2):
            try:
                caldrith.witt_mao_magnification({}, 1.0, 0.1)
            except TypeError as error:
                outcomes.append(str(error))
        sys.modules["collections.abc"] = real
        print(json.dumps([inner, outcomes, caldrith.witt_mao_magnification([0.5], 1.0, 0.1)]))
        """
    )
    inner, outcomes, result = json.loads(completed.stdout)
    # The lookup ran once, for the first outer call; its value was kept for the second.
    assert inner == [["TypeError", MESSAGE]]
    assert outcomes == [MESSAGE, MESSAGE]
    assert len(result) == 1


def test_non_sequence_at_interpreter_teardown_raises_the_type_error():
    # The first non-sequence argument of the process arrives from a finaliser that runs while the
    # interpreter shuts down, when collections.abc can no longer be imported.
    completed = run(
        """
        import os

        class Late:
            def __init__(self):
                self.call = caldrith.witt_mao_magnification
                self.write = os.write

            def __del__(self):
                try:
                    self.call({}, 1.0, 0.1)
                    outcome = ["returned"]
                except BaseException as error:
                    outcome = [type(error).__name__, str(error)]
                self.write(1, (repr(outcome) + "\\n").encode())

        late = Late()
        """
    )
    assert completed.stdout == repr(["TypeError", MESSAGE]) + "\n"


def test_keyboard_interrupt_in_the_lookup_passes_through():
    # Ctrl-C while collections.abc.Sequence is looked up ends the call with KeyboardInterrupt, as it
    # is (no TypeError, no parameter note); the next call looks it up again.
    completed = run(
        """
        real = sys.modules["collections.abc"]

        def lookup(name):
            raise KeyboardInterrupt

        stand_in = types.ModuleType("collections.abc")
        stand_in.__getattr__ = lookup
        sys.modules["collections.abc"] = stand_in
        try:
            caldrith.witt_mao_magnification({}, 1.0, 0.1)
            first = ["returned"]
        except BaseException as error:
            first = [type(error).__name__, getattr(error, "__notes__", [])]
        sys.modules["collections.abc"] = real
        try:
            caldrith.witt_mao_magnification({}, 1.0, 0.1)
        except TypeError as error:
            second = str(error)
        print(json.dumps([first, second]))
        """
    )
    first, second = json.loads(completed.stdout)
    assert first == ["KeyboardInterrupt", []]
    assert second == MESSAGE

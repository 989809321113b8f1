"""The module in the life of a process: imports, subinterpreters, leaks, signals."""

import contextlib
import gc
import os
import sys
import textwrap
import time

import pytest

from helpers import FIVE_SPECS, interrupt, resident_kib, run_python


def test_import_from_a_legacy_subinterpreter_is_refused():
    code = textwrap.dedent(
        """
        import _interpreters
        import tessary._core
        interp = _interpreters.create('legacy')
        script = (
            "try:\\n"
            "    import tessary._core\\n"
            "    print('imported')\\n"
            "except ImportError as e:\\n"
            "    print('ImportError', e)\\n"
        )
        _interpreters.run_string(interp, script)
        _interpreters.destroy(interp)
        print(tessary._core.generate_entities(1, 1, '[]'))
        """
    )
    result = run_python(code)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[0].startswith("ImportError ")
    assert "subinterpreters" in lines[0]
    assert lines[1] == '[{"id":0}]'


def test_reimport_returns_the_same_module():
    code = textwrap.dedent(
        """
        import sys
        import tessary._core as first
        del sys.modules['tessary._core']
        import tessary._core as second
        print(first is second)
        """
    )
    result = run_python(code)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "True"


@pytest.mark.skipif(not os.path.exists("/proc/self/status"), reason="needs /proc")
@pytest.mark.slow
def test_no_leak_over_many_calls_successful_and_failing():
    from tessary import generate_entities, make_seed

    bad_spec = '[{"name":"a","type":"uniform_int","low":1,"high":0}]'
    specs = FIVE_SPECS

    def round_of_calls():
        for i in range(1000):
            generate_entities(i, 20, specs)
            make_seed(i)
            with contextlib.suppress(ValueError):
                generate_entities(i, 5, '[{"name":"a"')
            with contextlib.suppress(BaseException):  # PanicException
                generate_entities(i, 5, bad_spec)
            with contextlib.suppress(OverflowError):
                generate_entities(-1, 5, specs)

    round_of_calls()  # warm up: pool, caches, the exception type
    gc.collect()
    # A reference kept to an argument would show in its count.
    watched = [specs, bad_spec]
    before_counts = [sys.getrefcount(obj) for obj in watched]
    before_refs = sys.gettotalrefcount() if hasattr(sys, "gettotalrefcount") else None
    before_blocks = sys.getallocatedblocks()
    before_rss = resident_kib()
    for _ in range(10):
        round_of_calls()
    gc.collect()
    assert [sys.getrefcount(obj) for obj in watched] == before_counts
    # Python objects: a leaked str, tuple or exception per call would show up in thousands.
    assert sys.getallocatedblocks() - before_blocks < 500
    if before_refs is not None:
        assert sys.gettotalrefcount() - before_refs < 500
    # Native memory: 40,000 calls leaking even 100 bytes each would be 4 MB.
    assert resident_kib() - before_rss < 3000


LONG_CALL = textwrap.dedent(
    """
    import json, signal, sys, tessary
    # Python leaves SIGINT ignored when it starts ignored, as it does for a job that a shell put in
    # the background: restore the handler that raises KeyboardInterrupt.
    signal.signal(signal.SIGINT, signal.default_int_handler)
    specs, scale = {specs}, {scale}
    print("ready", flush=True)
    try:
        tessary.generate_entities(1, scale, specs)
        print("finished", flush=True)
    except KeyboardInterrupt:
        print("interrupted", flush=True)
    """
)

# Documents whose calls would take many minutes without needing much memory.
SLOW_DOCUMENTS = {
    # A thousand specs sharing one name: slow entities with a small text.
    "many specs": (
        'json.dumps([{"name": "a", "type": "normal", "mean": 0, "std_dev": 1}] * 1000)',
        50_000_000,
    ),
    # One pick among four million weights so large that their sum must be scaled, which the
    # pick's search does not cover: each entity scans milliseconds of weights, so blocks must be
    # cut by that work, not by the entity's short text.
    "four million weights": (
        'json.dumps([{"name": "a", "type": "choice", "values": list(range(4_000_000)),'
        ' "weights": [1e308] * 4_000_000}])',
        100_000,
    ),
}


@pytest.mark.slow
@pytest.mark.parametrize("document", SLOW_DOCUMENTS)
def test_sigint_interrupts_a_long_call(document):
    specs, scale = SLOW_DOCUMENTS[document]
    # Two seconds are well inside the call, which would take many minutes.
    out, err, elapsed = interrupt(
        LONG_CALL.format(specs=specs, scale=scale), lambda: time.sleep(2.0)
    )
    assert out.strip() == "interrupted", err
    assert elapsed < 1  # generous: the machine may be loaded; the design target is ~100 ms


@pytest.mark.slow
def test_a_call_from_a_signal_handler_during_a_call_raises_runtime_error():
    code = textwrap.dedent(
        """
        import json, signal, tessary
        slow_specs = json.dumps([{"name": "a", "type": "normal", "mean": 0, "std_dev": 1}] * 1000)
        seen = []
        def handler(signum, frame):
            try:
                tessary.generate_entities(1, 1, '[]')
                seen.append('returned')
            except RuntimeError as e:
                seen.append('RuntimeError')
        # The kernel delivers the alarm: no other Python thread can run while the call holds the
        # GIL.
        signal.signal(signal.SIGALRM, handler)
        signal.setitimer(signal.ITIMER_REAL, 0.3)
        text = tessary.generate_entities(1, 400_000, slow_specs)
        print(seen, len(text) > 0)
        """
    )
    result = run_python(code, timeout=300)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "['RuntimeError'] True"


# A SIGALRM handler that sleeps until the workers have built every block, then raises: nothing is
# left to cancel when its exception arrives.
LATE_RAISING_HANDLER = textwrap.dedent(
    """
    import json, signal, time, tessary
    def handler(signum, frame):
        time.sleep(3.0)
        raise KeyboardInterrupt
    signal.signal(signal.SIGALRM, handler)
    signal.setitimer(signal.ITIMER_REAL, 0.05)
    """
)
SLOW_SPECS = [{"name": "a", "type": "normal", "mean": 0, "std_dev": 1}] * 1000


@pytest.mark.slow
def test_a_handler_that_raises_after_the_work_is_done_still_ends_the_call():
    # The handler's exception must be what the call raises, not a result with an exception pending.
    code = LATE_RAISING_HANDLER + textwrap.dedent(
        f"""
        try:
            tessary.generate_entities(1, 100_000, json.dumps({SLOW_SPECS!r}))
            print("returned")
        except KeyboardInterrupt:
            print("interrupted", flush=True)
        """
    )
    result = run_python(code, timeout=300)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "interrupted"


@pytest.mark.slow
def test_a_handler_exception_beats_the_first_panic_of_the_process_and_leaves_panics_intact():
    # A few entities fail; this is the first panic of the process, so the PanicException type is
    # made while the handler's KeyboardInterrupt is set. With seed 1 the first entity to fail is
    # number 135188 (the streams fix it on any number of threads), so the work before it outlasts
    # the alarm's delay many times over: the handler is sure to run while the call waits.
    failing = SLOW_SPECS + [{"name": "k", "type": "choice", "values": [1], "weights": [100000, 1]}]
    code = LATE_RAISING_HANDLER + textwrap.dedent(
        f"""
        specs = json.dumps({failing!r})
        try:
            tessary.generate_entities(1, 150_000, specs)
            print("returned")
        except BaseException as e:
            print(type(e).__name__)
        signal.signal(signal.SIGALRM, signal.SIG_DFL)
        try:
            tessary.generate_entities(1, 150_000, specs)
        except BaseException as e:
            print(type(e).__name__, e)
        """
    )
    result = run_python(code, timeout=300)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [
        "KeyboardInterrupt",
        "PanicException index out of bounds: the len is 1 but the index is 1",
    ]


# Code that forks: the warning about forking a process with threads is expected, and `expected` is
# the parent's text, for a child to compare its own with.
FORKING_PREAMBLE = textwrap.dedent(
    f"""
    import json, os, signal, warnings, tessary
    warnings.simplefilter("ignore", DeprecationWarning)
    specs = {FIVE_SPECS!r}
    expected = tessary.generate_entities(5, 10_000, specs)
    """
)


@pytest.mark.slow
def test_a_forked_child_generates_on_its_own_workers():
    # The parent's workers do not exist in a child made by fork (as multiprocessing makes them on
    # Linux); the child's calls must still be answered.
    code = FORKING_PREAMBLE + textwrap.dedent(
        """
        pid = os.fork()
        if pid == 0:
            signal.alarm(30)  # ends a child that hangs
            os._exit(0 if tessary.generate_entities(5, 10_000, specs) == expected else 3)
        _, status = os.waitpid(pid, 0)
        print(os.waitstatus_to_exitcode(status))
        """
    )
    result = run_python(code, timeout=120)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "0"


@pytest.mark.slow
def test_a_child_forked_from_a_signal_handler_ends_the_inherited_call():
    # The child inherits the waiting call but not the threads doing its work: its copy of the call
    # must end when the handler returns, and the child must then generate on threads of its own.
    code = FORKING_PREAMBLE + textwrap.dedent(
        f"""
        slow_specs = json.dumps({SLOW_SPECS!r})
        child = []
        def handler(signum, frame):
            child.append(os.fork())
            if child[0] == 0:
                signal.signal(signal.SIGALRM, signal.SIG_DFL)
                signal.alarm(20)  # ends a child that hangs
        signal.signal(signal.SIGALRM, handler)
        signal.setitimer(signal.ITIMER_REAL, 0.3)
        try:
            tessary.generate_entities(1, 400_000, slow_specs)
            outcome = "returned"
        except BaseException as e:
            outcome = f"{{type(e).__name__}}: {{e}}"
        if child == [0]:
            print("child:", outcome)
            same = tessary.generate_entities(5, 10_000, specs) == expected
            print("child generates:", same, flush=True)
            os._exit(0)
        _, status = os.waitpid(child[0], 0)
        print("parent:", outcome, os.waitstatus_to_exitcode(status))
        """
    )
    result = run_python(code, timeout=120)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [
        "child: PanicException: the call was interrupted by fork: this child process has none of "
        "the threads doing its work",
        "child generates: True",
        "parent: returned 0",
    ]

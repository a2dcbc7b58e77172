"""korvex-cli --progress json as another program reads it: stdout holds JSON lines only, each of
format version 1 naming its port, the phases in order, and last per board the --json object."""

import json

import pytest

from conftest import ADDRESS, run_cli

A = f"0x{ADDRESS:08X}"


def events_of(stdout):
    events = [json.loads(line) for line in stdout.splitlines()]
    for event in events:
        assert event["v"] == 1 and "port" in event, event
    return events


# The last progress of a transfer: None when there is no transfer, else whether it is complete.
@pytest.mark.parametrize(
    "command, fault, code, phases, complete",
    [
        (["program", "{image}", "--address", A], None, 0,
         ["sync", "erase", "write", "verify"], True),
        (["program", "{image}", "--address", A, "--readback"], None, 0,
         ["sync", "erase", "write", "verify", "readback"], True),
        (["program", "{image}", "--address", A], "D#3=flash:02", 1,
         ["sync", "erase", "write"], False),
        (["read", A, "3000"], None, 0, ["sync", "read"], True),
        (["verify", "{image}", "--address", A], None, 1, ["sync", "verify"], None),
    ],
)
def test_one_board(board, image, command, fault, code, phases, complete):
    sim = board(*([f"--fault={fault}"] if fault else []))
    arguments = [part.replace("{image}", image()) for part in command]
    run = run_cli(*arguments, "--port", sim.port, "--progress", "json")
    assert run.returncode == code, run.stderr
    events = events_of(run.stdout)
    assert {event["port"] for event in events} == {sim.port}
    assert [e["phase"] for e in events if e["event"] == "phase"] == phases
    result = events[-1]
    assert result["event"] == "result"
    assert result["result"] == ("ok" if code == 0 else "failed")
    if code != 0:
        assert result["error"].splitlines()[0] in run.stderr
    progress = [e for e in events if e["event"] == "progress"]
    if complete is None:
        assert progress == []
        return
    # A transfer that went through ends at its total; a failed one where it stopped.
    assert (progress[-1]["done"] == progress[-1]["total"]) == complete
    assert progress[-1]["done"] == result["bytes"]


def test_result_is_the_json_object(board, image):
    sim = board()
    file = image()
    plain = run_cli("program", file, "--address", A, "--port", sim.port, "--json")
    followed = run_cli("program", file, "--address", A, "--port", sim.port, "--progress", "json")
    expected = json.loads(plain.stdout)
    result = events_of(followed.stdout)[-1]
    for changing in ("seconds", "turnaround_ms"):
        expected.pop(changing)
        result.pop(changing)
    assert result == {**expected, "v": 1, "event": "result"}


def test_several_boards_write_whole_lines(board, image):
    sims = [board("--line-rate"), board("--line-rate")]
    ports = [option for sim in sims for option in ("--port", sim.port)]
    run = run_cli("program", image(length=20000), "--address", A, *ports, "--progress", "json")
    assert run.returncode == 0, run.stderr
    events = events_of(run.stdout)
    for sim in sims:
        own = [e for e in events if e["port"] == sim.port]
        assert own[-1]["event"] == "result" and own[-1]["result"] == "ok"
        done = [e["done"] for e in own if e["event"] == "progress"]
        assert done == sorted(done) and done[-1] == 20000


@pytest.mark.parametrize(
    "arguments",
    [["program", "{image}", "--address", A, "--monitor"], ["read", A, "100", "--output", "-"]],
)
def test_stdout_taken_otherwise_is_refused(board, image, arguments):
    sim = board()
    arguments = [part.replace("{image}", image()) for part in arguments]
    run = run_cli(*arguments, "--port", sim.port, "--progress", "json")
    assert run.returncode == 2 and run.stdout == ""
    assert "--progress json" in run.stderr


def test_station_ends_with_its_tally(board, image):
    sim = board()
    run = run_cli("station", image(), "--address", A, "--ports", sim.port, "--count", "1",
                  "--progress", "json")
    assert run.returncode == 0, run.stderr
    *boards, tally = [json.loads(line) for line in run.stdout.splitlines()]
    assert all(e["v"] == 1 and e["port"] == sim.port for e in boards)
    assert boards[-1]["event"] == "result" and boards[-1]["result"] == "ok"
    assert tally == {**tally, "v": 1, "event": "tally", "passed": 1, "failed": 0}

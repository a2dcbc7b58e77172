"""KorvexDriver in labgrid's own environment and pytest plugin, against simulated boards on a
RawSerialPort and, through ser2net, on a NetworkSerialPort."""

import logging
import os
import subprocess
import sys

import pytest
from labgrid import Environment
from labgrid.driver import ExecutionError
from labgrid.protocol import BootstrapProtocol
from labgrid.step import steps

from conftest import ADDRESS, CLI, environment_file, network_port, raw_port

# How the environment file gives the address: as YAML reads a number, or as a text.
AS_NUMBER = f"0x{ADDRESS:08X}"
AS_TEXT = f"'0x{ADDRESS:08X}'"


def korvex(folder, resource, image_path=None, tools=True, **driver):
    target = Environment(environment_file(folder, resource, driver, image=image_path, tools=tools))
    return target.get_target("main").get_driver(BootstrapProtocol)


@pytest.mark.parametrize(
    "port, address, tools, image_name",
    [
        ("raw", AS_NUMBER, True, "image.bin"),
        ("network", AS_TEXT, True, "image.bin"),
        # An argument list, no shell: the name reaches korvex-cli as it is.
        ("raw", AS_NUMBER, False, "a name; $(touch hacked) 'quoted'.bin"),
    ],
)
def test_load_and_verify(tmp_path, monkeypatch, board, ser2net, image, port, address, tools,
                         image_name):
    sim = board()
    resource = raw_port(sim.port) if port == "raw" else network_port(ser2net(sim.port))
    if not tools:
        monkeypatch.setenv("PATH", os.path.dirname(CLI) + os.pathsep + os.environ["PATH"])
    file = image(image_name)
    driver = korvex(tmp_path, resource, f'"{file}"', tools, image="firmware",
                    address=address, board_type="EB40A")
    result = driver.load()
    assert result["result"] == "ok" and result["bytes"] == 3000
    assert result["port"] == sim.port if port == "raw" else result["port"].startswith("rfc2217://")
    assert driver.verify()["result"] == "ok"
    with pytest.raises(ExecutionError) as failed:
        driver.verify(image("other.bin", 2000))
    assert failed.value.msg == "Data verification failed."
    assert not (tmp_path / "hacked").exists() and not os.path.exists("hacked")


@pytest.mark.parametrize(
    "fault, tool, message",
    [
        ("--fault=D#0=flash:02", CLI, "Flash write error at: 0x01100000.\nError: 0x02"),
        (None, "/nonexistent/korvex-cli", "cannot run /nonexistent/korvex-cli"),
    ],
)
def test_failure_raises_korvex_message(tmp_path, board, image, fault, tool, message):
    sim = board(*([fault] if fault else []))
    environment = environment_file(tmp_path, raw_port(sim.port), {"address": AS_NUMBER},
                                   tools=False)
    with open(environment, "a") as env:
        env.write(f"tools:\n  korvex-cli: {tool}\n")
    driver = Environment(environment).get_target("main").get_driver("KorvexDriver")
    with pytest.raises(ExecutionError) as failed:
        driver.load(image())
    assert failed.value.msg.startswith(message)


def test_phases_are_steps_and_progress_is_logged(tmp_path, board, image, caplog):
    sim = board()
    driver = korvex(tmp_path, raw_port(sim.port), address=AS_NUMBER)
    started = []

    def note(event):
        if event.step.title == "korvex-phase" and event.data.get("state") == "start":
            started.append(event.step.args["phase"])

    steps.subscribe(note)
    try:
        with caplog.at_level(logging.INFO):
            driver.load(image())
    finally:
        steps.unsubscribe(note)
    assert started == ["sync", "erase", "write", "verify"]
    assert "write: 3000 of 3000 bytes" in caplog.text


TEST_UNDER_PLUGIN = """
def test_program(target):
    korvex = target.get_driver("KorvexDriver")
    korvex.load()
    korvex.verify()
"""


def test_under_the_pytest_plugin(tmp_path, board, image):
    sim = board()
    driver = {"image": "firmware", "address": AS_NUMBER}
    environment = environment_file(tmp_path, raw_port(sim.port), driver, image=image())
    (tmp_path / "test_board.py").write_text(TEST_UNDER_PLUGIN)
    run = subprocess.run(
        [sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider", "--lg-env", environment,
         str(tmp_path / "test_board.py")],
        capture_output=True, text=True, timeout=120, cwd=tmp_path)
    assert run.returncode == 0, run.stdout + run.stderr
    assert "1 passed" in run.stdout

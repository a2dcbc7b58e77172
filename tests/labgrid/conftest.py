"""Simulated boards, ser2net and labgrid environments for the tests of korvex-cli's progress
events and of the labgrid driver. ctest gives the programs' paths in KORVEX_CLI and
KORVEX_BOARDSIM."""

import os
import random
import shutil
import socket
import subprocess
import time
from pathlib import Path

import pytest

SOURCE = Path(__file__).resolve().parents[2]
DRIVER = SOURCE / "integrations" / "labgrid" / "korvexdriver.py"
CLI = os.environ.get("KORVEX_CLI", str(SOURCE / "build" / "cli" / "korvex-cli"))
BOARDSIM = os.environ.get(
    "KORVEX_BOARDSIM", str(SOURCE / "build" / "tools" / "boardsim" / "korvex-boardsim")
)
# Where a programming goes on the simulated EB40A: a free sector.
ADDRESS = 0x01100000


@pytest.fixture(autouse=True)
def private_folders(tmp_path, monkeypatch):
    """korvex-cli's settings, ledger and announced ports stay in the test's own folder."""
    for name in ("XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR", "HOME"):
        folder = tmp_path / name.lower()
        folder.mkdir(mode=0o700)
        monkeypatch.setenv(name, str(folder))


class Board:
    """korvex-boardsim on a pseudo-terminal, stopped when the test ends."""

    def __init__(self, *arguments):
        self.process = subprocess.Popen(
            [BOARDSIM, *arguments],
            stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL,
            text=True,
        )
        self.port = self.process.stdout.readline().strip()
        assert self.port.startswith("/dev/"), "korvex-boardsim printed no port"

    def stop(self):
        self.process.terminate()
        self.process.wait(10)


@pytest.fixture
def board():
    """board(*arguments): a simulated EB40A board."""
    boards = []

    def start(*arguments):
        boards.append(Board(*arguments))
        return boards[-1]

    yield start
    for one in boards:
        one.stop()


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


@pytest.fixture
def ser2net(tmp_path):
    """ser2net(device): the device served over RFC 2217 on the loopback address; its TCP port."""
    servers = []

    def serve(device):
        port = free_port()
        config = tmp_path / f"ser2net-{port}.yaml"
        config.write_text(
            "connection: &board\n"
            f"  accepter: telnet(rfc2217),tcp,127.0.0.1,{port}\n"
            f"  connector: serialdev,{device},115200n81,local\n"
            "  options:\n"
            "    chardelay: false\n"
        )
        program = shutil.which("ser2net") or "/usr/sbin/ser2net"
        servers.append(
            subprocess.Popen(
                [program, "-n", "-u", "-c", str(config), "-P", str(tmp_path / f"{port}.pid")],
                stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL,
            )
        )
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            with socket.socket() as client:
                if client.connect_ex(("127.0.0.1", port)) == 0:
                    return port
            assert servers[-1].poll() is None, "ser2net ended"
            time.sleep(0.05)
        raise AssertionError("ser2net did not listen")

    yield serve
    for server in servers:
        server.terminate()
        server.wait(10)


@pytest.fixture
def image(tmp_path):
    """image(name, length): a binary file of random bytes."""

    def make(name="image.bin", length=3000):
        path = tmp_path / name
        path.write_bytes(random.Random(length).randbytes(length))
        return str(path)

    return make


def environment_file(folder, resource, driver, *, image=None, tools=True):
    """A labgrid environment file that imports the driver and binds it to resource."""
    lines = ["targets:", "  main:", "    resources:"]
    lines += [f"      {line}" for line in resource]
    lines += ["    drivers:", "      KorvexDriver:"]
    lines += [f"        {key}: {value}" for key, value in driver.items()] or ["        {}"]
    if image:
        lines += ["images:", f"  firmware: {image}"]
    if tools:
        lines += ["tools:", f"  korvex-cli: {CLI}"]
    lines += ["imports:", f"  - {DRIVER}"]
    path = Path(folder) / "env.yaml"
    path.write_text("\n".join(lines) + "\n")
    return str(path)


def raw_port(device):
    return ["RawSerialPort:", f"  port: {device}"]


def network_port(tcp_port):
    return ["NetworkSerialPort:", "  host: 127.0.0.1", f"  port: {tcp_port}"]


def run_cli(*arguments):
    return subprocess.run([CLI, *arguments], capture_output=True, text=True, timeout=120)



"""KorvexDriver: programs AT91 evaluation boards from labgrid through korvex-cli.

Load it from an environment file with ``imports:`` (the Debian package installs it as
/usr/share/korvex/labgrid/korvexdriver.py) and bind it to the board's serial port:

    targets:
      main:
        resources:
          RawSerialPort:
            port: /dev/ttyUSB0
        drivers:
          KorvexDriver:
            image: firmware          # a key of images below
            address: 0x01100000      # optional: else the image's own address
            board_type: EB40A        # optional: else the type the Korvex window last used
            extra_args: [--readback] # optional: more korvex-cli program options
    images:
      firmware: build/firmware.hex
    tools:
      korvex-cli: /usr/bin/korvex-cli   # optional: else korvex-cli from PATH
    imports:
      - /usr/share/korvex/labgrid/korvexdriver.py

A NetworkSerialPort (an exporter's ser2net in RFC 2217 mode) is reached as rfc2217://HOST:PORT.
The driver follows korvex-cli's --progress json events: each phase is a step of its own and the
bytes done go to the driver's log. A programming or verify that fails raises ExecutionError
with Korvex's own message.
"""

import json
import logging
import subprocess
import threading

import attr

from labgrid.driver.common import Driver
from labgrid.driver.exception import ExecutionError
from labgrid.factory import target_factory
from labgrid.protocol import BootstrapProtocol
from labgrid.resource import NetworkSerialPort
from labgrid.step import step
from labgrid.util.proxy import proxymanager

# The version of korvex-cli's event format this driver reads.
EVENT_FORMAT = 1


def _address_text(value):
    """An address as korvex-cli takes it: YAML reads 0x01100000 as a number."""
    if value is None or isinstance(value, str):
        return value
    if isinstance(value, bool) or not isinstance(value, int):
        raise ValueError(f"address must be a number or a text, not {value!r}")
    return f"0x{value:08X}"


def _check_address(instance, attribute, value):
    _address_text(value)


_optional_text = attr.validators.optional(attr.validators.instance_of(str))


@attr.s(eq=False)
class KorvexDriver(Driver, BootstrapProtocol):
    """Programs (load) and verifies (verify) a board's flash with korvex-cli."""

    bindings = {"port": {"RawSerialPort", "USBSerialPort", "NetworkSerialPort"}}

    image = attr.ib(default=None, validator=_optional_text)
    address = attr.ib(default=None, validator=_check_address)
    board_type = attr.ib(default=None, validator=_optional_text)
    extra_args = attr.ib(
        default=attr.Factory(list),
        validator=attr.validators.deep_iterable(
            member_validator=attr.validators.instance_of(str),
            iterable_validator=attr.validators.instance_of(list),
        ),
    )

    def __attrs_post_init__(self):
        super().__attrs_post_init__()
        self.logger = logging.getLogger(f"KorvexDriver({self.target.name})")
        tool = None
        if self.target.env:
            tool = self.target.env.config.get_tool("korvex-cli")
        self.tool = tool or "korvex-cli"

    def on_activate(self):
        if isinstance(self.port, NetworkSerialPort) and self.port.protocol != "rfc2217":
            raise ExecutionError(
                f"korvex-cli needs the port served as RFC 2217, not {self.port.protocol!r}"
            )

    def on_deactivate(self):
        pass

    @Driver.check_active
    @step(args=["filename"], result=True)
    def load(self, filename=None):
        """Programs the image into flash: erase, write and the board's verify.

        Returns korvex-cli's result object for the board."""
        arguments = ["program", self._image_path(filename)]
        if self.board_type:
            arguments += ["--type", self.board_type]
        return self._run(arguments + self._address_args() + list(self.extra_args))

    @Driver.check_active
    @step(args=["filename"], result=True)
    def verify(self, filename=None):
        """Has the board compare its flash with the image (its sum over the image's range)."""
        return self._run(["verify", self._image_path(filename)] + self._address_args())

    def _image_path(self, filename):
        if filename is not None:
            return filename
        if self.image is None:
            raise ExecutionError("no file given and no image configured for KorvexDriver")
        return self.target.env.config.get_image_path(self.image)

    def _address_args(self):
        address = _address_text(self.address)
        return ["--address", address] if address is not None else []

    def _port_name(self):
        if isinstance(self.port, NetworkSerialPort):
            host, port = proxymanager.get_host_and_port(self.port)
            return f"rfc2217://{host}:{port}"
        if not self.port.port:
            raise ExecutionError(f"{self.port} has no device node (is the adapter plugged in?)")
        return self.port.port

    def _run(self, arguments):
        # An argument list, never a shell: port names and paths pass as they are.
        command = [self.tool] + arguments + ["--port", self._port_name(), "--progress", "json"]
        self.logger.debug("Running %s", command)
        try:
            process = subprocess.Popen(
                command,
                stdin=subprocess.DEVNULL,
                stdout=subprocess.PIPE,
                stderr=subprocess.PIPE,
                text=True,
                errors="replace",
            )
        except OSError as error:
            raise ExecutionError(f"cannot run {self.tool}: {error}") from error
        errors = []
        reader = threading.Thread(target=lambda: errors.extend(process.stderr), daemon=True)
        reader.start()
        try:
            result = self._follow(self._events(process.stdout))
        finally:
            if process.poll() is None:
                # korvex-cli stops after the block it is writing, rather than leave the line
                # in the middle of a frame.
                process.terminate()
            code = process.wait()
            reader.join()
        errors = [line.rstrip("\n") for line in errors]
        for line in errors:
            self.logger.info("%s", line)
        if code != 0 or result is None or result.get("result") != "ok":
            raise ExecutionError(self._failure(code, result, errors), stderr=errors)
        return result

    def _events(self, stream):
        for line in stream:
            try:
                event = json.loads(line)
            except ValueError:
                self.logger.warning("not an event from korvex-cli: %s", line.rstrip("\n"))
                continue
            if isinstance(event, dict) and event.get("v") == EVENT_FORMAT:
                yield event

    def _follow(self, events):
        """Follows the events to the end; the board's result event, None when none came."""
        result = None
        event = next(events, None)
        while event is not None:
            if event.get("event") == "phase":
                event = self._phase(event.get("phase"), events)
                continue
            if event.get("event") == "result":
                result = event
            event = next(events, None)
        return result

    @step(title="korvex-phase", args=["phase"])
    def _phase(self, phase, events):
        """One phase as a step; returns the event that ended it."""
        for event in events:
            if event.get("event") != "progress":
                return event
            self.logger.info(
                "%s: %d of %d bytes", phase, event.get("done", 0), event.get("total", 0)
            )
        return None

    def _failure(self, code, result, errors):
        if result is not None and result.get("error"):
            return result["error"]
        if result is not None and result.get("result") == "interrupted":
            return "User break."
        if errors:
            return "\n".join(errors)
        return f"{self.tool} ended with exit code {code}"


# The environment imports this file anew for each environment: the first class stays the one
# registered.
if "KorvexDriver" in target_factory.drivers:
    KorvexDriver = target_factory.drivers["KorvexDriver"]
else:
    target_factory.reg_driver(KorvexDriver)

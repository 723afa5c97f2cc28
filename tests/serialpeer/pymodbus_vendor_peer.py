"""pymodbus as the master on a served card's port: the card's vendor function 100 with a length
byte that promises more bytes than the request carries is answered with exception 3 once the
line has fallen silent, and the card answers the requests after it as usual.

Usage: pymodbus_vendor_peer.py PORT
Prints each check; the exit code is 0 when all of them held, 1 otherwise.
"""

import sys

from pymodbus.client import ModbusSerialClient
from pymodbus.pdu import ExceptionResponse, ModbusRequest, ModbusResponse

NODE = 1
VENDOR_FUNCTION = 100
CONFIG_TEXT = 22  # vendor sub-command: the card's dip-switch description


class VendorRequest(ModbusRequest):
    """Function 100 with its request data given byte for byte, length byte included."""

    function_code = VENDOR_FUNCTION

    def __init__(self, data=b"", **kwargs):
        super().__init__(**kwargs)
        self.data = bytes(data)

    def encode(self):
        return self.data


class VendorResponse(ModbusResponse):
    """Function 100 reply: a length byte, then that many bytes."""

    function_code = VENDOR_FUNCTION
    _rtu_byte_count_pos = 2

    def __init__(self, **kwargs):
        super().__init__(**kwargs)
        self.data = b""

    def decode(self, data):
        self.data = bytes(data)


def vendor(client, data):
    return client.execute(VendorRequest(data, unit=NODE))


def main(port):
    client = ModbusSerialClient(port, baudrate=115200, timeout=3, retries=0)
    client.register(VendorResponse)
    if not client.connect():
        print(f"cannot open {port}")
        return 1
    failures = []

    def check(what, held, seen):
        print(("ok   " if held else "FAIL ") + f"{what}: {seen!r}")
        if not held:
            failures.append(what)

    try:
        # Sub-command 22 without arguments, but the length byte says ten bytes follow.
        cut_short = vendor(client, bytes([10, 0, CONFIG_TEXT]))
        check(
            "a request shorter than its length byte gets exception 3",
            isinstance(cut_short, ExceptionResponse)
            and cut_short.original_code == VENDOR_FUNCTION
            and cut_short.exception_code == 3,
            cut_short,
        )

        whole = vendor(client, bytes([2, 0, CONFIG_TEXT]))
        text = getattr(whole, "data", b"")[3:]
        check(
            "the same request with its true length gets the configuration text",
            isinstance(whole, VendorResponse) and text.startswith(b"KTV-ROLM-73C6E"),
            text,
        )

        version = client.read_input_registers(65433, 1, slave=NODE)
        check(
            "a register read after them gets the register-map version",
            not version.isError() and version.registers == [10],
            getattr(version, "registers", version),
        )
    finally:
        client.close()
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        print(__doc__)
        sys.exit(2)
    sys.exit(main(sys.argv[1]))

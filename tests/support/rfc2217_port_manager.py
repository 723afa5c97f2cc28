"""An RFC 2217 server made of pyserial's port manager, in front of one serial device.

Usage: rfc2217_port_manager.py DEVICE [TCP-PORT]
Listens on 127.0.0.1 on TCP-PORT (default: a free one), prints "LISTENING <port>", and serves one client at a
time until killed. The device may be a pseudo-terminal, which has no modem lines: setting them is
ignored, as a device server without those lines does.
"""

import socket
import sys
import threading

import serial
import serial.rfc2217


def _line_or_off(read):
    try:
        return read()
    except OSError:
        return False


class LinelessSerial(serial.Serial):
    """A serial port without modem lines (a pseudo-terminal): setting them is ignored, and they
    read as off."""

    cts = property(lambda self: _line_or_off(lambda: serial.Serial.cts.fget(self)))
    dsr = property(lambda self: _line_or_off(lambda: serial.Serial.dsr.fget(self)))
    ri = property(lambda self: _line_or_off(lambda: serial.Serial.ri.fget(self)))
    cd = property(lambda self: _line_or_off(lambda: serial.Serial.cd.fget(self)))

    def _update_dtr_state(self):
        try:
            super()._update_dtr_state()
        except OSError:
            pass

    def _update_rts_state(self):
        try:
            super()._update_rts_state()
        except OSError:
            pass

    def _update_break_state(self):
        try:
            super()._update_break_state()
        except OSError:
            pass


class Connection:
    """The socket as the port manager writes to it."""

    def __init__(self, sock):
        self.sock = sock

    def write(self, data):
        self.sock.sendall(data)


def serve(port, connection):
    manager = serial.rfc2217.PortManager(port, Connection(connection))
    stop = threading.Event()

    def device_to_network():
        while not stop.is_set():
            try:
                data = port.read(port.in_waiting or 1)
                if data:
                    connection.sendall(b"".join(manager.escape(data)))
            except (OSError, serial.SerialException):
                break
        stop.set()

    reader = threading.Thread(target=device_to_network, daemon=True)
    reader.start()
    while not stop.is_set():
        try:
            data = connection.recv(1024)
        except OSError:
            break
        if not data:
            break
        port.write(b"".join(manager.filter(data)))
    stop.set()
    reader.join()


def main():
    port = LinelessSerial(sys.argv[1], 115200, timeout=0.2)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", int(sys.argv[2]) if len(sys.argv) > 2 else 0))
    listener.listen(1)
    print("LISTENING %d" % listener.getsockname()[1], flush=True)
    while True:
        connection, _ = listener.accept()
        connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        serve(port, connection)
        connection.close()


if __name__ == "__main__":
    main()

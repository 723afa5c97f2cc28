#pragma once

#include <memory>
#include <string>

class QTemporaryDir;

// A fake /sys/class/tty and /dev for the port enumeration, installed through
// TOLVAREN_SYSFS_TTY and TOLVAREN_DEV_DIR for the object's life (TOLVAREN_EXTRA_SERIAL_PORTS is
// cleared). The settings store, where USB adapters keep their COM numbers, is pointed at the
// same temporary folder. Device nodes are symbolic links to the paths given (pty slaves).
// Create it on the test's thread before any comms object and destroy it after them.
class FakeSysfs
{
public:
    FakeSysfs();
    ~FakeSysfs();
    FakeSysfs(const FakeSysfs&) = delete;
    FakeSysfs& operator=(const FakeSysfs&) = delete;

    // /dev/ttyS<k> -> target; realUart false makes it one of the placeholder entries.
    void AddUart(int k, const std::string& target, bool realUart = true);
    // A USB adapter named ttyName (ttyUSB<k> or ttyACM<k>) with the given USB product string;
    // byIdName, when not empty, adds /dev/serial/by-id/<byIdName>.
    void AddUsbAdapter(const std::string& ttyName, const std::string& target,
                       const std::string& product, const std::string& byIdName = std::string());
    // The adapter's driver shows a latency timer of ms milliseconds (ftdi_sio's latency_timer).
    void SetLatencyTimer(const std::string& ttyName, int ms);
    // Re-points an existing device node (the adapter came back on another pty).
    void Repoint(const std::string& ttyName, const std::string& target);
    // The adapter is unplugged: sysfs entry, device node and by-id link disappear.
    void Remove(const std::string& ttyName);

    std::string DevDir() const;
    std::string SysTtyDir() const;

private:
    std::unique_ptr<QTemporaryDir> m_root;
};

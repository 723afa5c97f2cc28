// POSIX backend of SerialPlatform: termios ports, poll() waits, eventfd events, and the port
// enumeration from sysfs with stable COM numbers.

#include "comms/SerialPlatform.h"
#include "comms/SerialPlatformPosix.h"
#include "comms/NetworkPortAddress.h"
#include "comms/NetworkPortRegistry.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <regex>
#include <set>

#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <QSettings>
#include <QString>
#include <QStringList>

#include <boost/throw_exception.hpp>

namespace SerialPlatform {

namespace {

[[noreturn]] void ThrowErrno(const std::string& what, int code = errno)
{
    boost::throw_exception(SystemError(what + ": " + std::strerror(code), code));
}

// Break counter of the driver; false when the driver keeps none.
bool ReadBreakCount(int fd, unsigned long& count)
{
    serial_icounter_struct counters;
    std::memset(&counters, 0, sizeof counters);
    if (::ioctl(fd, TIOCGICOUNT, &counters) != 0)
        return false;
    count = static_cast<unsigned long>(counters.brk);
    return true;
}

// USB adapters of the ftdi_sio kind hold received bytes up to their latency timer (16 ms by
// default) unless the port asks for low latency, which drops the timer to 1 ms while the flag is
// set; any user who may open the port may set it. Drivers without serial_struct (pseudo-
// terminals, cdc-acm on some kernels) refuse: the port then stays exactly as it was.
void RequestLowLatency(int fd)
{
    const int savedErrno = errno;
    serial_struct serial;
    std::memset(&serial, 0, sizeof serial);
    if (::ioctl(fd, TIOCGSERIAL, &serial) == 0 && !(serial.flags & ASYNC_LOW_LATENCY)) {
        serial.flags |= ASYNC_LOW_LATENCY;
        ::ioctl(fd, TIOCSSERIAL, &serial);
    }
    errno = savedErrno;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Event

Event::Event() : m_source(new WaitSource)
{
    m_source->fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_source->fd < 0)
        ThrowErrno("eventfd");
    m_source->events = POLLIN;
}

Event::~Event()
{
    ::close(m_source->fd);
}

void Event::Set()
{
    const uint64_t one = 1;
    // A full counter (never reached in practice) still leaves the event signalled.
    ssize_t ignored = ::write(m_source->fd, &one, sizeof one);
    (void)ignored;
}

void Event::Reset()
{
    uint64_t value;
    ssize_t ignored = ::read(m_source->fd, &value, sizeof value);
    (void)ignored;
}

WaitHandle Event::Handle() const
{
    return m_source.get();
}

// ---------------------------------------------------------------------------------------------
// Port

struct Port::Impl
{
    int fd = -1;
    WaitSource readable;
    WaitSource writable;
    WaitSource breakSeen;
    bool countsBreaks = false;
    unsigned long breaksAcknowledged = 0;
};

Port::Port() : m_impl(new Impl) {}

Port::~Port()
{
    if (m_impl->fd >= 0) {
        ::ioctl(m_impl->fd, TIOCNXCL);
        ::close(m_impl->fd);
    }
}

std::unique_ptr<Port> Port::OpenExclusive(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        ThrowErrno("open " + path);
    // The advisory lock first: it also holds against root, for whom TIOCEXCL does not count,
    // and clearing TIOCEXCL later must never undo another holder's.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int code = errno;
        ::close(fd);
        ThrowErrno("lock " + path, code);
    }
    ::ioctl(fd, TIOCEXCL); // not a tty (a FIFO given as extra port): nothing to exclude
    RequestLowLatency(fd);

    std::unique_ptr<Port> port(new Port);
    Impl& impl = *port->m_impl;
    impl.fd = fd;
    impl.readable.fd = fd;
    impl.readable.events = POLLIN;
    impl.writable.fd = fd;
    impl.writable.events = POLLOUT;
    impl.breakSeen.kind = WaitSource::BreakCounter;
    impl.breakSeen.fd = fd;
    impl.breakSeen.port = &impl;
    impl.countsBreaks = ReadBreakCount(fd, impl.breaksAcknowledged);
    return port;
}

void Port::Configure(int baudRate, int parity, int stopBits)
{
    static const std::map<int, speed_t> speeds = {
        {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},
        {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
        {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800},
        {500000, B500000}, {921600, B921600}, {1000000, B1000000}};
    const auto speed = speeds.find(baudRate);
    if (speed == speeds.end())
        boost::throw_exception(SystemError("unsupported baud rate", 0));
    if (parity < 0 || parity > 2)
        boost::throw_exception(SystemError("unsupported parity", 0));
    if (stopBits != 1 && stopBits != 2)
        boost::throw_exception(SystemError("unsupported stop bits", 0));

    termios tio;
    if (::tcgetattr(m_impl->fd, &tio) != 0)
        ThrowErrno("tcgetattr");
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK);
    if (parity != 0) {
        tio.c_cflag |= PARENB;
        if (parity == 1)
            tio.c_cflag |= PARODD;
        tio.c_iflag |= INPCK;
    }
    if (stopBits == 2)
        tio.c_cflag |= CSTOPB;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, speed->second) != 0 || ::cfsetospeed(&tio, speed->second) != 0)
        ThrowErrno("cfsetspeed");
    if (::tcsetattr(m_impl->fd, TCSANOW, &tio) != 0)
        ThrowErrno("tcsetattr");
    // tcsetattr succeeds if any part of the request was applied: check the speed. (Framing is
    // not compared: pseudo-terminals always report 8 bits without parity.)
    termios applied;
    if (::tcgetattr(m_impl->fd, &applied) != 0)
        ThrowErrno("tcgetattr");
    if (::cfgetospeed(&applied) != speed->second)
        boost::throw_exception(SystemError("baud rate not applied", 0));
    Purge();
}

void Port::RaiseDtrThenRts()
{
    for (int line : {TIOCM_DTR, TIOCM_RTS}) {
        // Pseudo-terminals and some adapters have no modem lines.
        if (::ioctl(m_impl->fd, TIOCMBIS, &line) != 0 && errno != EINVAL && errno != ENOTTY &&
            errno != ENOTSUP)
            ThrowErrno("TIOCMBIS");
    }
}

void Port::Purge()
{
    if (::tcflush(m_impl->fd, TCIOFLUSH) != 0)
        ThrowErrno("tcflush");
}

std::size_t Port::ReadSome(unsigned char* buffer, std::size_t max)
{
    for (;;) {
        const ssize_t n = ::read(m_impl->fd, buffer, max);
        if (n > 0)
            return static_cast<std::size_t>(n);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return 0;
            ThrowErrno("read");
        }
        // With VMIN = VTIME = 0 an empty read is normal; on a hung-up tty it is end of file.
        pollfd p = {m_impl->fd, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)))
            ThrowErrno("read", EIO);
        return 0;
    }
}

std::size_t Port::WriteSome(const unsigned char* data, std::size_t length)
{
    for (;;) {
        const ssize_t n = ::write(m_impl->fd, data, length);
        if (n >= 0)
            return static_cast<std::size_t>(n);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        ThrowErrno("write");
    }
}

WaitHandle Port::Readable() const
{
    return &m_impl->readable;
}

WaitHandle Port::Writable() const
{
    return &m_impl->writable;
}

WaitHandle Port::BreakSeen() const
{
    return m_impl->countsBreaks ? &m_impl->breakSeen : nullptr;
}

bool Port::TakeBreaks()
{
    unsigned long count = 0;
    if (!m_impl->countsBreaks || !ReadBreakCount(m_impl->fd, count))
        return false;
    const bool seen = count != m_impl->breaksAcknowledged;
    m_impl->breaksAcknowledged = count;
    return seen;
}

// ---------------------------------------------------------------------------------------------
// Waiting

std::vector<std::size_t> WaitForAny(const std::vector<WaitHandle>& handles, unsigned timeoutMs)
{
    std::vector<pollfd> fds;
    std::vector<std::size_t> fdIndex;
    std::vector<std::size_t> breakIndex;
    for (std::size_t i = 0; i < handles.size(); ++i) {
        const WaitSource* s = handles[i];
        if (s->kind == WaitSource::PollFd) {
            fds.push_back(pollfd{s->fd, s->events, 0});
            fdIndex.push_back(i);
        } else {
            breakIndex.push_back(i);
        }
    }
    auto breaksPending = [&](std::vector<std::size_t>& out) {
        for (std::size_t i : breakIndex) {
            unsigned long count = 0;
            if (ReadBreakCount(handles[i]->fd, count) &&
                count != handles[i]->port->breaksAcknowledged)
                out.push_back(i);
        }
    };
    std::vector<std::size_t> signalled;
    breaksPending(signalled);
    // The driver's break counter cannot be polled: look at it again after the wait.
    const int rc = ::poll(fds.data(), fds.size(), signalled.empty() ? int(timeoutMs) : 0);
    if (rc < 0 && errno != EINTR)
        ThrowErrno("poll");
    if (signalled.empty())
        breaksPending(signalled);
    if (rc > 0) {
        for (std::size_t k = 0; k < fds.size(); ++k) {
            if (fds[k].revents != 0)
                signalled.push_back(fdIndex[k]);
        }
    }
    std::sort(signalled.begin(), signalled.end());
    return signalled;
}

void SleepMilliseconds(unsigned ms)
{
    timespec t;
    t.tv_sec = ms / 1000;
    t.tv_nsec = long(ms % 1000) * 1000000L;
    while (::nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

// ---------------------------------------------------------------------------------------------
// Enumeration and port numbers
//
//   /dev/ttyS<k> with a UART behind it      COM k+1        (1..99)
//   USB adapter with a /dev/serial/by-id    COM100..199    kept in the settings store
//   USB adapter without one                 COM200+k for ttyUSB<k>, COM250+k for ttyACM<k>
//   i-th path of TOLVAREN_EXTRA_SERIAL_PORTS COM300+i  (a network port URL too)
//   network port added by the user          COM400..499    kept in the settings store

namespace {

const int firstRememberedNumber = 100;
const int lastRememberedNumber = 199;
const int firstExtraNumber = 300;

std::string EnvOr(const char* name, const char* fallback)
{
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

std::string SysfsTtyDir()
{
    return EnvOr("TOLVAREN_SYSFS_TTY", "/sys/class/tty");
}

std::string DevDir()
{
    return EnvOr("TOLVAREN_DEV_DIR", "/dev");
}

// The entries of the colon-separated list. A network port URL is one entry with its own colons:
// "tcp://HOST:PORT", "rfc2217://[IPV6]:PORT".
std::vector<std::string> ExtraPorts()
{
    std::vector<std::string> paths;
    const std::string list = EnvOr("TOLVAREN_EXTRA_SERIAL_PORTS", "");
    std::size_t start = 0;
    while (start <= list.size() && !list.empty()) {
        std::size_t from = start;
        if (NetworkPortAddress::LooksLikeUrl(list.substr(start, 10))) {
            from = list.find("//", start) + 2;
            if (from < list.size() && list[from] == '[')
                from = std::min(list.find(']', from), list.size());
            from = std::min(list.find(':', from), list.size()) + 1; // the port's colon
        }
        const std::size_t colon =
            std::min(list.find(':', std::min(from, list.size())), list.size());
        paths.push_back(list.substr(start, colon - start));
        start = colon + 1;
    }
    return paths;
}

std::vector<std::string> ListDir(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool Exists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

bool LinkExists(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

std::string ReadLink(const std::string& path)
{
    char buffer[4096];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, std::size_t(n)) : std::string();
}

std::string BaseName(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string RealPath(const std::string& path)
{
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved)
        return std::string();
    std::string result = resolved;
    std::free(resolved);
    return result;
}

std::string FirstLine(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r'))
        line.pop_back();
    return line;
}

// Number of the tty named prefix<k>, or -1.
int TtyIndex(const std::string& name, const std::string& prefix)
{
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
        return -1;
    const std::string digits = name.substr(prefix.size());
    if (digits.size() > 4 || !std::all_of(digits.begin(), digits.end(), ::isdigit))
        return -1;
    return std::atoi(digits.c_str());
}

// The /dev/serial/by-id name that leads to the tty, empty when there is none.
std::string ByIdNameOf(const std::string& ttyName)
{
    const std::string byIdDir = DevDir() + "/serial/by-id";
    for (const std::string& link : ListDir(byIdDir)) {
        if (BaseName(ReadLink(byIdDir + "/" + link)) == ttyName)
            return link;
    }
    return std::string();
}

std::mutex numbersMutex;

QSettings* OpenNumberStore()
{
    auto* settings = new QSettings(QSettings::NativeFormat, QSettings::UserScope,
                                   QStringLiteral("QEL"), QStringLiteral("TolvarenDiagnostics"));
    settings->beginGroup(QStringLiteral("SerialPortNumbers"));
    return settings;
}

// The number kept for a by-id name, given on first sight: the lowest one not yet given.
// 0 when all are taken.
int RememberedNumber(const std::string& byIdName)
{
    std::lock_guard<std::mutex> lock(numbersMutex);
    std::unique_ptr<QSettings> store(OpenNumberStore());
    const QString key = QString::fromStdString(byIdName);
    std::set<int> used;
    for (const QString& k : store->childKeys()) {
        const int n = store->value(k).toInt();
        if (k == key && n >= firstRememberedNumber && n <= lastRememberedNumber)
            return n;
        used.insert(n);
    }
    for (int n = firstRememberedNumber; n <= lastRememberedNumber; ++n) {
        if (!used.count(n)) {
            store->setValue(key, n);
            store->sync();
            return n;
        }
    }
    return 0;
}

std::string ByIdNameOfNumber(int number)
{
    std::lock_guard<std::mutex> lock(numbersMutex);
    std::unique_ptr<QSettings> store(OpenNumberStore());
    for (const QString& k : store->childKeys()) {
        if (store->value(k).toInt() == number)
            return k.toStdString();
    }
    return std::string();
}

// Placeholder ttyS entries (no UART behind them) report port type 0 (unknown).
bool HasRealUart(const std::string& sysEntry)
{
    const std::string typeFile = sysEntry + "/type";
    if (!Exists(typeFile))
        return true;
    return FirstLine(typeFile) != "0";
}

bool OnUsbBus(const std::string& resolvedDevice)
{
    static const std::regex usbBus("/usb[0-9]+(/|$)");
    return std::regex_search(resolvedDevice, usbBus);
}

std::string DescriptionOf(const std::string& sysEntry, const std::string& resolvedDevice)
{
    // The USB product string sits on the USB device, a few levels above the tty's interface.
    std::string dir = resolvedDevice;
    for (int level = 0; level < 4 && !dir.empty() && OnUsbBus(dir); ++level) {
        const std::string product = FirstLine(dir + "/product");
        if (!product.empty())
            return product;
        dir = dir.substr(0, dir.find_last_of('/'));
    }
    const std::string driver = BaseName(ReadLink(sysEntry + "/device/driver"));
    return driver.empty() ? std::string("Serial port") : driver;
}

// The adapter's latency timer in ms as its driver shows it in sysfs; 0 where there is none.
int LatencyTimerOfEntry(const std::string& sysEntry)
{
    const std::string text = FirstLine(sysEntry + "/device/latency_timer");
    if (text.empty() || text.size() > 4 || !std::all_of(text.begin(), text.end(), ::isdigit))
        return 0;
    return std::atoi(text.c_str());
}

PortEntry MakeEntry(int number, const std::string& path, const std::string& description,
                    bool isUsb, int latencyTimerMs = 0)
{
    PortEntry entry;
    entry.portNumber = number;
    entry.devicePath = path;
    entry.description = description;
    entry.isUsb = isUsb;
    entry.friendlyName = "COM" + std::to_string(number) + " - " + description + " (" + path +
                         ")" + PermissionHint(path);
    const std::string latency = UsbLatencyWarning(latencyTimerMs);
    if (!latency.empty())
        entry.friendlyName += " - " + latency;
    return entry;
}

// A network port is listed with its URL as description; it is never opened to be listed.
PortEntry NetworkEntry(int number, const std::string& url)
{
    PortEntry entry;
    entry.portNumber = number;
    entry.devicePath = url;
    entry.description = url;
    entry.friendlyName = "COM" + std::to_string(number) + " - " + url;
    return entry;
}

} // namespace

std::vector<PortEntry> EnumeratePorts()
{
    const std::string sysDir = SysfsTtyDir();
    const std::string devDir = DevDir();
    DIR* d = ::opendir(sysDir.c_str());
    if (!d)
        ThrowErrno("open " + sysDir);
    ::closedir(d);

    std::vector<PortEntry> ports;
    for (const std::string& name : ListDir(sysDir)) {
        const std::string sysEntry = sysDir + "/" + name;
        if (!LinkExists(sysEntry + "/device"))
            continue;
        const std::string resolved = RealPath(sysEntry + "/device");
        const std::string path = devDir + "/" + name;
        int number = 0;
        const int uart = TtyIndex(name, "ttyS");
        const int usb = TtyIndex(name, "ttyUSB");
        const int acm = TtyIndex(name, "ttyACM");
        if (uart >= 0) {
            if (uart + 1 > 99 || !HasRealUart(sysEntry))
                continue;
            number = uart + 1;
        } else if (usb >= 0 || acm >= 0) {
            const std::string byId = ByIdNameOf(name);
            if (!byId.empty())
                number = RememberedNumber(byId);
            if (number == 0) {
                const int k = usb >= 0 ? usb : acm;
                if (k >= 50)
                    continue;
                number = (usb >= 0 ? 200 : 250) + k;
            }
        } else {
            continue;
        }
        ports.push_back(MakeEntry(number, path, DescriptionOf(sysEntry, resolved),
                                  OnUsbBus(resolved), LatencyTimerOfEntry(sysEntry)));
    }

    const std::vector<std::string> extra = ExtraPorts();
    for (std::size_t i = 0; i < extra.size(); ++i) {
        const int number = firstExtraNumber + int(i);
        if (NetworkPortAddress::LooksLikeUrl(extra[i]))
            ports.push_back(NetworkEntry(number, extra[i]));
        else if (!extra[i].empty() && Exists(extra[i]))
            ports.push_back(MakeEntry(number, extra[i], "Extra serial port", false));
    }
    for (const auto& network : NetworkPortRegistry::List())
        ports.push_back(NetworkEntry(network.first, network.second));
    std::stable_sort(ports.begin(), ports.end(), [](const PortEntry& a, const PortEntry& b) {
        return a.portNumber < b.portNumber;
    });
    return ports;
}

std::string DevicePathOfPort(int portNumber)
{
    if (portNumber >= 1 && portNumber <= 99)
        return DevDir() + "/ttyS" + std::to_string(portNumber - 1);
    if (portNumber >= firstRememberedNumber && portNumber <= lastRememberedNumber) {
        const std::string byId = ByIdNameOfNumber(portNumber);
        return byId.empty() ? std::string() : DevDir() + "/serial/by-id/" + byId;
    }
    if (portNumber >= 200 && portNumber < 250)
        return DevDir() + "/ttyUSB" + std::to_string(portNumber - 200);
    if (portNumber >= 250 && portNumber < 300)
        return DevDir() + "/ttyACM" + std::to_string(portNumber - 250);
    if (NetworkPortRegistry::IsNetworkNumber(portNumber))
        return NetworkPortRegistry::UrlOf(portNumber);
    if (portNumber >= firstExtraNumber) {
        const std::vector<std::string> extra = ExtraPorts();
        const std::size_t i = std::size_t(portNumber - firstExtraNumber);
        return i < extra.size() ? extra[i] : std::string();
    }
    return std::string();
}

std::string PermissionHint(const std::string& path)
{
    if (::access(path.c_str(), R_OK | W_OK) != 0 && errno == EACCES)
        return " - no permission (add the user to the dialout group)";
    return std::string();
}

std::string UsbLatencyWarning(int latencyTimerMs)
{
    if (latencyTimerMs <= 1)
        return std::string();
    return "USB latency timer " + std::to_string(latencyTimerMs) +
           " ms: replies are delayed, see README";
}

int UsbLatencyTimerMs(const std::string& devicePath)
{
    // The sysfs entry carries the kernel's name; a by-id or other udev link names it one step on.
    const std::string sysDir = SysfsTtyDir();
    std::string name = BaseName(devicePath);
    if (!LinkExists(sysDir + "/" + name)) {
        name = BaseName(ReadLink(devicePath));
        if (name.empty() || !LinkExists(sysDir + "/" + name))
            return 0;
    }
    return LatencyTimerOfEntry(sysDir + "/" + name);
}

bool IsPortAvailable(const std::string& path)
{
    // A network port is chosen by the user, never automatically: trying it would take the
    // server's one client place (and a remote card is not the one the user means by default).
    if (NetworkPortAddress::LooksLikeUrl(path))
        return false;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

} // namespace SerialPlatform

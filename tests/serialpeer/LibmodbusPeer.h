#pragma once

// Modbus peers from libmodbus, for checking our master and the simulator bridge against an
// implementation no one here wrote. Header-only: the serial-peer tests and the round-trip
// benchmark share it.

#include <atomic>
#include <cerrno>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

#include <modbus/modbus.h>

// libmodbus context on an already open descriptor (the master side of a pty): it is never
// "connected", so libmodbus neither opens nor reconfigures nor closes anything.
inline modbus_t* NewLibmodbusRtuOnFd(int fd, const std::string& name)
{
    modbus_t* ctx = modbus_new_rtu(name.c_str(), 115200, 'N', 8, 1);
    if (!ctx)
        throw std::runtime_error("modbus_new_rtu failed");
    modbus_set_slave(ctx, 1);
    modbus_set_socket(ctx, fd);
    return ctx;
}

inline void FreeLibmodbusContext(modbus_t* ctx)
{
    modbus_set_socket(ctx, -1);
    modbus_free(ctx);
}

// A libmodbus RTU slave, node 1, serving a register map from address 0 (coils, discrete inputs,
// holding and input registers, count of each) on a thread of its own. fill sets the map up
// before the thread starts.
class LibmodbusSlave
{
public:
    LibmodbusSlave(int fd, int count, const std::function<void(modbus_mapping_t*)>& fill)
        : m_ctx(NewLibmodbusRtuOnFd(fd, "slave")),
          m_map(modbus_mapping_new(count, count, count, count))
    {
        if (!m_map)
            throw std::runtime_error("modbus_mapping_new failed");
        fill(m_map);
        // A short wait for each request, so that the thread notices the stop flag.
        modbus_set_indication_timeout(m_ctx, 0, 50000);
        m_thread = std::thread([this] { Serve(); });
    }

    ~LibmodbusSlave()
    {
        m_stop = true;
        m_thread.join();
        modbus_mapping_free(m_map);
        FreeLibmodbusContext(m_ctx);
    }

    int Served() const { return m_served.load(); }

private:
    void Serve()
    {
        uint8_t request[MODBUS_RTU_MAX_ADU_LENGTH];
        while (!m_stop) {
            const int n = modbus_receive(m_ctx, request);
            if (n > 0 && modbus_reply(m_ctx, request, n, m_map) > 0)
                ++m_served;
        }
    }

    modbus_t* m_ctx;
    modbus_mapping_t* m_map;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_served{0};
    std::thread m_thread;
};

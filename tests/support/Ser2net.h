// ser2net serving one device, usually a simulated board's pseudo-terminal, over RFC 2217 on the
// loopback address: a free port, a configuration of its own in a temporary folder, stopped when
// the object goes. GUI-free and without GoogleTest, so the benchmarks use it too.
#pragma once

#include <QProcess>
#include <QTemporaryDir>

#include <string>

class TSer2net {
public:
    // charDelay: ser2net's own default, which holds every byte from the board back a little
    // in case more follow; off, answers pass at once. Without rfc2217 the port is served as
    // plain Telnet, which refuses to let the line be set.
    explicit TSer2net(std::string device, bool charDelay = false, bool rfc2217 = true);
    ~TSer2net();
    TSer2net(const TSer2net&) = delete;
    TSer2net& operator=(const TSer2net&) = delete;

    // Starts serving; false with a reason when ser2net cannot.
    bool Start(std::string* error = nullptr);
    // Ends the server at once: every connection drops.
    void Kill();

    // The port name that reaches the device: "rfc2217://127.0.0.1:PORT".
    std::string Url() const;

private:
    bool Listening() const;

    std::string Device;
    bool CharDelay;
    bool Rfc2217;
    int Port = 0;
    QTemporaryDir Folder;
    QProcess Server;
};

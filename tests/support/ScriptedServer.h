// A network port server on the loopback address that plays a script: it agrees to the options
// the script lets it, answers each COM-PORT request with the value asked unless the script says
// otherwise, sends the script's bytes before chosen answers, echoes the data it receives and
// logs every request. For the misbehaving servers a real ser2net never plays. Runs on its own
// thread, since the port under test blocks the test's thread while it waits.
#pragma once

#include <QByteArray>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

struct TServerScript {
    bool Binary = true;   // agrees to binary mode both ways
    bool ComPort = true;  // agrees to the COM-PORT option
    QByteArray OnConnect; // sent as soon as a client connects
    // By COM-PORT command (1 SET-BAUDRATE ... 12 PURGE-DATA): raw bytes sent before the answer,
    // an answer of another value, or no answer at all.
    std::map<uint8_t, QByteArray> Before;
    std::map<uint8_t, QByteArray> AnswerWith;
    std::set<uint8_t> Unanswered;
    bool Echo = true; // sends back the data it receives
};

class TScriptedServer {
public:
    explicit TScriptedServer(TServerScript script);
    ~TScriptedServer();
    TScriptedServer(const TScriptedServer&) = delete;
    TScriptedServer& operator=(const TScriptedServer&) = delete;

    // Listens; false when no port could be had.
    bool Start();
    std::string Url() const;

    // Raw bytes to send now to the connected client.
    void Say(const QByteArray& raw);
    // Stops reading and answering, the connection left open: as a server whose machine went
    // away without closing it.
    void GoSilent() { Silent = true; }

    // COM-PORT requests received, in order: the command and its value.
    struct TRequest {
        uint8_t Command;
        QByteArray Value;
    };
    std::vector<TRequest> Requests() const;
    int Requested(uint8_t command) const;
    QByteArray DataReceived() const;
    int Connections() const { return Accepted; }

private:
    void Serve();

    TServerScript Script;
    int Port = 0;
    std::atomic<bool> Stop{false};
    std::atomic<int> Accepted{0};
    std::atomic<bool> Listening{false};
    std::atomic<bool> Silent{false};
    std::thread Thread;
    mutable std::mutex Lock;
    std::vector<TRequest> Log;
    QByteArray Data;
    QByteArray Outbox;
    friend struct TServerSide;
};

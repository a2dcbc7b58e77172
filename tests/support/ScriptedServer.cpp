#include "ScriptedServer.h"

#include "TelnetDecoder.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>

namespace {
constexpr int StepMs = 5;
}

// The server's side of one connection: what the decoder finds, answered as the script says.
struct TServerSide : TTelnetSink {
    TServerSide(TScriptedServer& server, QTcpSocket& socket) : Server(server), Socket(socket) {}

    void Data(const char* bytes, qsizetype count) override {
        {
            std::lock_guard<std::mutex> hold(Server.Lock);
            Server.Data.append(bytes, count);
        }
        if (Server.Script.Echo)
            Socket.write(telnet::Escaped(bytes, count));
    }
    void Subnegotiation(uint8_t option, const QByteArray& value) override {
        if (option != telnet::ComPortOption || value.isEmpty())
            return;
        const auto command = static_cast<uint8_t>(value[0]);
        {
            std::lock_guard<std::mutex> hold(Server.Lock);
            Server.Log.push_back({command, value.mid(1)});
        }
        const TServerScript& script = Server.Script;
        if (script.Before.count(command))
            Socket.write(script.Before.at(command));
        if (script.Unanswered.count(command))
            return;
        const QByteArray answer =
            script.AnswerWith.count(command) ? script.AnswerWith.at(command) : value.mid(1);
        Socket.write(telnet::Subnegotiation(telnet::ComPortOption,
                                            static_cast<uint8_t>(command + 100), answer));
    }
    void SubnegotiationDropped() override {}

    TScriptedServer& Server;
    QTcpSocket& Socket;
};

TScriptedServer::TScriptedServer(TServerScript script) : Script(std::move(script)) {}

TScriptedServer::~TScriptedServer() {
    Stop = true;
    if (Thread.joinable())
        Thread.join();
}

bool TScriptedServer::Start() {
    Thread = std::thread([this] { Serve(); });
    while (!Listening && !Stop)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return Listening;
}

std::string TScriptedServer::Url() const {
    return "rfc2217://127.0.0.1:" + std::to_string(Port);
}

void TScriptedServer::Say(const QByteArray& raw) {
    std::lock_guard<std::mutex> hold(Lock);
    Outbox.append(raw);
}

std::vector<TScriptedServer::TRequest> TScriptedServer::Requests() const {
    std::lock_guard<std::mutex> hold(Lock);
    return Log;
}

int TScriptedServer::Requested(uint8_t command) const {
    int count = 0;
    for (const TRequest& request : Requests())
        count += request.Command == command;
    return count;
}

QByteArray TScriptedServer::DataReceived() const {
    std::lock_guard<std::mutex> hold(Lock);
    return Data;
}

// One client at a time; the next is accepted once it has gone.
void TScriptedServer::Serve() {
    QTcpServer listener;
    if (!listener.listen(QHostAddress::LocalHost)) {
        Stop = true;
        return;
    }
    Port = listener.serverPort();
    Listening = true;
    while (!Stop) {
        if (!listener.waitForNewConnection(StepMs))
            continue;
        std::unique_ptr<QTcpSocket> socket(listener.nextPendingConnection());
        ++Accepted;
        TServerSide side(*this, *socket);
        TTelnetDecoder decoder(side);
        for (uint8_t option : {telnet::BinaryOption, telnet::SuppressGoAhead}) {
            if (option == telnet::BinaryOption && !Script.Binary)
                continue;
            decoder.AllowHere(option);
            decoder.AllowThere(option);
        }
        if (Script.ComPort)
            decoder.AllowThere(telnet::ComPortOption);
        socket->write(Script.OnConnect);
        while (!Stop && socket->state() == QAbstractSocket::ConnectedState) {
            if (Silent) {
                std::this_thread::sleep_for(std::chrono::milliseconds(StepMs));
                continue;
            }
            {
                std::lock_guard<std::mutex> hold(Lock);
                socket->write(Outbox);
                Outbox.clear();
            }
            socket->flush();
            if (socket->bytesAvailable() > 0 || socket->waitForReadyRead(StepMs))
                decoder.Decode(socket->readAll());
            socket->write(decoder.TakeOutput());
        }
    }
}

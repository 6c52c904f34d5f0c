// The simulator stand-in: answers the SimConnect operations over TCP and the
// named pipe (its stand-in off Windows), runs the frames, flies the user
// aircraft and keeps the AI objects, and writes a trace of what it saw.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/pipe.h"
#include "simconnect/config.h"
#include "simconnect/transport.h"
#include "simconnect/wire.h"
#include "world.h"

namespace vntx::simhost {

struct Options {
    int port = 0;         // IPv4 TCP port on 127.0.0.1; 0 picks a free one; -1 turns it off
    int port6 = -1;       // IPv6 TCP port on ::1; 0 picks a free one; -1 turns it off
    std::string pipeName = simconnect::kDefaultPipeName;  // empty turns the pipe off
    int p3dVersion = 5;   // 5 or 6: the application name and version the Open reply carries
    double frameRate = 30;
    std::string userScript = "parked:47.4647,8.5492,160";  // see UserScript::parse
    std::string titles;   // file or livery folder; empty: every title is refused
    std::string tracePath;
    double traceInterval = 1.0;  // seconds between position records of one object; 0: every change
    // Operations whose successful calls write no record of their own (refused
    // or failed ones still do; positions still go to the position records).
    std::set<std::string> quietOps;
    std::vector<GroundArea> ground;
    std::size_t maxObjects = 1000;
    bool simRunning = true;
    bool writeRegistry = true;   // write the ports where the client looks for them
    simconnect::DWORD protocolVersion = 35;
};

// Parses the command line into options; false with a message on error.
bool parseOptions(const std::vector<std::string>& args, Options& options, std::string& error);
std::string usage();

class Server {
public:
    explicit Server(Options options);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    bool start(std::string& error);
    void stop();

    int port() const { return port_; }
    int port6() const { return port6_; }
    std::string pipePath() const;

    // "sim 0|1", "flightloaded PATH", "positionchanged", "quit", "drop", "stall SECONDS".
    // Returns an empty string, or the reason the command was not understood.
    std::string command(const std::string& line);

    std::size_t connectionCount();
    std::size_t aiObjectCount();
    // Operations handled since the start (all connections).
    std::uint64_t messagesHandled() const { return handled_.load(); }

    struct Session;

private:
    void acceptTcp(std::intptr_t listener);
    void acceptPipe();
    void startSession(std::unique_ptr<simconnect::ByteStream> stream);
    void readSession(const std::shared_ptr<Session>& s);
    void frameLoop();
    void handle(Session& s, simconnect::wire::ByteView message);
    void endSession(Session& s);
    void flushAll();
    void flush(Session& s);
    double now() const;
    // A stalled simulator runs no frames and reads nothing: the client's
    // writes fill the link until it refuses more.
    bool stalled() const { return now() < stallUntil_.load(); }
    void waitWhileStalled();
    void trace(const std::string& jsonLine);
    void tracePosition(const SimObject& o, bool force);

    Options options_;
    World world_;
    std::mutex mutex_;  // the world and every session's state and pending output
    std::vector<std::shared_ptr<Session>> sessions_;
    std::uint64_t nextSessionId_ = 1;
    std::atomic<bool> stopping_{false};
    std::atomic<std::uint64_t> handled_{0};
    std::atomic<double> stallUntil_{0};
    std::chrono::steady_clock::time_point start_;

    std::intptr_t listen4_ = -1, listen6_ = -1;
    int port_ = 0, port6_ = 0;
    std::unique_ptr<platform::pipe::PipeServer> pipe_;
    std::vector<std::thread> threads_;

    std::mutex traceMutex_;
    std::ofstream trace_;
    std::map<std::uint32_t, double> lastTraced_;
};

}  // namespace vntx::simhost

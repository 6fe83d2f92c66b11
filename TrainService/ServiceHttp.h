#pragma once

#include "TrainService/JobQueue.h"

#include <memory>
#include <string>

namespace httplib
{
class Server;
}

// The service's HTTP face: the six requests of the program (start, status and cancel of training and
// test runs, each followed by "/" and the task id), answered with status objects. Everything it
// accepts runs in its JobQueue. Before a body is read, every request must name the loopback host and
// port, come from no origin or a loopback one, and a start must carry a small, uncompressed JSON body;
// anything else gets a "failed" status with a 4xx code.
class ServiceHttp
{
public:
    ServiceHttp();
    ~ServiceHttp();
    ServiceHttp(const ServiceHttp&) = delete;
    ServiceHttp& operator=(const ServiceHttp&) = delete;

    // Binds host:port (port 0: any free port); false with the reason in error when it is taken.
    bool Bind(const std::string& host, int port, std::string& error);
    int Port() const { return m_port; }
    // Serves until Stop; returns at once when not bound.
    void Run();
    // Ends Run from any thread.
    void Stop();

private:
    void Route();

    std::unique_ptr<httplib::Server> m_server;
    JobQueue m_queue;
    int m_port = -1;
};

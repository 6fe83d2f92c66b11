// Status reply times of the training service while slow clients hold connections open, each sending
// its request a byte a second.
//   ServiceGuardBench [slow clients] [status requests]
#include "TrainService/ServiceHttp.h"

#include <QLoggingCategory>

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace
{

int Connect(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    const int slowCount = argc > 1 ? std::atoi(argv[1]) : 8;
    const int requests = argc > 2 ? std::atoi(argv[2]) : 100;
    // The service logs every request.
    QLoggingCategory::setFilterRules(QStringLiteral("*.info=false"));
    ServiceHttp service;
    std::string error;
    if (!service.Bind("127.0.0.1", 0, error))
    {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::thread server([&service] { service.Run(); });

    const std::string slowRequest =
        "GET /get_train_status/SLOW HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(service.Port()) +
        "\r\nX-Pad: " + std::string(4000, 'a') + "\r\n\r\n";
    std::vector<int> slow;
    for (int i = 0; i < slowCount; ++i)
        slow.push_back(Connect(service.Port()));
    std::atomic_bool stop{false};
    std::thread trickle(
        [&]
        {
            for (size_t sent = 0; !stop && sent < slowRequest.size(); ++sent)
            {
                for (const int fd : slow)
                    ::send(fd, slowRequest.data() + sent, 1, MSG_NOSIGNAL);
                for (int i = 0; i < 10 && !stop; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
    // Let every slow client take its connection first.
    std::this_thread::sleep_for(std::chrono::seconds(2));

    std::vector<double> times;
    int unanswered = 0;
    for (int i = 0; i < requests; ++i)
    {
        httplib::Client client("127.0.0.1", service.Port());
        client.set_read_timeout(10, 0);
        const auto start = std::chrono::steady_clock::now();
        const auto res = client.Get("/get_train_status/FAST");
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        if (res && res->status == 200)
            times.push_back(ms);
        else
            ++unanswered;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stop = true;
    trickle.join();
    for (const int fd : slow)
        ::close(fd);
    service.Stop();
    server.join();

    std::sort(times.begin(), times.end());
    if (times.empty())
    {
        std::printf("%d slow clients: no status request answered (%d tried)\n", slowCount, requests);
        return 1;
    }
    std::printf("%d slow clients, %zu status replies: median %.2f ms, slowest %.2f ms, %d unanswered\n",
                slowCount, times.size(), times[times.size() / 2], times.back(), unanswered);
    return 0;
}

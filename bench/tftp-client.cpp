// A TFTP reader that times every block the way the device emulator does: from
// the moment it asks (RRQ or ACK sent) to the moment the block is in. It asks
// for 1024-byte blocks (RFC 2348), so a transfer takes as many round trips as
// a flash does. Loopback only; every wait is bounded.
//
//   tftp-client --port P --file NAME [--timings FILE] [--output FILE]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int fail(const char *what)
{
    std::fprintf(stderr, "error: %s\n", what);
    return 1;
}

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    const size_t index = std::min(values.size() - 1, size_t(fraction * double(values.size() - 1) + 0.5));
    std::nth_element(values.begin(), values.begin() + long(index), values.end());
    return values[index];
}

} // namespace

int main(int argc, char **argv)
{
    int port = 0;
    std::string file, timingsPath, outputPath;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--port")
            port = std::atoi(argv[i + 1]);
        else if (option == "--file")
            file = argv[i + 1];
        else if (option == "--timings")
            timingsPath = argv[i + 1];
        else if (option == "--output")
            outputPath = argv[i + 1];
    }
    if (!port || file.empty())
        return fail("usage: tftp-client --port P --file NAME [--timings FILE] [--output FILE]");

    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(uint16_t(port));
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

    // RRQ: opcode 1, file name, "octet", "blksize", "1024".
    std::string request("\0\1", 2);
    request += file + '\0' + "octet" + '\0' + "blksize" + '\0' + "1024" + '\0';
    std::vector<char> image;
    std::vector<double> turnaround;
    char packet[4 + 1024 + 64];
    sockaddr_in peer{};
    socklen_t peerLength = sizeof peer;
    bool peerKnown = false;
    uint16_t expected = 1;
    std::string last = request;
    auto asked = Clock::now();
    const auto started = asked;
    ::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr *>(&server), sizeof server);

    for (;;) {
        pollfd wait{fd, POLLIN, 0};
        if (::poll(&wait, 1, 5000) <= 0)
            return fail("time-out waiting for the server");
        peerLength = sizeof peer;
        const ssize_t got = ::recvfrom(fd, packet, sizeof packet, 0, reinterpret_cast<sockaddr *>(&peer), &peerLength);
        const auto now = Clock::now();
        if (got < 4)
            continue;
        const uint16_t opcode = uint16_t((uint8_t(packet[0]) << 8) | uint8_t(packet[1]));
        const uint16_t number = uint16_t((uint8_t(packet[2]) << 8) | uint8_t(packet[3]));
        std::string reply("\0\4\0\0", 4);
        if (opcode == 5)
            return fail(("the server refused: " + std::string(packet + 4, size_t(got - 4))).c_str());
        if (opcode == 6) {
            // The block size was accepted: acknowledge block 0 to start.
            peerKnown = true;
        } else if (opcode == 3 && number == expected) {
            turnaround.push_back(std::chrono::duration<double, std::micro>(now - asked).count());
            image.insert(image.end(), packet + 4, packet + got);
            reply[2] = char(number >> 8);
            reply[3] = char(number & 0xFF);
            ++expected; // wraps past 65535 as the server's count does
            peerKnown = true;
            if (got - 4 < 1024) {
                ::sendto(fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr *>(&peer), peerLength);
                break;
            }
        } else {
            continue;
        }
        if (!peerKnown)
            continue;
        asked = Clock::now();
        ::sendto(fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr *>(&peer), peerLength);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    ::close(fd);

    if (!outputPath.empty()) {
        FILE *out = std::fopen(outputPath.c_str(), "wb");
        if (!out || std::fwrite(image.data(), 1, image.size(), out) != image.size())
            return fail("cannot write the output");
        std::fclose(out);
    }
    if (!timingsPath.empty()) {
        FILE *out = std::fopen(timingsPath.c_str(), "w");
        for (double value : turnaround)
            std::fprintf(out, "%.3f\n", value);
        std::fclose(out);
    }
    std::printf("received %zu bytes in %zu blocks, %.3f s, %.2f MiB/s\n", image.size(), turnaround.size(), seconds,
                image.size() / 1048576.0 / seconds);
    std::printf("turnaround per block: median %.1f us, 99th percentile %.1f us\n", percentile(turnaround, 0.5),
                percentile(turnaround, 0.99));
    return 0;
}

// The floor: the device protocol served with plain blocking sockets, no event
// loop and no window. What the wire and the kernel cost per block, and nothing
// else. Serves one image to one connection at a time, on loopback only.
//
//   floor-server --port P --image FILE [--flashes N]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

bool sendAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        data += sent;
        size -= size_t(sent);
    }
    return true;
}

void serve(int fd, const std::vector<char> &image)
{
    size_t position = 0;
    char request[4096];
    for (;;) {
        const ssize_t got = ::recv(fd, request, sizeof request, 0);
        if (got <= 0)
            return;
        const std::string text(request, strnlen(request, size_t(got)));
        if (text == "updata") {
            const uint32_t length = uint32_t(image.size());
            const char header[4] = {char(length & 0xFF), char((length >> 8) & 0xFF), char((length >> 16) & 0xFF),
                                    char((length >> 24) & 0xFF)};
            if (!sendAll(fd, header, sizeof header))
                return;
        } else if (text == "ok" && position < image.size()) {
            char block[1024] = {};
            const size_t take = std::min<size_t>(1024, image.size() - position);
            std::memcpy(block, image.data() + position, take);
            position += take;
            if (!sendAll(fd, block, sizeof block))
                return;
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    int port = 0;
    int flashes = 1;
    const char *path = nullptr;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--port"))
            port = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--image"))
            path = argv[i + 1];
        else if (!std::strcmp(argv[i], "--flashes"))
            flashes = std::atoi(argv[i + 1]);
    }
    if (!port || !path) {
        std::fprintf(stderr, "usage: floor-server --port P --image FILE [--flashes N]\n");
        return 2;
    }
    std::ifstream file(path, std::ios::binary);
    const std::vector<char> image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());

    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const int yes = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || ::listen(listener, 4) != 0) {
        std::perror("floor-server");
        return 1;
    }
    std::printf("READY\n");
    std::fflush(stdout);
    for (int flash = 0; flash < flashes; ++flash) {
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0)
            break;
        serve(fd, image);
        ::close(fd);
    }
    ::close(listener);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("CPU %.3f s, peak RSS %ld MiB\n",
                usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6,
                usage.ru_maxrss / 1024);
    return 0;
}

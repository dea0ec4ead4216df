#include "support/http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <strings.h>

#include <cstring>
#include <stdexcept>

#include "support/url_text.h"

namespace {

const char *content_type(const std::string &path)
{
    const auto ends = [&](const char *suffix) {
        const size_t n = std::strlen(suffix);
        return path.size() >= n && strcasecmp(path.c_str() + path.size() - n, suffix) == 0;
    };
    if (ends(".html")) return "text/html";  // no charset, on purpose
    if (ends(".css")) return "text/css";
    if (ends(".jpg") || ends(".jpeg")) return "image/jpeg";
    if (ends(".mp4")) return "video/mp4";
    if (ends(".webm")) return "video/webm";
    return "application/octet-stream";
}

// Only paths under the root, and only whole ones: a decoded NUL would end
// the path that stat and open see early, and serve another file.
bool servable(const std::string &path)
{
    if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos) return false;
    return path.find("/../") == std::string::npos && !path.ends_with("/..");
}

void send_all(int fd, const std::string &data)
{
    for (size_t sent = 0; sent < data.size();) {
        const ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += static_cast<size_t>(n);
    }
}

}  // namespace

http_server::http_server(std::string root) : root_(std::move(root))
{
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) throw std::runtime_error("http_server: socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // loopback only
    address.sin_port = 0;
    if (bind(listener_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        listen(listener_, 64) != 0)
        throw std::runtime_error("http_server: bind or listen failed");
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

http_server::~http_server()
{
    stopping_ = true;
    thread_.join();
    close(listener_);
}

std::string http_server::origin() const { return "http://127.0.0.1:" + std::to_string(port_); }

std::set<std::string> http_server::missing() const
{
    std::lock_guard lock(mutex_);
    return missing_;
}

void http_server::serve()
{
    while (!stopping_) {
        pollfd p{listener_, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        answer(client);
        close(client);
    }
}

void http_server::answer(int client)
{
    // One request per connection: read up to the end of the head.
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        pollfd p{client, POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0) return;
        const ssize_t n = recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        request.append(buffer, static_cast<size_t>(n));
    }
    const size_t first_space = request.find(' ');
    const size_t second_space = request.find(' ', first_space + 1);
    if (first_space == std::string::npos || second_space == std::string::npos) return;
    std::string target = request.substr(first_space + 1, second_space - first_space - 1);
    if (const size_t query = target.find_first_of("?#"); query != std::string::npos)
        target.resize(query);
    const std::string path = percent_decode(target);

    std::string body;
    bool found = false;
    struct stat status;
    if (servable(path) && stat((root_ + path).c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
        const int fd = open((root_ + path).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
                body.append(buffer, static_cast<size_t>(n));
            close(fd);
            found = true;
        }
    }
    if (!found) {
        std::lock_guard lock(mutex_);
        missing_.insert(path);
    }
    std::string head = found ? "HTTP/1.0 200 OK\r\n" : "HTTP/1.0 404 Not Found\r\n";
    head += std::string("Content-Type: ") + (found ? content_type(path) : "text/plain") + "\r\n";
    head += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
    send_all(client, head + body);
}

// A plain static-file web server on the loopback interface, for browser
// tests: it serves a directory by the raw bytes of each percent-decoded
// request path, as common servers do, and sends no charset, so pages must
// declare their own encoding. It answers on a thread of its own until it
// is destroyed.
#pragma once

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <thread>

class http_server {
public:
    explicit http_server(std::string root);
    ~http_server();
    http_server(const http_server &) = delete;
    http_server &operator=(const http_server &) = delete;

    // "http://127.0.0.1:<port>"
    std::string origin() const;

    // Request paths (percent-decoded) answered 404.
    std::set<std::string> missing() const;

private:
    void serve();
    void answer(int client);

    std::string root_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::set<std::string> missing_;
    std::thread thread_;
};

#include "Resolver.h"

#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

namespace visa::net {
namespace {

struct AddrInfoDeleter {
    void operator()(addrinfo* info) const { freeaddrinfo(info); }
};

NetStatus Lookup(const std::string& host, std::uint16_t port, int flags,
                 std::vector<Endpoint>& endpoints) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = flags;
    addrinfo* raw = nullptr;
    const std::string service = std::to_string(port);
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &raw) != 0 || !raw) {
        return NetStatus::NotFound;
    }
    std::unique_ptr<addrinfo, AddrInfoDeleter> list(raw);
    endpoints.clear();
    for (const addrinfo* info = raw; info; info = info->ai_next) {
        if (!info->ai_addr || info->ai_addrlen > static_cast<SockLen>(sizeof(sockaddr_storage)))
            continue;
        Endpoint endpoint;
        std::memcpy(&endpoint.address, info->ai_addr, info->ai_addrlen);
        endpoint.length = static_cast<SockLen>(info->ai_addrlen);
        endpoints.push_back(endpoint);
    }
    return endpoints.empty() ? NetStatus::NotFound : NetStatus::Ok;
}

// Shared between the caller and the lookup thread, which may outlive the caller's wait.
struct PendingLookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    NetStatus status = NetStatus::NotFound;
    std::vector<Endpoint> endpoints;
};

}  // namespace

void SetPort(std::vector<Endpoint>& endpoints, std::uint16_t port) {
    for (Endpoint& endpoint : endpoints) {
        if (endpoint.address.ss_family == AF_INET) {
            reinterpret_cast<sockaddr_in*>(&endpoint.address)->sin_port = htons(port);
        } else if (endpoint.address.ss_family == AF_INET6) {
            reinterpret_cast<sockaddr_in6*>(&endpoint.address)->sin6_port = htons(port);
        }
    }
}

NetStatus ResolveHost(const std::string& host, std::uint16_t port, const Deadline& deadline,
                      std::vector<Endpoint>& endpoints) {
    endpoints.clear();
    if (host.empty() || !StartSockets())
        return NetStatus::NotFound;
    if (Lookup(host, port, AI_NUMERICHOST, endpoints) == NetStatus::Ok)
        return NetStatus::Ok;

    // A name: look it up on a helper thread so the open budget holds even when the resolver hangs.
    auto pending = std::make_shared<PendingLookup>();
    try {
        std::thread([pending, host, port] {
            std::vector<Endpoint> found;
            const NetStatus status = Lookup(host, port, 0, found);
            std::lock_guard lock(pending->mutex);
            pending->status = status;
            pending->endpoints = std::move(found);
            pending->finished = true;
            pending->done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return Lookup(host, port, 0, endpoints);  // no thread to spare: wait inline
    }
    std::unique_lock lock(pending->mutex);
    if (deadline.IsInfinite()) {
        pending->done.wait(lock, [&] { return pending->finished; });
    } else if (!pending->done.wait_until(lock, deadline.When(),
                                         [&] { return pending->finished; })) {
        return NetStatus::Timeout;
    }
    endpoints = std::move(pending->endpoints);
    return pending->status;
}

}  // namespace visa::net

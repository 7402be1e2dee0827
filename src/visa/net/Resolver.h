// Host name resolution bounded by a deadline. The system resolver has no timeout of its own and
// can hang for many seconds when no name server answers; a numeric address never waits.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Deadline.h"
#include "NetStatus.h"
#include "SocketApi.h"

namespace visa::net {

struct Endpoint {
    sockaddr_storage address{};
    SockLen length = 0;
};

// Points every endpoint at another port.
void SetPort(std::vector<Endpoint>& endpoints, std::uint16_t port);

// Ok with at least one endpoint, NotFound, or Timeout when the deadline passed first.
NetStatus ResolveHost(const std::string& host, std::uint16_t port, const Deadline& deadline,
                      std::vector<Endpoint>& endpoints);

}  // namespace visa::net

// Outcome of one socket-level operation, before any protocol gives it a VISA meaning.
#pragma once

namespace visa::net {

enum class NetStatus {
    Ok,
    Timeout,      // the deadline passed first
    Closed,       // the peer closed or reset the connection
    Refused,      // nothing listens there
    NotFound,     // the host name does not resolve
    Unreachable,  // no route, or an address that cannot be connected to
    Failed,       // anything else the system reports
};

}  // namespace visa::net

// Portmapper and VXI-11 core-channel calls and results, as pure functions over bytes. Encoders
// write one complete record (record mark included) into a reused vector; decoders read the
// results part of an accepted reply and check every length against the bytes present.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "visa/protocol/Vxi11.h"

namespace visa::vxi11 {

using namespace protocol::vxi11;
namespace portmap = protocol::portmap;

// The largest device name a client sends; create_link has no limit of its own.
constexpr std::size_t kMaxDeviceNameBytes = 256;

void EncodeGetPort(std::vector<std::uint8_t>& out, std::uint32_t xid, std::uint32_t program,
                   std::uint32_t version, std::uint32_t protocol);
void EncodeCreateLink(std::vector<std::uint8_t>& out, std::uint32_t xid, std::int32_t clientId,
                      bool lockDevice, std::uint32_t lockTimeoutMs, std::string_view device);
void EncodeDeviceWrite(std::vector<std::uint8_t>& out, std::uint32_t xid, std::int32_t lid,
                       std::uint32_t ioTimeoutMs, std::uint32_t lockTimeoutMs, std::int32_t flags,
                       const std::uint8_t* data, std::size_t length);
void EncodeDeviceRead(std::vector<std::uint8_t>& out, std::uint32_t xid, std::int32_t lid,
                      std::uint32_t requestSize, std::uint32_t ioTimeoutMs,
                      std::uint32_t lockTimeoutMs, std::int32_t flags, std::uint8_t termChar);
// device_clear, device_trigger and the other calls taking Device_GenericParms.
void EncodeGeneric(std::vector<std::uint8_t>& out, std::uint32_t xid, std::uint32_t procedure,
                   std::int32_t lid, std::int32_t flags, std::uint32_t lockTimeoutMs,
                   std::uint32_t ioTimeoutMs);
void EncodeDestroyLink(std::vector<std::uint8_t>& out, std::uint32_t xid, std::int32_t lid);

struct CreateLinkResult {
    std::int32_t error = 0;
    std::int32_t lid = 0;
    std::uint32_t abortPort = 0;
    std::uint32_t maxRecvSize = 0;
};

struct DeviceWriteResult {
    std::int32_t error = 0;
    std::uint32_t size = 0;
};

struct DeviceReadResult {
    std::int32_t error = 0;
    std::int32_t reason = 0;
    const std::uint8_t* data = nullptr;  // points into the decoded bytes
    std::size_t length = 0;
};

// Each returns false when the results are shorter than the structure or a length lies.
bool DecodeGetPort(const std::uint8_t* results, std::size_t size, std::uint32_t& port);
bool DecodeCreateLink(const std::uint8_t* results, std::size_t size, CreateLinkResult& result);
bool DecodeDeviceWrite(const std::uint8_t* results, std::size_t size, DeviceWriteResult& result);
bool DecodeDeviceRead(const std::uint8_t* results, std::size_t size, DeviceReadResult& result);
bool DecodeDeviceError(const std::uint8_t* results, std::size_t size, std::int32_t& error);

}  // namespace visa::vxi11

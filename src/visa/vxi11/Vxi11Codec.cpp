#include "Vxi11Codec.h"

#include "RpcCodec.h"
#include "XdrReader.h"
#include "XdrWriter.h"

namespace visa::vxi11 {

void EncodeGetPort(std::vector<std::uint8_t>& out, std::uint32_t xid, std::uint32_t program,
                   std::uint32_t version, std::uint32_t protocol) {
    BeginCall(out, xid, portmap::kProgram, portmap::kVersion, portmap::kGetPort);
    XdrWriter w(out);
    w.PutUint(program);
    w.PutUint(version);
    w.PutUint(protocol);
    w.PutUint(0);  // port: ignored by GETPORT
    FinishRecord(out);
}

void EncodeCreateLink(std::vector<std::uint8_t>& out, std::uint32_t xid, std::int32_t clientId,
                      bool lockDevice, std::uint32_t lockTimeoutMs, std::string_view device) {
    BeginCall(out, xid, kCoreProgram, kCoreVersion, kCreateLink);
    XdrWriter w(out);
    w.PutInt(clientId);
    w.PutBool(lockDevice);
    w.PutUint(lockTimeoutMs);
    w.PutString(device);
    FinishRecord(out);
}

void EncodeDeviceWrite(std::vector<std::uint8_t>& out, std::uint32_t xid, std::int32_t lid,
                       std::uint32_t ioTimeoutMs, std::uint32_t lockTimeoutMs, std::int32_t flags,
                       const std::uint8_t* data, std::size_t length) {
    BeginCall(out, xid, kCoreProgram, kCoreVersion, kDeviceWrite);
    XdrWriter w(out);
    w.PutInt(lid);
    w.PutUint(ioTimeoutMs);
    w.PutUint(lockTimeoutMs);
    w.PutInt(flags);
    w.PutOpaque(data, length);
    FinishRecord(out);
}

void EncodeDeviceRead(std::vector<std::uint8_t>& out, std::uint32_t xid, std::int32_t lid,
                      std::uint32_t requestSize, std::uint32_t ioTimeoutMs,
                      std::uint32_t lockTimeoutMs, std::int32_t flags, std::uint8_t termChar) {
    BeginCall(out, xid, kCoreProgram, kCoreVersion, kDeviceRead);
    XdrWriter w(out);
    w.PutInt(lid);
    w.PutUint(requestSize);
    w.PutUint(ioTimeoutMs);
    w.PutUint(lockTimeoutMs);
    w.PutInt(flags);
    w.PutUint(termChar);  // a char travels as a full XDR unit
    FinishRecord(out);
}

void EncodeGeneric(std::vector<std::uint8_t>& out, std::uint32_t xid, std::uint32_t procedure,
                   std::int32_t lid, std::int32_t flags, std::uint32_t lockTimeoutMs,
                   std::uint32_t ioTimeoutMs) {
    BeginCall(out, xid, kCoreProgram, kCoreVersion, procedure);
    XdrWriter w(out);
    w.PutInt(lid);
    w.PutInt(flags);
    w.PutUint(lockTimeoutMs);  // lock before I/O timeout here, unlike read and write
    w.PutUint(ioTimeoutMs);
    FinishRecord(out);
}

void EncodeDestroyLink(std::vector<std::uint8_t>& out, std::uint32_t xid, std::int32_t lid) {
    BeginCall(out, xid, kCoreProgram, kCoreVersion, kDestroyLink);
    XdrWriter w(out);
    w.PutInt(lid);
    FinishRecord(out);
}

bool DecodeGetPort(const std::uint8_t* results, std::size_t size, std::uint32_t& port) {
    XdrReader r({results, size});
    port = r.GetU32();
    return r.Ok();
}

bool DecodeCreateLink(const std::uint8_t* results, std::size_t size, CreateLinkResult& result) {
    XdrReader r({results, size});
    result.error = r.GetI32();
    result.lid = r.GetI32();
    result.abortPort = r.GetU32();
    result.maxRecvSize = r.GetU32();
    return r.Ok();
}

bool DecodeDeviceWrite(const std::uint8_t* results, std::size_t size, DeviceWriteResult& result) {
    XdrReader r({results, size});
    result.error = r.GetI32();
    result.size = r.GetU32();
    return r.Ok();
}

bool DecodeDeviceRead(const std::uint8_t* results, std::size_t size, DeviceReadResult& result) {
    XdrReader r({results, size});
    result.error = r.GetI32();
    result.reason = r.GetI32();
    const std::span<const std::uint8_t> data = r.GetOpaque();
    result.data = data.data();
    result.length = data.size();
    return r.Ok();
}

bool DecodeDeviceError(const std::uint8_t* results, std::size_t size, std::int32_t& error) {
    XdrReader r({results, size});
    error = r.GetI32();
    return r.Ok();
}

}  // namespace visa::vxi11

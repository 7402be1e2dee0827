#include "Vxi11Codec.h"

#include "Xdr.h"

namespace sim::server {

namespace {

// A char travels as a full word, the value in its low bits.
uint8_t GetU8(XdrReader& reader) {
    return static_cast<uint8_t>(reader.GetU32());
}

template <typename T>
std::optional<T> Done(const XdrReader& reader, T value) {
    if (!reader.Ok())
        return std::nullopt;
    return value;
}

}  // namespace

std::optional<CreateLinkParms> DecodeCreateLink(std::string_view args) {
    XdrReader reader(args);
    CreateLinkParms p;
    p.clientId = reader.GetI32();
    p.lockDevice = reader.GetBool();
    p.lockTimeoutMs = reader.GetU32();
    p.device = reader.GetString(vxi11::kMaxDeviceName);
    return Done(reader, std::move(p));
}

std::optional<DeviceWriteParms> DecodeDeviceWrite(std::string_view args, size_t maxData) {
    XdrReader reader(args);
    DeviceWriteParms p;
    p.lid = reader.GetI32();
    p.ioTimeoutMs = reader.GetU32();
    p.lockTimeoutMs = reader.GetU32();
    p.flags = reader.GetI32();
    p.data = reader.GetOpaque(maxData);
    return Done(reader, std::move(p));
}

std::optional<DeviceReadParms> DecodeDeviceRead(std::string_view args) {
    XdrReader reader(args);
    DeviceReadParms p;
    p.lid = reader.GetI32();
    p.requestSize = reader.GetU32();
    p.ioTimeoutMs = reader.GetU32();
    p.lockTimeoutMs = reader.GetU32();
    p.flags = reader.GetI32();
    p.termChar = GetU8(reader);
    return Done(reader, p);
}

std::optional<DeviceGenericParms> DecodeDeviceGeneric(std::string_view args) {
    XdrReader reader(args);
    DeviceGenericParms p;
    p.lid = reader.GetI32();
    p.flags = reader.GetI32();
    p.lockTimeoutMs = reader.GetU32();
    p.ioTimeoutMs = reader.GetU32();
    return Done(reader, p);
}

std::optional<DeviceLockParms> DecodeDeviceLock(std::string_view args) {
    XdrReader reader(args);
    DeviceLockParms p;
    p.lid = reader.GetI32();
    p.flags = reader.GetI32();
    p.lockTimeoutMs = reader.GetU32();
    return Done(reader, p);
}

std::optional<int32_t> DecodeDeviceLink(std::string_view args) {
    XdrReader reader(args);
    const int32_t lid = reader.GetI32();
    return Done(reader, lid);
}

std::optional<int32_t> DecodeEnableSrq(std::string_view args) {
    XdrReader reader(args);
    const int32_t lid = reader.GetI32();
    reader.GetBool();  // enable
    reader.GetOpaque(vxi11::kMaxSrqHandleBytes);
    return Done(reader, lid);
}

std::string EncodeCreateLinkResp(int32_t error, int32_t lid, uint16_t abortPort,
                                 uint32_t maxRecvSize) {
    XdrWriter writer;
    writer.PutI32(error);
    writer.PutI32(lid);
    writer.PutU32(abortPort);
    writer.PutU32(maxRecvSize);
    return writer.Take();
}

std::string EncodeDeviceWriteResp(int32_t error, uint32_t size) {
    XdrWriter writer;
    writer.PutI32(error);
    writer.PutU32(size);
    return writer.Take();
}

std::string EncodeDeviceReadResp(int32_t error, int32_t reason, std::string_view data) {
    XdrWriter writer;
    writer.PutI32(error);
    writer.PutI32(reason);
    writer.PutOpaque(data);
    return writer.Take();
}

std::string EncodeReadStbResp(int32_t error, uint8_t stb) {
    XdrWriter writer;
    writer.PutI32(error);
    writer.PutU32(stb);
    return writer.Take();
}

std::string EncodeDeviceError(int32_t error) {
    XdrWriter writer;
    writer.PutI32(error);
    return writer.Take();
}

std::string EncodeDocmdResp(int32_t error) {
    XdrWriter writer;
    writer.PutI32(error);
    writer.PutOpaque({});
    return writer.Take();
}

std::optional<PortMapping> DecodeMapping(std::string_view args) {
    XdrReader reader(args);
    PortMapping m;
    m.program = reader.GetU32();
    m.version = reader.GetU32();
    m.protocol = reader.GetU32();
    m.port = reader.GetU32();
    return Done(reader, m);
}

std::optional<RpcbEntry> DecodeRpcb(std::string_view args) {
    XdrReader reader(args);
    RpcbEntry e;
    e.program = reader.GetU32();
    e.version = reader.GetU32();
    e.netid = reader.GetString(portmap::kMaxRpcbString);
    e.address = reader.GetString(portmap::kMaxRpcbString);
    e.owner = reader.GetString(portmap::kMaxRpcbString);
    return Done(reader, std::move(e));
}

std::string EncodeMapping(const PortMapping& mapping) {
    XdrWriter writer;
    writer.PutU32(mapping.program);
    writer.PutU32(mapping.version);
    writer.PutU32(mapping.protocol);
    writer.PutU32(mapping.port);
    return writer.Take();
}

std::string EncodeRpcb(const RpcbEntry& entry) {
    XdrWriter writer;
    writer.PutU32(entry.program);
    writer.PutU32(entry.version);
    writer.PutString(entry.netid);
    writer.PutString(entry.address);
    writer.PutString(entry.owner);
    return writer.Take();
}

std::string EncodeU32(uint32_t value) {
    XdrWriter writer;
    writer.PutU32(value);
    return writer.Take();
}

std::string EncodeBool(bool value) {
    return EncodeU32(value ? 1 : 0);
}

std::string EncodeString(std::string_view text) {
    XdrWriter writer;
    writer.PutString(text);
    return writer.Take();
}

std::string EncodeMappingList(const std::vector<PortMapping>& mappings) {
    std::string out;
    for (const PortMapping& m : mappings) {
        out += EncodeBool(true);
        out += EncodeMapping(m);
    }
    out += EncodeBool(false);
    return out;
}

std::string UniversalAddress(std::string_view ipv4, uint16_t port) {
    return std::string(ipv4) + "." + std::to_string(port >> 8) + "." + std::to_string(port & 0xFF);
}

}  // namespace sim::server

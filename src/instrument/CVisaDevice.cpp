#include "CVisaDevice.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "CFileError.h"
#include "MessageSink.h"

using namespace visa;

namespace korvel {

std::string CVisaDevice::s_lastReply;

std::string CVisaDevice::NormaliseResource(const std::string& typed) {
    if (typed.find("::INSTR") != std::string::npos)
        return typed;
    if (typed.size() == 2)
        return "GPIB0::" + typed + "::INSTR";
    return "TCPIP::" + typed + "::INSTR";
}

CVisaDevice::CVisaDevice(const std::string& typedResource) {
    m_status = viOpenDefaultRM(&m_resourceManager);
    if (m_status < VI_SUCCESS) {
        m_resourceManager = VI_NULL;
        ShowMessage("VISA Init Error");
        return;
    }
    m_resource = NormaliseResource(typedResource);
    m_status = viOpen(m_resourceManager, m_resource.c_str(), VI_NO_LOCK, 0, &m_session);
    if (m_status < VI_SUCCESS) {
        m_session = VI_NULL;
        ShowMessage("Cannot open device " + m_resource);
        return;
    }

    // Identification probe, still at the library's default timeout. Only the read decides;
    // the reply is discarded and leaves s_lastReply alone.
    static const char kProbe[] = "*IDN?\n";
    ViUInt32 count = 0;
    m_status = viWrite(m_session, reinterpret_cast<ViConstBuf>(kProbe), 6, &count);
    std::array<ViByte, kBufferSize> buffer;
    m_status = viRead(m_session, buffer.data(), kBufferSize, &count);
    // An overlong identification must not leave its tail to be read as the next reply.
    while (m_status == VI_SUCCESS_MAX_CNT)
        m_status = viRead(m_session, buffer.data(), kBufferSize, &count);
    if (m_status < VI_SUCCESS) {
        ShowMessage("Cannot read *IDN from device " + m_resource);
        return;
    }
    m_connected = true;
    m_status = viSetAttribute(m_session, VI_ATTR_TMO_VALUE, kTimeoutMs);
}

CVisaDevice::~CVisaDevice() {
    if (m_session != VI_NULL)
        viClose(m_session);
    if (m_resourceManager != VI_NULL)
        viClose(m_resourceManager);
}

bool CVisaDevice::Write(const std::string& command) {
    if (!m_connected)
        return false;
    std::string line = command + '\n';
    ViUInt32 count = 0;
    m_status = viWrite(m_session, reinterpret_cast<ViConstBuf>(line.data()),
                       static_cast<ViUInt32>(line.size()), &count);
    if (m_status < VI_SUCCESS) {
        m_connected = false;
        return true;
    }
    return false;
}

std::string CVisaDevice::Read() {
    if (!m_connected)
        return s_lastReply;
    std::array<ViByte, kBufferSize> buffer;
    ViUInt32 count = 0;
    m_status = viRead(m_session, buffer.data(), kBufferSize, &count);
    const ViUInt32 received = count;
    // A reply that filled the buffer keeps only its first 9999 bytes. The rest of the message is
    // read and dropped here, or it would come back as the reply to the next query.
    while (m_status == VI_SUCCESS_MAX_CNT) {
        std::array<ViByte, kBufferSize> scratch;
        m_status = viRead(m_session, scratch.data(), kBufferSize, &count);
    }
    if (m_status < VI_SUCCESS) {
        ShowMessage("Cannot read from device " + m_resource);
        m_connected = false;
        return {};
    }
    // The last byte is the instrument's line feed. A read of zero bytes is an empty reply.
    size_t length = received > 0 ? received - 1 : 0;
    const void* zero = std::memchr(buffer.data(), 0, length);
    if (zero)
        length = static_cast<size_t>(static_cast<const ViByte*>(zero) - buffer.data());
    s_lastReply.assign(reinterpret_cast<const char*>(buffer.data()), length);
    return s_lastReply;
}

std::string CVisaDevice::ReadWhole() {
    if (!m_connected)
        return s_lastReply;
    std::string reply;
    std::array<ViByte, kBufferSize> buffer;
    do {
        ViUInt32 count = 0;
        m_status = viRead(m_session, buffer.data(), kBufferSize, &count);
        reply.append(reinterpret_cast<const char*>(buffer.data()), count);
    } while (m_status == VI_SUCCESS_MAX_CNT);
    if (m_status < VI_SUCCESS) {
        ShowMessage("Cannot read from device " + m_resource);
        m_connected = false;
        return {};
    }
    if (!reply.empty() && reply.back() == '\n')
        reply.pop_back();
    s_lastReply = reply;
    return s_lastReply;
}

ViStatus CVisaDevice::SetTimeout(ViUInt32 timeoutMs) {
    if (m_session == VI_NULL)
        return VI_ERROR_INV_OBJECT;
    return viSetAttribute(m_session, VI_ATTR_TMO_VALUE, timeoutMs);
}

std::string CVisaDevice::Query(const std::string& command) {
    if (Write(command))
        return {};
    return Read();
}

void CVisaDevice::ReadErrorQueue(bool show) {
    std::string errors;
    int entries = 0;
    bool cut = false;
    // Ends on the empty-queue answer ("0,..."), on "-999999999", when the session fails (its
    // replies would only repeat the last reply of some session), or at the entry bound.
    while (m_connected) {
        if (entries == kMaxErrorEntries) {
            cut = true;
            break;
        }
        const std::string reply = Query("SYST:ERR?");
        if (!reply.empty() && reply[0] == '0')
            break;
        errors += '\n' + reply;
        ++entries;
        if (reply.compare(0, 10, "-999999999") == 0)
            break;
    }
    if (!errors.empty() && show) {
        std::string text = "Error Queue of " + m_resource + ":\n" + errors;
        if (cut)
            text += "\n(listing cut after " + std::to_string(kMaxErrorEntries) + " entries)";
        ShowMessage(text);
    }
}

bool CVisaDevice::CopyFile(const std::string& fileName, const std::string& directory) {
    if (!m_connected)
        return false;
    Write("MMEM:CDIR '" + directory + "'");

    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> file(std::fopen(fileName.c_str(), "rb"));
    if (!file)
        throw CFileError(fileName, std::strerror(errno));
    long length = -1;
    if (std::fseek(file.get(), 0, SEEK_END) == 0)
        length = std::ftell(file.get());
    if (length < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0) {
        throw CFileError(fileName, "its size cannot be determined");
    }
    if (length > static_cast<long>(kMaxFileSize))
        return true;

    // "MMEM:DATA '<name>',#<digits><length>" followed directly by the data, no line feed.
    const std::string lengthText = std::to_string(length);
    const std::string header =
        "MMEM:DATA '" + fileName + "',#" + std::to_string(lengthText.size()) + lengthText;
    const size_t total = header.size() + static_cast<size_t>(length);
    if (total > kBufferSize)
        return true;  // a long file name leaves no room for the data

    std::array<char, kBufferSize> buffer;
    std::memcpy(buffer.data(), header.data(), header.size());
    const size_t got =
        std::fread(buffer.data() + header.size(), 1, static_cast<size_t>(length), file.get());
    if (got != static_cast<size_t>(length)) {
        throw CFileError(fileName, "it changed or vanished while it was being read");
    }
    file.reset();
    if (!m_connected)
        return true;  // the directory command already failed

    ViUInt32 count = 0;
    m_status = viWrite(m_session, reinterpret_cast<ViConstBuf>(buffer.data()),
                       static_cast<ViUInt32>(total), &count);
    if (m_status < VI_SUCCESS) {
        m_connected = false;
        return true;
    }
    return false;
}

}  // namespace korvel

// One message-based session to one instrument, with the program's SCPI line conventions.
// A session that has failed stays failed: it sends nothing more, and its reads return the last
// reply that any session read.
#pragma once

#include <string>

#include "visa/visa.h"

namespace korvel {

class CVisaDevice {
public:
    // Opens the instrument named by the resource string as typed; failures are shown to the
    // user (through the message sink) before the constructor returns.
    explicit CVisaDevice(const std::string& typedResource);
    ~CVisaDevice();
    CVisaDevice(const CVisaDevice&) = delete;
    CVisaDevice& operator=(const CVisaDevice&) = delete;

    bool IsConnected() const { return m_connected; }
    // Sends command plus a line feed. Returns true when the send failed.
    bool Write(const std::string& command);
    // The next reply without its last byte (the line feed), cut at a zero byte.
    std::string Read();
    std::string Query(const std::string& command);
    // The next reply whole, however long and zero bytes and all, without a final line feed: for
    // the console, where traces and long lists are read. The procedures keep Read's cut.
    std::string ReadWhole();

    // Empties the instrument's error queue; with show, lists its entries in one message.
    void ReadErrorQueue(bool show);
    // Sends the local file fileName into the instrument directory as one definite-length block.
    // Returns true when the transfer failed or was refused; throws CFileError when the local
    // file cannot be read.
    bool CopyFile(const std::string& fileName, const std::string& directory);

    // Sets the session's I/O timeout (VI_ATTR_TMO_VALUE), for tools that let the user choose it.
    visa::ViStatus SetTimeout(visa::ViUInt32 timeoutMs);

    const std::string& Resource() const { return m_resource; }
    visa::ViStatus Status() const { return m_status; }

    // "28" -> GPIB0::28::INSTR, "host" -> TCPIP::host::INSTR, anything with "::INSTR" as typed.
    static std::string NormaliseResource(const std::string& typed);

    static constexpr size_t kBufferSize = 10000;  // one read, and one file transfer
    static constexpr size_t kMaxFileSize = 9900;
    static constexpr int kMaxErrorEntries = 50;  // bound on one error-queue listing
    static constexpr visa::ViUInt32 kTimeoutMs = 10000;

    // The reply of the most recent successful read by any session.
    static std::string s_lastReply;

private:
    visa::ViStatus m_status = visa::VI_SUCCESS;
    visa::ViSession m_resourceManager = visa::VI_NULL;
    visa::ViSession m_session = visa::VI_NULL;
    bool m_connected = false;
    std::string m_resource;
};

}  // namespace korvel

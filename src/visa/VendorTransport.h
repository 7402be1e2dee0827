// One session of a vendor VISA library behind our handle: reads, writes and attributes go to the
// vendor as they are, and its statuses come back unchanged.
#pragma once

#include <memory>

#include "Transport.h"
#include "VendorLibrary.h"

namespace visa {

class VendorTransport final : public Transport {
public:
    VendorTransport(std::shared_ptr<VendorLibrary> library, ViSession session)
        : m_library(std::move(library)), m_session(session) {}
    // Does not close: a session whose resource manager is gone went with it.
    ~VendorTransport() override = default;

    ViStatus Write(ViConstBuf data, ViUInt32 count, ViUInt32& written,
                   const IoSettings& io) override;
    ViStatus Read(ViPBuf buffer, ViUInt32 count, ViUInt32& received, const IoSettings& io) override;
    // The six functions we forward to have no device clear.
    ViStatus Clear(const IoSettings&) override { return VI_ERROR_NSUP_OPER; }
    ViStatus Close() noexcept override;
    ViStatus SetAttribute(ViAttr attribute, ViAttrState value, IoSettings& io) override;
    bool IsPassthrough() const override { return true; }

private:
    std::shared_ptr<VendorLibrary> m_library;
    ViSession m_session;
    // Vendor handles are reused after close, so once closed this never calls the vendor again.
    bool m_closed = false;
};

}  // namespace visa

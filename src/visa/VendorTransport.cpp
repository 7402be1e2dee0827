#include "VendorTransport.h"

namespace visa {

ViStatus VendorTransport::Write(ViConstBuf data, ViUInt32 count, ViUInt32& written,
                                const IoSettings&) {
    return m_closed ? VI_ERROR_INV_OBJECT : m_library->Write(m_session, data, count, written);
}

ViStatus VendorTransport::Read(ViPBuf buffer, ViUInt32 count, ViUInt32& received,
                               const IoSettings&) {
    return m_closed ? VI_ERROR_INV_OBJECT : m_library->Read(m_session, buffer, count, received);
}

ViStatus VendorTransport::Close() noexcept {
    if (m_closed)
        return VI_SUCCESS;
    m_closed = true;
    return m_library->Close(m_session);
}

ViStatus VendorTransport::SetAttribute(ViAttr attribute, ViAttrState value, IoSettings&) {
    return m_closed ? VI_ERROR_INV_OBJECT : m_library->SetAttribute(m_session, attribute, value);
}

}  // namespace visa

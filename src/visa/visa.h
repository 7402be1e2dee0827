// Korvel's VISA function layer: the standard VISA types, status values and the six functions the
// program uses. Everything lives in namespace visa, so these definitions never collide with the C
// symbols of a vendor VISA library that may be loaded into the same process at run time.
#pragma once

#include <cstdint>

namespace visa {

using ViInt32 = std::int32_t;
using ViUInt32 = std::uint32_t;
using ViUInt16 = std::uint16_t;
using ViUInt64 = std::uint64_t;
using ViPUInt32 = ViUInt32*;
using ViByte = unsigned char;
using ViBuf = ViByte*;
using ViPBuf = ViByte*;
using ViConstBuf = const ViByte*;
using ViChar = char;
using ViRsrc = ViChar*;
using ViConstRsrc = const ViChar*;
using ViStatus = ViInt32;
using ViObject = ViUInt32;
using ViSession = ViUInt32;
using ViPSession = ViSession*;
using ViAccessMode = ViUInt32;
using ViAttr = ViUInt32;
using ViAttrState = ViUInt64;  // pointer-sized on 64-bit platforms, as in VISA 5

constexpr ViSession VI_NULL = 0;
constexpr ViUInt32 VI_TRUE = 1;
constexpr ViUInt32 VI_FALSE = 0;

// Completion codes and warnings (success).
constexpr ViStatus VI_SUCCESS = 0;
constexpr ViStatus VI_SUCCESS_TERM_CHAR = 0x3FFF0005;
constexpr ViStatus VI_SUCCESS_MAX_CNT = 0x3FFF0006;
constexpr ViStatus VI_SUCCESS_DEV_NPRESENT = 0x3FFF007D;
constexpr ViStatus VI_WARN_QUEUE_OVERFLOW = 0x3FFF000C;
constexpr ViStatus VI_WARN_CONFIG_NLOADED = 0x3FFF0077;
constexpr ViStatus VI_WARN_NULL_OBJECT = 0x3FFF0082;
constexpr ViStatus VI_WARN_NSUP_ATTR_STATE = 0x3FFF0084;
constexpr ViStatus VI_WARN_UNKNOWN_STATUS = 0x3FFF0085;

// Errors: 0xBFFF.... as signed 32-bit values.
constexpr ViStatus ViError(std::uint32_t code) {
    return static_cast<ViStatus>(code);
}
constexpr ViStatus VI_ERROR_SYSTEM_ERROR = ViError(0xBFFF0000u);
constexpr ViStatus VI_ERROR_INV_OBJECT = ViError(0xBFFF000Eu);
constexpr ViStatus VI_ERROR_RSRC_LOCKED = ViError(0xBFFF000Fu);
constexpr ViStatus VI_ERROR_RSRC_NFOUND = ViError(0xBFFF0011u);
constexpr ViStatus VI_ERROR_INV_RSRC_NAME = ViError(0xBFFF0012u);
constexpr ViStatus VI_ERROR_INV_ACC_MODE = ViError(0xBFFF0013u);
constexpr ViStatus VI_ERROR_TMO = ViError(0xBFFF0015u);
constexpr ViStatus VI_ERROR_CLOSING_FAILED = ViError(0xBFFF0016u);
constexpr ViStatus VI_ERROR_NSUP_ATTR = ViError(0xBFFF001Du);
constexpr ViStatus VI_ERROR_NSUP_ATTR_STATE = ViError(0xBFFF001Eu);
constexpr ViStatus VI_ERROR_ATTR_READONLY = ViError(0xBFFF001Fu);
constexpr ViStatus VI_ERROR_ABORT = ViError(0xBFFF0030u);
constexpr ViStatus VI_ERROR_INV_SETUP = ViError(0xBFFF003Au);
constexpr ViStatus VI_ERROR_ALLOC = ViError(0xBFFF003Cu);
constexpr ViStatus VI_ERROR_IO = ViError(0xBFFF003Eu);
constexpr ViStatus VI_ERROR_NSUP_OPER = ViError(0xBFFF0067u);
constexpr ViStatus VI_ERROR_RSRC_BUSY = ViError(0xBFFF0072u);
constexpr ViStatus VI_ERROR_INV_PARAMETER = ViError(0xBFFF0078u);
constexpr ViStatus VI_ERROR_SESN_NLOCKED = ViError(0xBFFF009Cu);
constexpr ViStatus VI_ERROR_LIBRARY_NFOUND = ViError(0xBFFF009Eu);
constexpr ViStatus VI_ERROR_INTF_NUM_NCONFIG = ViError(0xBFFF00A5u);
constexpr ViStatus VI_ERROR_CONN_LOST = ViError(0xBFFF00A6u);

// Attributes.
constexpr ViAttr VI_ATTR_TMO_VALUE = 0x3FFF001A;
constexpr ViAttr VI_ATTR_TERMCHAR = 0x3FFF0018;
constexpr ViAttr VI_ATTR_TERMCHAR_EN = 0x3FFF0038;
constexpr ViAttr VI_ATTR_SEND_END_EN = 0x3FFF0016;
constexpr ViAttr VI_ATTR_SUPPRESS_END_EN = 0x3FFF0036;

constexpr ViUInt32 VI_TMO_IMMEDIATE = 0;
constexpr ViUInt32 VI_TMO_INFINITE = 0xFFFFFFFFu;

// Access modes of viOpen.
constexpr ViAccessMode VI_NO_LOCK = 0;
constexpr ViAccessMode VI_EXCLUSIVE_LOCK = 1;
constexpr ViAccessMode VI_SHARED_LOCK = 2;
constexpr ViAccessMode VI_LOAD_CONFIG = 4;

// The I/O timeout a session has before VI_ATTR_TMO_VALUE is set.
constexpr ViUInt32 kDefaultTimeoutMs = 2000;

ViStatus viOpenDefaultRM(ViPSession vi);
ViStatus viOpen(ViSession sesn, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout,
                ViPSession vi);
ViStatus viClose(ViObject vi);
ViStatus viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue);
ViStatus viRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt);
ViStatus viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt);

}  // namespace visa

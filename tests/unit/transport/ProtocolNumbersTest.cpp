// Client and simulator read the same protocol numbers, so neither can catch a wrong one in the
// other: each is checked here against the value the protocol itself defines.
#include <gtest/gtest.h>

#include <cstdint>

#include "visa/protocol/HiSlip.h"
#include "visa/protocol/Ieee488.h"
#include "visa/protocol/Vxi11.h"

namespace {

using namespace visa::protocol;

struct Number {
    const char* name;
    std::int64_t value;
    std::int64_t defined;
};

TEST(ProtocolNumbers, MatchTheValuesTheProtocolsDefine) {
    using R = rpc::AcceptStat;
    // clang-format off
    const Number numbers[] = {
        {"HiSLIP port", hislip::kDefaultPort, 4880}, {"HiSLIP header", hislip::kHeaderBytes, 16},
        {"HiSLIP 1.0", hislip::kProtocolVersion, 0x0100},
        {"first MessageID", hislip::kInitialMessageId, 0xFFFFFF00},
        {"unknown MessageID", hislip::kUnknownMessageId, 0xFFFFFFFF},
        {"sub-address", hislip::kMaxSubAddressBytes, 256}, {"Initialize", hislip::kInitialize, 0},
        {"FatalError", hislip::kFatalError, 2}, {"Error", hislip::kError, 3},
        {"AsyncLock", hislip::kAsyncLock, 4}, {"Data", hislip::kData, 6}, {"DataEnd", hislip::kDataEnd, 7},
        {"DeviceClearAcknowledge", hislip::kDeviceClearAcknowledge, 9}, {"Trigger", hislip::kTrigger, 12},
        {"AsyncMaximumMessageSize", hislip::kAsyncMaximumMessageSize, 15},
        {"AsyncInitialize", hislip::kAsyncInitialize, 17},
        {"AsyncDeviceClear", hislip::kAsyncDeviceClear, 19},
        {"AsyncStatusQuery", hislip::kAsyncStatusQuery, 21},
        {"AsyncDeviceClearAcknowledge", hislip::kAsyncDeviceClearAcknowledge, 23},
        {"AsyncLockInfoResponse", hislip::kAsyncLockInfoResponse, 25},
        {"vendor", hislip::kFirstVendorSpecific, 128}, {"fatal: bad header", hislip::kFatalBadHeader, 1},
        {"fatal: init sequence", hislip::kFatalInvalidInitSequence, 3},
        {"fatal: clients", hislip::kFatalMaxClients, 4}, {"error: type", hislip::kErrorUnrecognizedType, 1},
        {"error: vendor", hislip::kErrorUnrecognizedVendor, 3},
        {"error: size", hislip::kErrorMessageTooLarge, 4}, {"lock request", hislip::kLockRequest, 1},
        {"lock failed", hislip::kLockFailed, 0}, {"lock success", hislip::kLockSuccess, 1},
        {"shared released", hislip::kLockSharedReleased, 2}, {"lock error", hislip::kLockError, 3},
        {"RMT-delivered", hislip::kRmtDelivered, 1}, {"remote/local codes", hislip::kLastRemoteLocalCode, 6},
        {"RPC version", rpc::kVersion, 2}, {"REPLY", rpc::kReply, 1}, {"MSG_DENIED", rpc::kMsgDenied, 1},
        {"last fragment", rpc::kLastFragment, 0x80000000}, {"auth body", rpc::kMaxAuthBytes, 400},
        {"GARBAGE_ARGS", static_cast<std::int64_t>(R::GarbageArgs), 4},
        {"SYSTEM_ERR", static_cast<std::int64_t>(R::SystemErr), 5}, {"portmapper", portmap::kProgram, 100000},
        {"portmapper version", portmap::kVersion, 2}, {"portmapper port", portmap::kPort, 111},
        {"GETPORT", portmap::kGetPort, 3}, {"DUMP", portmap::kDump, 4}, {"TCP", portmap::kProtocolTcp, 6},
        {"UDP", portmap::kProtocolUdp, 17}, {"DEVICE_CORE", vxi11::kCoreProgram, 395183},
        {"DEVICE_ASYNC", vxi11::kAbortProgram, 395184}, {"DEVICE_INTR", vxi11::kInterruptProgram, 395185},
        {"core version", vxi11::kCoreVersion, 1}, {"device_abort", vxi11::kDeviceAbort, 1},
        {"create_link", vxi11::kCreateLink, 10}, {"device_read", vxi11::kDeviceRead, 12},
        {"device_readstb", vxi11::kDeviceReadStb, 13}, {"device_clear", vxi11::kDeviceClear, 15},
        {"device_lock", vxi11::kDeviceLock, 18}, {"device_enable_srq", vxi11::kDeviceEnableSrq, 20},
        {"device_docmd", vxi11::kDeviceDocmd, 22}, {"destroy_link", vxi11::kDestroyLink, 23},
        {"destroy_intr_chan", vxi11::kDestroyIntrChan, 26}, {"not accessible", vxi11::kErrorNotAccessible, 3},
        {"invalid link", vxi11::kErrorInvalidLink, 4},
        {"channel not established", vxi11::kErrorChannelNotEstablished, 6},
        {"not supported", vxi11::kErrorNotSupported, 8}, {"out of resources", vxi11::kErrorOutOfResources, 9},
        {"locked", vxi11::kErrorLocked, 11}, {"no lock", vxi11::kErrorNoLock, 12},
        {"I/O timeout", vxi11::kErrorIoTimeout, 15}, {"I/O error", vxi11::kErrorIo, 17},
        {"invalid address", vxi11::kErrorInvalidAddress, 21}, {"abort", vxi11::kErrorAbort, 23},
        {"waitlock", vxi11::kFlagWaitLock, 0x01}, {"end", vxi11::kFlagEnd, 0x08},
        {"termchrset", vxi11::kFlagTermCharSet, 0x80}, {"REQCNT", vxi11::kReasonRequestCount, 1},
        {"CHR", vxi11::kReasonTermChar, 2}, {"END", vxi11::kReasonEnd, 4},
        {"SRQ handle", vxi11::kMaxSrqHandleBytes, 40}, {"MAV", ieee488::kStbMav, 0x10},
        {"ESB", ieee488::kStbEsb, 0x20}, {"RQS", ieee488::kStbRqs, 0x40}, {"OPC", ieee488::kEsrOpc, 0x01},
        {"QYE", ieee488::kEsrQye, 0x04}, {"DDE", ieee488::kEsrDde, 0x08}, {"EXE", ieee488::kEsrExe, 0x10},
        {"CME", ieee488::kEsrCme, 0x20}, {"PON", ieee488::kEsrPon, 0x80},
    };
    // clang-format on
    for (const Number& n : numbers)
        EXPECT_EQ(n.value, n.defined) << n.name;
}

}  // namespace

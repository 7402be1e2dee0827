// The parts of the benchmark that decide what a row is compared with: the floor must replay the
// sizes the protocols really put on the wire, and the table must judge each goal against the
// right row.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PingPong.h"
#include "TableReporter.h"
#include "TransferLog.h"
#include "sim/server/OncRpc.h"
#include "sim/server/Vxi11Codec.h"
#include "sim/server/Xdr.h"
#include "visa/hislip/HiSlipCodec.h"
#include "visa/vxi11/Vxi11Codec.h"

namespace {

using sim::server::EncodeAcceptedReply;
using sim::server::EncodeRecord;
namespace rpc = sim::server::rpc;

TEST(TransferLog, FloorExchangesHaveTheSizesOnTheWire) {
    TransferLog log;
    const std::string command = "SOURCE1:BB:POFF 120.00DEG\n";  // 26 bytes: padding on the way
    const std::string reply = "-71.234\n";
    log.Add(true, static_cast<std::uint32_t>(command.size()));
    log.Add(true, 6);
    log.Add(false, static_cast<std::uint32_t>(reply.size()));

    std::vector<std::uint8_t> call;
    const auto bytes = [](const std::string& s) {
        return reinterpret_cast<const std::uint8_t*>(s.data());
    };
    const auto vxi11 = log.Vxi11Exchanges();
    ASSERT_EQ(vxi11.size(), 3u);
    visa::vxi11::EncodeDeviceWrite(call, 1, 0, 1000, 0, visa::vxi11::kFlagEnd, bytes(command),
                                   command.size());
    EXPECT_EQ(vxi11[0].requestBytes, call.size());
    EXPECT_EQ(vxi11[0].responseBytes,
              EncodeRecord(EncodeAcceptedReply(1, rpc::AcceptStat::Success,
                                               sim::server::EncodeDeviceWriteResp(0, 26)))
                  .size());
    visa::vxi11::EncodeDeviceRead(call, 2, 0, 10000, 1000, 0, 0, 0);
    EXPECT_EQ(vxi11[2].requestBytes, call.size());
    EXPECT_EQ(vxi11[2].responseBytes,
              EncodeRecord(EncodeAcceptedReply(2, rpc::AcceptStat::Success,
                                               sim::server::EncodeDeviceReadResp(0, 4, reply)))
                  .size());

    // HiSLIP: one exchange per message sent; the query's carries its response.
    const auto hislip = log.HiSlipExchanges();
    ASSERT_EQ(hislip.size(), 2u);
    EXPECT_EQ(hislip[0].requestBytes, visa::hislip::kHeaderBytes + command.size());
    EXPECT_EQ(hislip[0].responseBytes, visa::hislip::kHeaderBytes);
    EXPECT_EQ(hislip[1].requestBytes, visa::hislip::kHeaderBytes + 6);
    EXPECT_EQ(hislip[1].responseBytes, visa::hislip::kHeaderBytes + reply.size());
}

TEST(PingPong, AnswersWithTheSizesAsked) {
    PingPong floor;
    ASSERT_TRUE(floor.Start());
    EXPECT_TRUE(floor.Run({{8, 0}, {72, 36}, {3, 70000}, {200000, 1}}));
    floor.Stop();
    EXPECT_FALSE(floor.Run({{8, 8}}));
}

benchmark::BenchmarkReporter::Run Repetition(const std::string& id, double value) {
    benchmark::BenchmarkReporter::Run run;
    run.run_name.function_name = id;
    run.counters["value"] = value;
    return run;
}

TEST(TableReporter, JudgesEachGoalOnTheMedianAgainstItsComparison) {
    using Goal = TableRow::Goal;
    TableReporter table(
        {{"floor", "floor", TableRow::Unit::Microseconds, "", Goal::None, 0},
         {"client", "client", TableRow::Unit::Microseconds, "floor", Goal::AtMostTimesVersus, 1.25},
         {"other", "other client", TableRow::Unit::Microseconds, "client", Goal::AtLeastTimesVersus,
          2},
         {"open", "open", TableRow::Unit::Milliseconds, "", Goal::AtMost, 3},
         {"gone", "gone", TableRow::Unit::Microseconds, "floor", Goal::AtMostTimesVersus, 1}});
    // Medians 10 and 12.25 (even counts: the mean of the middle two) and 23; an outlier each.
    table.ReportRuns({Repetition("floor", 9), Repetition("floor", 11), Repetition("floor", 40),
                      Repetition("floor", 8)});
    table.ReportRuns({Repetition("client", 12), Repetition("client", 500),
                      Repetition("client", 11.5), Repetition("client", 12.5)});
    table.ReportRuns({Repetition("other", 23), Repetition("other", 22), Repetition("other", 90)});
    table.ReportRuns({Repetition("open", 3500)});
    auto failed = Repetition("gone", 1);
    failed.error_occurred = true;
    failed.error_message = "the server went away";
    table.ReportRuns({failed});

    testing::internal::CaptureStdout();
    table.Finalize();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("1.23x"), std::string::npos) << out;  // 12.25 / 10
    EXPECT_NE(out.find("1.88x"), std::string::npos) << out;  // 23 / 12.25: short of 2x
    EXPECT_NE(out.find("the server went away"), std::string::npos) << out;
    EXPECT_EQ(table.Missed(), 2);  // the other client, and the open time of 3.5 ms
    EXPECT_EQ(table.Failed(), 1);
}

}  // namespace

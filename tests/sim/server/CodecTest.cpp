// Byte-level checks of the server's codecs: record reassembly however TCP splits the stream, and
// bounds that must hold against lying lengths. The wire bytes themselves are pinned by the client
// codec's reference vectors and held to them by the client-against-simulator and interop tests.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/server/MessageAssembler.h"
#include "sim/server/OncRpc.h"
#include "sim/server/Vxi11Codec.h"
#include "sim/server/Xdr.h"
#include "tests/support/TestSupport.h"

using namespace sim::server;

namespace {

std::string HexText(std::string_view hex) {
    const auto bytes = Hex(hex);
    return {bytes.begin(), bytes.end()};
}

}  // namespace

TEST(OncRpcCodec, LyingOrShortInputIsRejectedNotRead) {
    XdrWriter writer;
    writer.PutU32(0);
    writer.PutU32(0);
    writer.PutU32(0);
    writer.PutU32(0);
    writer.PutU32(0x7FFFFFF0);  // data length far beyond the record
    writer.PutU32(0x41414141);
    EXPECT_FALSE(DecodeDeviceWrite(writer.Bytes(), 1 << 20));
    // Within the record but beyond the bound.
    XdrWriter big;
    for (int i = 0; i < 4; ++i)
        big.PutU32(0);
    big.PutOpaque(std::string(100, 'x'));
    EXPECT_FALSE(DecodeDeviceWrite(big.Bytes(), 99));
    EXPECT_TRUE(DecodeDeviceWrite(big.Bytes(), 100));
    // Padding missing at the very end is tolerated, as some peers send it.
    XdrWriter name;
    name.PutU32(1);
    name.PutU32(0);
    name.PutU32(0);
    name.PutOpaque("inst0");
    const std::string unpadded = name.Bytes().substr(0, name.Bytes().size() - 3);
    ASSERT_TRUE(DecodeCreateLink(unpadded));
    EXPECT_EQ(DecodeCreateLink(unpadded)->device, "inst0");
    EXPECT_FALSE(DecodeCreateLink(unpadded.substr(0, unpadded.size() - 1)));

    RpcCall call;
    EXPECT_EQ(DecodeCall(HexText("00000001 00000000"), call), RpcDecode::Malformed);
    EXPECT_EQ(DecodeCall(HexText("00000001 00000001 00000000"), call), RpcDecode::NotCall);
    EXPECT_EQ(DecodeCall(HexText("00000001 00000000 00000003"), call), RpcDecode::WrongVersion);
    // A credential body longer than 400 bytes.
    XdrWriter cred;
    for (uint32_t word : {1u, 0u, 2u, 100000u, 2u, 3u, 1u})
        cred.PutU32(word);
    cred.PutOpaque(std::string(401, 'c'));
    cred.PutU32(0);
    cred.PutU32(0);
    EXPECT_EQ(DecodeCall(cred.Bytes(), call), RpcDecode::Malformed);
}

TEST(RecordAssembler, ReassemblesFragmentsHoweverTheStreamIsCutAndBoundsTheSize) {
    // One record in three fragments, then a second record, then an empty record.
    std::string stream = HexText("00000002") + "ab" + HexText("00000003") + "cde" +
                         HexText("80000001") + "f" + HexText("80000002") + "gh" +
                         HexText("80000000");
    for (size_t piece : {size_t{1}, size_t{3}, size_t{5}, stream.size()}) {
        RecordAssembler assembler(1024);
        std::vector<std::string> records;
        for (size_t at = 0; at < stream.size(); at += piece) {
            std::string_view input = std::string_view(stream).substr(at, piece);
            while (!input.empty()) {
                std::string record;
                const auto result = assembler.Push(input, record);
                ASSERT_NE(result, RecordAssembler::Result::TooLarge);
                if (result == RecordAssembler::Result::Record)
                    records.push_back(record);
            }
        }
        EXPECT_EQ(records, (std::vector<std::string>{"abcdef", "gh", ""})) << "piece " << piece;
    }
    // A size beyond the limit, announced in the next fragment or at once, fails before storing.
    for (const std::string& lie :
         {HexText("00000040") + std::string(64, 'x') + HexText("80000030"), HexText("fffffff0")}) {
        RecordAssembler assembler(100);
        std::string record;
        std::string_view input = lie;
        EXPECT_EQ(assembler.Push(input, record), RecordAssembler::Result::TooLarge);
    }
}

TEST(MessageAssembler, TerminatorsBlocksAndEnd) {
    struct Case {
        std::vector<std::pair<std::string, bool>> writes;  // bytes, END
        std::vector<std::string> messages;
    };
    const std::string block = "MMEM:DATA 'a.wv',#212ab\ncd;\n\"#xyz";
    const std::vector<Case> cases = {
        {{{"*IDN?\n", true}}, {"*IDN?\n"}},
        {{{"*IDN?\n", false}}, {"*IDN?\n"}},                // NL alone terminates
        {{{"FREQ 1", false}, {"E9", true}}, {"FREQ 1E9"}},  // END across writes
        {{{"*RST\n*IDN?\n", true}}, {"*RST\n", "*IDN?\n"}},
        {{{block, true}}, {block}},  // the NL inside the block is data
        {{{"MMEM:DATA 'a',#15ab\n", false}, {"de", true}}, {"MMEM:DATA 'a',#15ab\nde"}},
        {{{"MMEM:DATA 'a',#0x\ny\n", false}, {"z", true}}, {"MMEM:DATA 'a',#0x\ny\nz"}},
        {{{"MMEM:DATA 'a',#10\n", true}}, {"MMEM:DATA 'a',#10\n"}},  // empty block
        {{{"A 'x\n", false}, {"B?\n", false}}, {"A 'x\n", "B?\n"}},  // unterminated string
        {{{"SYST:ERR?", true}, {"", true}}, {"SYST:ERR?"}},
    };
    for (const Case& c : cases) {
        MessageAssembler assembler(1024);
        std::vector<std::string> messages;
        for (const auto& [bytes, end] : c.writes)
            EXPECT_TRUE(assembler.Append(bytes, end, messages));
        EXPECT_EQ(messages, c.messages) << c.writes.front().first;
        EXPECT_TRUE(assembler.Empty());
    }
}

TEST(MessageAssembler, OverlongMessageIsDiscardedAndAssemblyRecovers) {
    MessageAssembler assembler(16);
    std::vector<std::string> messages;
    EXPECT_FALSE(assembler.Append(std::string(17, 'x'), false, messages));
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(assembler.Append("*IDN?\n", true, messages));
    EXPECT_EQ(messages, std::vector<std::string>{"*IDN?\n"});
    // A block length bigger than the limit cannot make the assembler wait for ever.
    EXPECT_TRUE(assembler.Append("X #9999999999", false, messages));
    EXPECT_FALSE(assembler.Append("abcd", false, messages));
    EXPECT_TRUE(assembler.Empty());
}

TEST(MessageAssembler, QueriesAreFoundOutsideStringsAndBlocks) {
    EXPECT_TRUE(MessageAssembler::HasQuery("*IDN?\n"));
    EXPECT_TRUE(MessageAssembler::HasQuery("FREQ 1E9;*OPC?\n"));
    EXPECT_FALSE(MessageAssembler::HasQuery("FREQ 1E9\n"));
    EXPECT_FALSE(MessageAssembler::HasQuery("MMEM:CDIR 'what?'\n"));
    EXPECT_FALSE(MessageAssembler::HasQuery("MMEM:DATA 'a',#13a?b"));
    EXPECT_TRUE(MessageAssembler::HasQuery("MMEM:DATA 'a',#13a?b;*OPC?"));
    EXPECT_FALSE(MessageAssembler::HasQuery("MMEM:DATA 'a',#0??"));
}

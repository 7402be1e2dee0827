#include <gtest/gtest.h>

#include "instrument/ConnectInstruments.h"

using namespace korvel;

// What connecting sends and the RF B switch are the procedure traffic tests'; the missing
// instruments, their boxes and the dialog's OK and cancel the gui tests'. Here the model family.
namespace {

TEST(ConnectInstruments, VrtCountsOnlyAfterTheFirstCharacterAndTheFirstOccurrenceDecides) {
    EXPECT_TRUE(IsVrtFamily("Maltoven,VRT100A,1,1"));
    for (const char* other : {"VRT100A,1,1", "Maltoven,VRQ200A,1,1", "", "VRT,VRT"})
        EXPECT_FALSE(IsVrtFamily(other));
}

}  // namespace

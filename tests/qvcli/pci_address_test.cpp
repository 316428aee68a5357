#include <gtest/gtest.h>

#include "pci_address.h"

namespace qvtest {

namespace {

std::string RoundTrip(const char* text) {
    PciAddress address;
    if (!ParsePciAddress(text, &address)) return "refused";
    char formatted[kPciAddressText];
    FormatPciAddress(address, formatted);
    return formatted;
}

TEST(PciAddress, ReadsWhatLspciWritesAndShortForms) {
    EXPECT_EQ(RoundTrip("00:1f.3"), "00:1f.3");
    EXPECT_EQ(RoundTrip("1C:03.4"), "1c:03.4");
    EXPECT_EQ(RoundTrip("0:2.1"), "00:02.1");
    EXPECT_EQ(RoundTrip("ff:1f.7"), "ff:1f.7");
    EXPECT_EQ(RoundTrip("0000:04:00.0"), "04:00.0");
    EXPECT_EQ(RoundTrip("0002:41:01.0"), "0002:41:01.0");
}

TEST(PciAddress, RefusesWhatIsNoFunctionAddress) {
    for (const char* text : {"", "00:1f", "00.1f.3", "00:20.0", "00:1f.8", "100:00.0", "00:001.0", "00:1f.3 ",
                             "00:1f.33", "10000:00:00.0", "x0:00.0", "00:00.0:1", "0:0:0:0.0", ":00.0"}) {
        EXPECT_EQ(RoundTrip(text), "refused") << '"' << text << '"';
    }
}

}  // namespace

}  // namespace qvtest

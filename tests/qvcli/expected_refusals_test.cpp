// What a restore does not count as failed, byte by byte: the masks
// ExpectedRefusals gives for each header layout, for capability lists that
// differ between the file and the hardware, and for an error-reporting
// capability near the end of the space; and the status bits LeaveStatusAlone
// keeps out of a header about to be written.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "expected_refusals.h"

namespace qvtest {

namespace {

const QvU8 kStatusHigh = 0xF9;  // bits 8 and 11..15 of a status register

struct Image : SpaceImage {
    explicit Image(unsigned layout) : SpaceImage() {
        memset(static_cast<SpaceImage*>(this), 0, sizeof(SpaceImage));
        Bytes[0x0E] = static_cast<QvU8>(0x80 | layout);  // multi-function: the bit is not the layout
        memset(RowGiven, 1, kSpaceRows);
    }
    // A capability list in the header, from the pointer at pointerOffset.
    void Capabilities(unsigned pointerOffset, const std::vector<unsigned>& entries) {
        Bytes[0x06] |= 0x10;
        Bytes[pointerOffset] = static_cast<QvU8>(entries.empty() ? 0 : entries[0]);
        for (size_t i = 0; i < entries.size(); ++i) {
            Bytes[entries[i]] = 0x05;
            Bytes[entries[i] + 1] = static_cast<QvU8>(i + 1 < entries.size() ? entries[i + 1] : 0);
        }
    }
    // An extended capability list: (offset, identifier) from 0x100.
    void Extended(const std::vector<std::pair<unsigned, unsigned>>& entries) {
        for (size_t i = 0; i < entries.size(); ++i) {
            unsigned next = i + 1 < entries.size() ? entries[i + 1].first : 0;
            unsigned header = entries[i].second | 1u << 16 | next << 20;
            for (unsigned b = 0; b < 4; ++b)
                Bytes[entries[i].first + b] = static_cast<QvU8>(header >> (8 * b));
        }
    }
};

struct Mask {
    QvU8 bytes[kSpaceBytes] = {};
    void Set(unsigned offset, unsigned length, QvU8 bits = 0xFF) { memset(bytes + offset, bits, length); }
    // An error-reporting capability at `at`: its header, the uncorrectable
    // and correctable status, the header log and, in a root port (a
    // bridge), bits 0..6 of the root error status.
    void ErrorReporting(unsigned at, bool rootPort) {
        Set(at, 4);
        Set(at + 0x04, 4);
        Set(at + 0x10, 4);
        Set(at + 0x1C, 16);
        if (rootPort) Set(at + 0x30, 1, 0x7F);
    }
};

// The offsets where got and want differ, with both masks, for the message.
std::string Differences(const QvU8* got, const QvU8* want) {
    std::string text;
    for (unsigned i = 0; i < kSpaceBytes; ++i) {
        if (got[i] == want[i]) continue;
        char row[48];
        snprintf(row, sizeof row, " %03x: got %02x, want %02x;", i, got[i], want[i]);
        text += row;
    }
    return text;
}

void ExpectMask(const SpaceImage& written, const SpaceImage& readBack, bool withExtended, const Mask& want) {
    QvU8 got[kSpaceBytes];
    memset(got, 0xA5, sizeof got);  // every byte must be set, not only the ignored ones
    ExpectedRefusals(written, readBack, withExtended, got);
    EXPECT_EQ(Differences(got, want.bytes), "");
}

// Identifiers, class code, header type and the status register: every layout.
Mask Common() {
    Mask mask;
    mask.Set(0x00, 4);
    mask.Set(0x08, 4);
    mask.Set(0x0E, 1);
    mask.Set(0x07, 1, kStatusHigh);
    return mask;
}

}  // namespace

TEST(ExpectedRefusals, EachLayoutIgnoresItsOwnIdentifiersStatusAndCapabilityHeaders) {
    // Each layout: where its capability pointer, secondary status (0: none)
    // and subsystem registers (0: none) are, and where its list is put.
    const struct {
        unsigned layout, pointer, secondaryStatus, subsystem, entry;
    } kLayouts[] = {
        {0, 0x34, 0, 0x2C, 0x40},     // a device
        {1, 0x34, 0x1E, 0, 0x60},     // a PCI-to-PCI bridge
        {2, 0x14, 0x16, 0x40, 0x80},  // a CardBus bridge
    };
    for (const auto& kind : kLayouts) {
        Image image(kind.layout);
        image.Capabilities(kind.pointer, {kind.entry, kind.entry + 0x10, 0xFC});
        Mask want = Common();
        if (kind.secondaryStatus != 0) want.Set(kind.secondaryStatus + 1, 1, kStatusHigh);
        if (kind.subsystem != 0) want.Set(kind.subsystem, 4);
        for (unsigned entry : {kind.entry, kind.entry + 0x10, 0xFCu}) want.Set(entry, 2);
        ExpectMask(image, image, false, want);
    }

    // A layout nobody knows: the common registers alone, whatever it holds.
    Image unknown(3);
    unknown.Capabilities(0x34, {0x40});
    unknown.Extended({{0x100, 0x0001}});
    ExpectMask(unknown, unknown, true, Common());
}

TEST(ExpectedRefusals, TheLayoutIsTheHardwaresAndBothCapabilityListsCount) {
    // The file says device, the function reads back as a bridge: the
    // bridge's registers are those not compared.
    Image written(0);
    written.Capabilities(0x34, {0x40});
    Image readBack(1);
    readBack.Capabilities(0x34, {0x70, 0xA0});
    Mask want = Common();
    want.Set(0x1F, 1, kStatusHigh);
    for (unsigned entry : {0x40u, 0x70u, 0xA0u}) want.Set(entry, 2);
    ExpectMask(written, readBack, false, want);
}

TEST(ExpectedRefusals, ExtendedHeadersAndErrorReportingOnlyWithTheExtendedSpace) {
    Image device(0);
    device.Extended({{0x100, 0x0001}, {0x148, 0x000B}, {0x200, 0x0001}});
    Image readBack = device;
    readBack.Extended({{0x100, 0x0001}, {0x180, 0x000D}});
    Mask want = Common();
    want.Set(0x2C, 4);
    ExpectMask(device, readBack, false, want);

    // Each header doubleword; in each error-reporting capability the
    // uncorrectable and correctable status and the header log. Its root
    // error status (0x30) is a root port's: not in a device.
    for (unsigned entry : {0x148u, 0x180u}) want.Set(entry, 4);
    for (unsigned aer : {0x100u, 0x200u}) want.ErrorReporting(aer, false);
    ExpectMask(device, readBack, true, want);

    // In a bridge, bits 0..6 of the root error status clear on a 1 as well.
    Image bridge(1);
    bridge.Extended({{0x100, 0x0001}});
    want = Common();
    want.Set(0x1F, 1, kStatusHigh);
    want.ErrorReporting(0x100, true);
    ExpectMask(bridge, bridge, true, want);
}

TEST(ExpectedRefusals, AnErrorReportingCapabilityMustFitInTheSpace) {
    // A bridge whose second extended capability is the error-reporting one:
    // at 0xFCC its 0x34 bytes end at 0x1000 exactly, and all of it counts;
    // at 0xFD0 it would run past the end, and only its header does.
    for (unsigned at : {0xFCCu, 0xFD0u}) {
        Image bridge(1);
        bridge.Extended({{0x100, 0x000B}, {at, 0x0001}});
        Mask want = Common();
        want.Set(0x1F, 1, kStatusHigh);
        want.Set(0x100, 4);
        if (at == 0xFCC) want.ErrorReporting(at, true);
        want.Set(at, 4);
        ExpectMask(bridge, bridge, true, want);
    }
}

TEST(ExpectedRefusals, LeaveStatusAloneClearsTheBitsThatClearOnAOne) {
    // Layout, and where its secondary status' high byte is (0: none).
    const unsigned kCases[][2] = {{0, 0}, {1, 0x1F}, {2, 0x17}, {3, 0}};
    for (const auto& layout : kCases) {
        QvU8 header[kConfigHeaderBytes];
        memset(header, 0xFF, sizeof header);
        header[0x0E] = static_cast<QvU8>(layout[0]);
        QvU8 want[kConfigHeaderBytes];
        memcpy(want, header, sizeof want);
        want[0x07] = static_cast<QvU8>(~kStatusHigh);
        if (layout[1] != 0) want[layout[1]] = static_cast<QvU8>(~kStatusHigh);
        LeaveStatusAlone(header);
        for (unsigned i = 0; i < kConfigHeaderBytes; ++i)
            EXPECT_EQ(header[i], want[i]) << layout[0] << " " << i;
    }
}

}  // namespace qvtest

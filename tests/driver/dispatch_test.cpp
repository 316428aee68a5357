// Request validation and routing, through the I/O manager's real path.
#include "driver_fixture.h"

namespace qvtest {
namespace {

using DispatchTest = DriverTest;

TEST_F(DispatchTest, ReadsAPresentHeaderWhole) {
    Reply reply{};
    ConfigRequest request = ReadHeader(1, 0, 0, &reply);
    EXPECT_EQ(reply.status, STATUS_SUCCESS);
    EXPECT_EQ(reply.returned, 272u);
    EXPECT_EQ(request.Result, 256u);
    unsigned char expected[256];
    ASSERT_TRUE(machine().ReadConfig({1, 0, 0}, 0, expected, 256));
    EXPECT_EQ(std::memcmp(request.Data, expected, 256), 0);
}

}  // namespace
}  // namespace qvtest

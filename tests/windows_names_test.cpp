// Windows names with the product type.
#include "server/model/windows_names.h"

#include <gtest/gtest.h>

namespace tally {
namespace {

TEST(WindowsNames, ByVersionBuildAndProductType) {
    const struct {
        std::uint8_t major, minor;
        std::uint16_t build;
        std::uint8_t product;
        const char* name;
    } cases[] = {
        {5, 2, 3790, 3, "Windows Server 2003"},
        {5, 2, 3790, 1, "Windows XP"},
        {5, 2, 3790, 0, "Windows 2003"},  // an earlier client: no product type
        {6, 0, 6002, 2, "Windows Server 2008"},
        {6, 1, 7601, 3, "Windows Server 2008 R2"},
        {6, 1, 7601, 1, "Windows 7"},
        {6, 2, 9200, 3, "Windows Server 2012"},
        {6, 3, 9600, 3, "Windows Server 2012 R2"},
        {10, 0, 14393, 3, "Windows Server 2016"},
        {10, 0, 10586, 3, "Windows Server 2016"},
        {10, 0, 17763, 2, "Windows Server 2019"},
        {10, 0, 19042, 3, "Windows Server, version 20H2"},
        {10, 0, 20348, 3, "Windows Server 2022"},
        {10, 0, 22000, 3, "Windows Server 2022"},
        {10, 0, 26100, 3, "Windows Server 2025"},
        {10, 0, 26200, 3, "Windows Server 2025"},
        {10, 0, 19045, 1, "Windows 10"},
        {10, 0, 22631, 1, "Windows 11"},
        {5, 0, 2195, 3, "Windows 2000"},
        {4, 0, 1381, 3, "Windows NT 4.0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(windows_name(2, c.minor, c.major, c.build, c.product), c.name)
            << int(c.major) << "." << int(c.minor) << "." << c.build << " type " << int(c.product);
    EXPECT_EQ(windows_name(1, 10, 4, 2222, 3), "Windows 98");
}

}  // namespace
}  // namespace tally

#include "bootloader/block_check.h"
#include "sim/bootloader_model.h"
#include "bootloader/port_names.h"

#include <gtest/gtest.h>

#include <random>

using kelvane::bootloader::BlockCheck;

TEST(BlockCheck, KnownCheckValues) {
    std::uint8_t zeros[16] = {}, ones[16], counting[16];
    for (int i = 0; i < 16; ++i) {
        ones[i] = 0xFF;
        counting[i] = static_cast<std::uint8_t>(i);
    }
    EXPECT_EQ(BlockCheck(zeros), 0x0000);
    EXPECT_EQ(BlockCheck(ones), 0x80FE);
    EXPECT_EQ(BlockCheck(counting), 0xD562);
}

TEST(BlockCheck, AgreesWithTheBootloadersOwnFormulation) {
    std::mt19937 rng(12345);
    std::uint8_t block[16];
    for (int round = 0; round < 2000; ++round) {
        for (auto& b : block) b = static_cast<std::uint8_t>(rng());
        ASSERT_EQ(BlockCheck(block), kelvane::sim::BootloaderModel::check(block)) << "round " << round;
    }
}

TEST(PortNames, ComEntriesGiveTheirNumber) {
    using kelvane::bootloader::PortNumberFromEntry;
    EXPECT_EQ(PortNumberFromEntry("COM7"), 7);
    EXPECT_EQ(PortNumberFromEntry("COM123"), 123);
    EXPECT_EQ(PortNumberFromEntry("COM10"), 10);
    EXPECT_EQ(PortNumberFromEntry("COM12x"), 12);  // leading digits only
    EXPECT_EQ(PortNumberFromEntry("COM"), 0);
    EXPECT_EQ(PortNumberFromEntry("COMx1"), 0);
    EXPECT_EQ(PortNumberFromEntry("com3"), 0);
    EXPECT_EQ(PortNumberFromEntry("ttyS0"), 0);
    EXPECT_EQ(PortNumberFromEntry(""), 0);
    EXPECT_EQ(PortNumberFromEntry("COM999"), 999);
    EXPECT_EQ(PortNumberFromEntry("COM1000"), 0);  // no room in the device name
    EXPECT_EQ(PortNumberFromEntry("COM99999999999999999999"), 0);
    EXPECT_EQ(kelvane::bootloader::ComDeviceName(7), "\\\\.\\COM7");
    EXPECT_EQ(kelvane::bootloader::ComDeviceName(123), "\\\\.\\COM123");
}

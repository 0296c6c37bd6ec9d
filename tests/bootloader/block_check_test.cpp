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
    using kelvane::bootloader::portNumberFromEntry;
    EXPECT_EQ(portNumberFromEntry("COM7"), 7);
    EXPECT_EQ(portNumberFromEntry("COM123"), 123);
    EXPECT_EQ(portNumberFromEntry("COM10"), 10);
    EXPECT_EQ(portNumberFromEntry("COM12x"), 12);  // leading digits only
    EXPECT_EQ(portNumberFromEntry("COM"), 0);
    EXPECT_EQ(portNumberFromEntry("COMx1"), 0);
    EXPECT_EQ(portNumberFromEntry("com3"), 0);
    EXPECT_EQ(portNumberFromEntry("ttyS0"), 0);
    EXPECT_EQ(portNumberFromEntry(""), 0);
    EXPECT_EQ(portNumberFromEntry("COM999"), 999);
    EXPECT_EQ(portNumberFromEntry("COM1000"), 0);  // no room in the device name
    EXPECT_EQ(portNumberFromEntry("COM99999999999999999999"), 0);
    EXPECT_EQ(kelvane::bootloader::comDeviceName(7), "\\\\.\\COM7");
    EXPECT_EQ(kelvane::bootloader::comDeviceName(123), "\\\\.\\COM123");
}

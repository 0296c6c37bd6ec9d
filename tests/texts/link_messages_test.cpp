// The texts the window shows for the device link's reports.
#include "link/probe.h"
#include "texts/language_table.h"
#include "texts/link_messages.h"

#include <gtest/gtest.h>

#include <string>

namespace kelvane::texts {
namespace {

using link::Message;

TEST(LinkMessages, EveryReportHasItsTextInEveryLanguage) {
    const std::string noAnswer[] = {"Brak odpowiedzi zasilacza", "No answer from the power supply", "..."};
    for (int language = 0; language < kLanguageCount; ++language)
        EXPECT_EQ(messageText(Message::NoAnswer, language), noAnswer[language]) << language;
    EXPECT_STREQ(messageText(Message::PortOpenError, kEnglish), "Port openning error!");
}

TEST(LinkMessages, StatusFormatFillsPortAndNumbersInEveryLanguage) {
    const std::uint8_t raw[8] = {0x00, 0x05, 0x34, 0x12, 0x03, 0x01, 0x00, 0x00};
    const link::ProbeReply r = link::decodeProbeReply(raw);
    EXPECT_EQ(link::formatPortStatus(messageText(Message::PortStatus, kPolish), "\\\\.\\COM3", r),
              "Port \\\\.\\COM3, zasilacz ID 5, Nr seryjny 4660, firmware 259");
    EXPECT_EQ(link::formatPortStatus(messageText(Message::PortStatus, kThird), "COM3", r), ". COM3, 5, 4660, 259");
}

TEST(LinkMessages, PortTextsTellTheDialoutFixAndFillThePortName) {
    for (int language : {kPolish, kEnglish}) {
        EXPECT_NE(std::string(messageText(Message::PortDialoutFix, language)).find("sudo usermod -aG dialout $USER"),
                  std::string::npos);
        const std::string silent = link::formatPortStatus(messageText(Message::ProbeNoAnswer, language), "ttyUSB0", {});
        EXPECT_NE(silent.find("ttyUSB0"), std::string::npos);
        EXPECT_EQ(silent.find('%'), std::string::npos);
    }
}

}  // namespace
}  // namespace kelvane::texts

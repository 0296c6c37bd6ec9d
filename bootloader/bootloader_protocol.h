#pragma once
// The serial dialogue that resets the controller into its bootloader and
// programs the firmware image into it, block by block.
//
// Phase A (OpenUpgradePort, RequestBootloader): 2400 baud 8N2, the reset
// request and the controller's identity. Phase B (UpgradeWorker, ProgramImage):
// 57,600 baud 8N1, the bootloader's banner and 7,680 data frames.
//
// Every pause, read and write checks the stop flag: once a stop is requested
// nothing more is sent and nothing more is shown, the port is closed and the
// functions return at once.
#include "link/serial_line.h"
#include "bootloader/stop_flag.h"
#include "bootloader/upgrade_state.h"
#include "bootloader/upgrade_report.h"

#include <cstdint>
#include <string>

namespace kelvane::bootloader {

struct UpgradeLink {
    link::Line& line;
    link::Clock& clock;
    StopFlag& stop;
    UpgradeReport& view;
};

// Frame and answer bytes.
constexpr std::uint8_t kWakeUp = 0x55;
constexpr std::uint8_t kDataFrame = 0x56;
constexpr std::uint8_t kEndByte = 0x58;
constexpr std::uint8_t kAccepted = 0x20;
constexpr std::uint8_t kDeviceType = 0x33;

// Results of ProgramImage.
constexpr std::uint8_t kProgramOk = 0x00;
constexpr std::uint8_t kProgramRefused10 = 0x10;
constexpr std::uint8_t kProgramRefused11 = 0x11;
constexpr std::uint8_t kProgramNoAcceptance = 0x12;
constexpr std::uint8_t kProgramNoBanner = 0x13;
// An answer more than sendings answered: the bootloader took a frame the
// tool sent again after silence, so the flash is out of step with the file.
constexpr std::uint8_t kProgramOutOfStep = 0x14;
constexpr std::uint8_t kProgramStopped = 0xFF;  // the run was stopped

link::LineSettings phaseASettings(link::LineSettings base = {});
link::LineSettings phaseBSettings(link::LineSettings base = {});
link::Timeouts upgradeTimeouts();

// Opens the named port with the phase A settings; PortBusy on failure, with
// the cause the system gave.
bool OpenUpgradePort(UpgradeState& state, UpgradeLink& link, const std::string& deviceName);
// Phase A. False (port closed, message shown) on a wrong device type, or when
// stopped; otherwise true with the port at the phase B settings.
bool RequestBootloader(UpgradeState& state, UpgradeLink& link);
enum class WorkerEnd {
    Stopped = 0,  // port closed, nothing shown
    Ended = 1,    // ended by itself: final message shown, port closed, runEnded() called
};
// Phase B, the worker's whole run; UpgradeState::programResult holds the
// programming's result byte (-1 when the banner named another device).
WorkerEnd UpgradeWorker(UpgradeState& state, UpgradeLink& link);
// Banner check and all data frames; the result byte above.
std::uint8_t ProgramImage(UpgradeState& state, UpgradeLink& link);

}  // namespace kelvane::bootloader

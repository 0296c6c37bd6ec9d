#pragma once
// Orva_Upgrade's status line (UTF-8, Polish as the upgrade tool's own): the
// texts of the bootloader dialogue's messages and how a status is built.
#include "bootloader/upgrade_report.h"

#include <string>
#include <vector>

namespace kelvane::texts::upgrade {

constexpr const char* kNoFile = "Brak pliku: 4817_05.dat";
constexpr const char* kSearchedIn = "Szukano w folderze: ";  // the status line's tooltip after kNoFile
constexpr const char* kBadFile = "B\u0142\u0119dny plik: 4817_05.dat";
constexpr const char* kPortBusy = "Port w u\u017Cyciu";
// The port list's context menu: a port reached through a network gateway.
constexpr const char* kRemotePort = "Port zdalny\u2026";
constexpr const char* kRemotePortPrompt = "Adres bramki: rfc2217://ADRES:PORT albo rfc2217+tls://ADRES:PORT";
constexpr const char* kRemotePortRefused = "To nie jest adres bramki (rfc2217://ADRES:PORT).";
constexpr const char* kWrongDevice = "Z\u0142y typ urz\u0105dzenia!";
constexpr const char* kWaiting = "Czekam na bootloader...";
constexpr const char* kId = "ID: ";
constexpr const char* kSerial = " Ser: ";
constexpr const char* kFirmwareVersion = " FV: ";
constexpr const char* kBootloaderVersion = "Bootloader: BV: ";
constexpr const char* kProgramming = " Programowanie w toku...";
constexpr const char* kDone = "Zrobione!";
constexpr const char* kFlashError = "B\u0142\u0105d programowania flash";
constexpr const char* kThreadError = "B\u0142\u0105d utworzenia w\u0105tku";
// Why a port did not open, under "Port w użyciu".
constexpr const char* kPortMissing = "Nie ma takiego portu.";
constexpr const char* kPortHeld = "Port jest zaj\u0119ty przez inny program.";
constexpr const char* kPortNoPermission = "Brak uprawnie\u0144 do portu.";
constexpr const char* kDialoutFix =
    "Dodaj u\u017Cytkownika do grupy dialout:\nsudo usermod -aG dialout $USER\ni zaloguj si\u0119 ponownie.";

// The pieces the status line is built of for `status`, in order: the line is
// cleared, then each is appended ("ID: ", "7", " Ser: ", "1234", ...).
std::vector<std::string> statusPieces(const bootloader::UpgradeStatus& status);
// The whole line.
std::string statusText(const bootloader::UpgradeStatus& status);
// Why a port did not open, for the status line's detail; empty when the
// system did not say. The dialout fix follows a missing permission where `onLinux`.
std::string openFailureDetail(link::OpenFailure failure, bool onLinux);

}  // namespace kelvane::texts::upgrade

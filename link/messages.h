#pragma once
// The texts the device link shows, by message, taken from the program's
// language table. Strings are UTF-8.
#include <string>

namespace kelvane::link {

enum class Message {
    PortOpenError,    // "Błąd otwarcia portu COM"
    PortStatus,       // probe format: port name, ID, serial number, firmware
    TransferAborted,  // "Operacja przerwana"
    DownloadDone,     // "Dane pobrane"
    UploadDone,       // "Dane wysłane"
    NoAnswer,         // "Brak odpowiedzi zasilacza": an upload got no acknowledgement
};

// The text of a message in language 0 (Polish), 1 (English) or 2 (the third
// language's placeholders); any other index gives the Polish text.
std::string messageText(Message m, int language);

}  // namespace kelvane::link

#include "link/messages.h"

#include "shell/language_table.h"

namespace kelvane::link {

namespace {
lang::Message languageEntry(Message m) {
    switch (m) {
    case Message::PortOpenError: return lang::Message::PortError;
    case Message::PortStatus: return lang::Message::PortStatus;
    case Message::TransferAborted: return lang::Message::TransferAborted;
    case Message::DownloadDone: return lang::Message::DownloadDone;
    case Message::UploadDone: return lang::Message::UploadDone;
    case Message::NoAnswer: return lang::Message::NoAnswer;
    }
    return lang::Message::PortError;
}
}  // namespace

std::string messageText(Message m, int language) { return lang::messageText(languageEntry(m), language); }

}  // namespace kelvane::link

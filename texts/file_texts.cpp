#include "texts/file_texts.h"

#include "texts/language_table.h"

namespace kelvane::texts {

namespace {
std::string withReason(Message error, Message reason, int language) {
    return std::string(messageText(error, language)) + " " + messageText(reason, language);
}
}  // namespace

std::string writeFaultText(WriteFault fault, int language) {
    switch (fault) {
    case WriteFault::NotRegular: return withReason(Message::SaveError, Message::FileNotRegular, language);
    case WriteFault::ReadOnly: return withReason(Message::SaveError, Message::FileReadOnly, language);
    case WriteFault::UnsafeLink: return withReason(Message::SaveError, Message::FileUnsafeLink, language);
    case WriteFault::NoFolder:
    case WriteFault::None:
    case WriteFault::Failed: break;
    }
    return messageText(Message::SaveError, language);
}

std::string readFaultText(ReadFault fault, int language) {
    switch (fault) {
    case ReadFault::NotRegular: return withReason(Message::LoadError, Message::FileNotRegular, language);
    case ReadFault::TooLarge: return withReason(Message::LoadError, Message::FileTooLarge, language);
    case ReadFault::None:
    case ReadFault::Failed: break;
    }
    return messageText(Message::LoadError, language);
}

}  // namespace kelvane::texts

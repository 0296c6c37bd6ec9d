#pragma once
// The status message that ends each kind of transfer.
#include "link/messages.h"
#include "link/transfer.h"

namespace kelvane::link {

inline Message statusMessage(DownloadResult r) {
    return r == DownloadResult::Completed ? Message::DownloadDone : Message::TransferAborted;
}

inline Message statusMessage(UploadResult r) {
    switch (r) {
    case UploadResult::Completed: return Message::UploadDone;
    case UploadResult::NoAnswer: return Message::NoAnswer;
    case UploadResult::Cancelled: break;
    }
    return Message::TransferAborted;
}

}  // namespace kelvane::link

#pragma once
// The status message that ends each kind of transfer.
#include "link/messages.h"
#include "link/transfer.h"

namespace kelvane::link {

inline Message statusMessage(DownloadResult r) {
    switch (r) {
    case DownloadResult::Completed: return Message::DownloadDone;
    case DownloadResult::TimedOut: return Message::NoAnswer;
    case DownloadResult::LineBusy: return Message::LineBusy;
    case DownloadResult::Cancelled: break;
    }
    return Message::TransferAborted;
}

inline Message statusMessage(UploadResult r) {
    switch (r) {
    case UploadResult::Completed: return Message::UploadDone;
    case UploadResult::NoAnswer: return Message::NoAnswer;
    case UploadResult::LineBusy: return Message::LineBusy;
    case UploadResult::Cancelled: break;
    }
    return Message::TransferAborted;
}

// An upload that ended early after sending data frames: the controller may
// already hold some of the new blocks, so the technician is told to upload
// again.
inline bool mayHoldNewBlocks(const UploadOutcome& o) { return o.result != UploadResult::Completed && o.framesSent > 0; }

}  // namespace kelvane::link

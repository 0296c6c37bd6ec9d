#include "texts/link_messages.h"

#include "texts/language_table.h"

namespace kelvane::texts {

namespace {
Message languageEntry(link::Message m) {
    switch (m) {
    case link::Message::PortOpenError: return Message::PortError;
    case link::Message::PortStatus: return Message::PortStatus;
    case link::Message::TransferAborted: return Message::TransferAborted;
    case link::Message::DownloadDone: return Message::DownloadDone;
    case link::Message::UploadDone: return Message::UploadDone;
    case link::Message::NoAnswer: return Message::NoAnswer;
    case link::Message::PortMissing: return Message::PortMissing;
    case link::Message::PortHeld: return Message::PortHeld;
    case link::Message::PortNoPermission: return Message::PortNoPermission;
    case link::Message::PortDialoutFix: return Message::PortDialoutFix;
    case link::Message::ProbeNoAnswer: return Message::ProbeNoAnswer;
    case link::Message::WaitingForLine: return Message::WaitingForLine;
    case link::Message::LineBusy: return Message::LineBusy;
    case link::Message::MayHoldNewBlocks: return Message::MayHoldNewBlocks;
    case link::Message::ThreadError: return Message::ThreadError;
    case link::Message::BlocksMissing: return Message::BlocksMissing;
    case link::Message::PortTried: return Message::PortTried;
    case link::Message::PortChooseHint: return Message::PortChooseHint;
    case link::Message::GatewayUnreachable: return Message::GatewayUnreachable;
    case link::Message::GatewayNotTrusted: return Message::GatewayNotTrusted;
    case link::Message::GatewayNoTls: return Message::GatewayNoTls;
    case link::Message::GatewayRefused: return Message::GatewayRefused;
    case link::Message::GatewayFixedSpeed: return Message::GatewayFixedSpeed;
    case link::Message::GatewayClosed: return Message::GatewayClosed;
    case link::Message::GatewaySilent: return Message::GatewaySilent;
    case link::Message::GatewaySettingRefused: return Message::GatewaySettingRefused;
    case link::Message::Unencrypted: return Message::Unencrypted;
    }
    return Message::PortError;
}
}  // namespace

const char* messageText(link::Message report, int language) { return messageText(languageEntry(report), language); }

std::string lineFaultText(link::LineFault fault, int language) {
    std::string text;
    for (link::Message m : link::lineFaultMessages(fault))
        text += (text.empty() ? "" : " ") + std::string(messageText(m, language));
    return text;
}

}  // namespace kelvane::texts

#pragma once
// What the device link needs from the main window. Every call comes on the
// window's thread.
#include "image/image.h"
#include "shell/document.h"
#include "link/messages.h"
#include "link/transfer.h"

#include <QString>

#include <array>
#include <cstdint>

namespace kelvane::shell {

class LinkHost {
public:
    virtual ~LinkHost() = default;

    // GetData: checks the window and writes it into the working image; false
    // (after reporting the problem itself) leaves the working image unchanged.
    virtual bool getData() = 0;
    // DisplayData: fills the window from the working image.
    virtual void displayData() = 0;

    // The first panel of the status bar.
    virtual void setStatusText(const QString& text) = 0;
    // The progressBar_ inside it.
    virtual void setProgressVisible(bool visible) = 0;
    virtual void setProgressRange(int minimum, int maximum) = 0;
    virtual void setProgressPosition(int position) = 0;

    // A message's text in CurrentLanguage as it is at the moment of the call.
    virtual QString messageText(link::Message message) = 0;
    // The port-open error: a modal box with one OK button, titled with the
    // application title, showing `text`, and under it `detail` (why the
    // port did not open) when that is not empty.
    virtual void showPortOpenError(const QString& text, const QString& detail) = 0;

    // The document the window shows: its working and device images.
    virtual Document& document() = 0;

    // After getData(): the upload's flow (probe, guard, questions, transfers
    // through LinkController::readController() and sendBlocks()). Every
    // upload goes through it: the link sends nothing of its own accord.
    virtual void startUpload() = 0;
    // A download or upload completed; the images are in place, the status
    // text set and the window told that no transfer runs.
    virtual void transferCompleted(bool /*upload*/) {}
    // A download ended without the whole image (the status text says how).
    virtual void downloadFailed(link::DownloadResult /*result*/) {}
    // A controller check read the whole image; neither image was touched.
    virtual void checkRead(const Image& /*controller*/) {}
};

}  // namespace kelvane::shell

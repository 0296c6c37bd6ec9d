#pragma once
// The net around the controller of a live building: the change list before
// an upload and on Compare, an automatic backup after every completed
// transfer, the list of backups, and the read-back check of the controller.
#include "image/image.h"
#include "image/merge.h"
#include "link/probe.h"
#include "registry/building_register.h"
#include "texts/language_table.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kelvane::shell {
class LinkController;
}

namespace kelvane::shell {

class MainWindow;

class SafetyNet : public QObject {
    Q_OBJECT
public:
    SafetyNet(MainWindow& form, shell::LinkController& link, QObject* parent = nullptr);

    // After GetData, before an upload opens the port: the change list with
    // Send and Cancel, unless the technician turned the question off. When no
    // download has completed in this run the controller's contents are
    // unknown and every block is overwritten: then it is always asked, with
    // Cancel as the default. True when the upload goes ahead.
    bool confirmUpload();
    // A download or upload completed: what the controller now holds goes to
    // a backup; after an upload the check runs when it was asked for.
    void transferCompleted(bool upload);
    // The image a controller check read, compared with the device image.
    void checkRead(const Image& controller);
    // A data file was loaded: its edits started from the image it was made
    // from, when that is known.
    void fileLoaded(const Image& image);
    // The working image was saved to `path`: the register keeps it with the
    // controller it came from and the base its edits started from, so that a
    // later load finds both.
    void fileSaved(const QString& path);
    // The controller the working image came from (a download or upload of
    // this run, else the register's record for the loaded file).
    const std::optional<registry::ControllerKey>& origin() const { return origin_; }

    // The image the edits started from and when it was read or written.
    struct Base {
        Image image{};
        QDateTime when;
    };
    // Where a loaded file's base is found (the image of the controller it was
    // made from); without it a loaded file has no base and its upload
    // overwrites as before.
    void setBaseLookup(std::function<std::optional<Base>(const Image& file)> lookup) { lookup_ = std::move(lookup); }

    // Menu commands.
    void compare();      // GetData, then the change list an upload would send
    void check();        // read the controller back and compare
    void showBackups();  // the backups; the one opened is loaded like LOAD
    void showRegister(); // the building register; a visit opened is loaded like LOAD

    // Where backups go and the clock that names them (for tests).
    void setBackupFolder(const QString& folder) { folder_ = folder; }
    const QString& backupFolder() const { return folder_; }
    void setClock(std::function<QDateTime()> now) { now_ = std::move(now); }

private:
    QString text(texts::Message message) const;
    // The question when the controller changed since the base; true when the
    // upload goes ahead, with the merged image as the working image.
    bool confirmMerge();
    // Before an upload: the controller connected now is probed; when the
    // working image came from another one, the technician must confirm
    // sending to it. True when the upload may go on.
    bool confirmBuilding();
    QString buildingText(const registry::ControllerKey& key);
    QString portText() const;

    MainWindow& form_;
    shell::LinkController& link_;
    QString folder_;
    std::function<QDateTime()> now_;
    bool downloaded_ = false;   // a download completed in this run, from the controller now chosen
    std::string downloadPort_;  // where that download read, and who answered the probe before it
    std::optional<link::ProbeReply> downloadIdentity_;

    // The building register, opened on first use; nothing when it cannot be
    // (registerError_ says why). It never stops a transfer.
    registry::Register* buildingRegister();
    void recordVisit(bool upload);
    // After a download: what changed at the controller since the register's
    // earlier image of it, beside the status text.
    void sinceLastVisit(const registry::Recorded& recorded);
    std::unique_ptr<registry::Register> register_;
    bool registerTried_ = false;
    QString registerError_;
    bool transferred_ = false;  // a download or an upload completed in this run
    bool checkAfter_ = false;   // the running upload is to be checked
    std::optional<Base> base_;  // where the working image's edits started
    std::function<std::optional<Base>(const Image&)> lookup_;
    std::optional<registry::ControllerKey> origin_;
    // The register's base for a loaded file, dated by the visit that read it.
    std::optional<Base> registeredBase(const Image& file);
};

}  // namespace kelvane::shell

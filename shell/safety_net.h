#pragma once
// The net around the controller of a live building: the change list before
// an upload and on Compare, an automatic backup after every completed
// transfer, the list of backups, and the read-back check of the controller.
#include "image/image.h"
#include "image/merge.h"
#include "jobs/upload_flow.h"
#include "jobs/work_origin.h"
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

class QWidget;

namespace kelvane::shell {
class CompanySyncRunner;
class LinkController;
}  // namespace kelvane::shell

namespace kelvane::shell {

class MainWindow;

class SafetyNet : public QObject {
    Q_OBJECT
public:
    SafetyNet(MainWindow& form, shell::LinkController& link, QObject* parent = nullptr);

    // After GetData: the upload's flow (jobs/upload_flow.h) with the
    // window's questions: the guard when the image came from another
    // controller or that cannot be told (Cancel the default), what the
    // controller holds when this run did not read it ("read and merge" the
    // default when the file's base is known), then one confirmation with the
    // change list, unless the technician turned it off. The transfers run
    // on the link's worker thread; this returns at once.
    void startUpload();
    bool uploadRunning() const { return flow_ != nullptr; }
    // A download or upload completed: what the controller now holds goes to
    // a backup; after an upload the check runs when it was asked for.
    void transferCompleted(bool upload);
    // A download that ended without the image: its visit, without one.
    void downloadFailed(link::DownloadResult result);
    // The image a controller check read, compared with the device image.
    void checkRead(const Image& controller);
    // A data file was loaded: its edits started from the image it was made
    // from, when that is known.
    void fileLoaded(const Image& image);
    // The working image was saved to `path`: the register keeps it with the
    // controller it came from and the base its edits started from, so that a
    // later load finds both.
    void fileSaved(const QString& path);
    // Where a loaded file's base is found (the image of the controller it was
    // made from), asked at each upload and save: without it a loaded file has
    // no base and its upload overwrites as before. The register's unless a
    // test sets another.
    void setBaseLookup(jobs::BaseLookup lookup) { lookup_ = std::move(lookup); }

    // Menu commands.
    void compare();       // GetData, then the change list an upload would send
    void check();         // read the controller back and compare
    void showBackups();   // the backups; the one opened is loaded like LOAD
    void showRegister();  // the building register; a visit opened is loaded like LOAD
    // Lets go of the register; it is opened again (with the key then stored) when next needed.
    void forgetRegister();
    // The visit report of a visit of the register (asked, saved, noted).
    void visitReport(const registry::ControllerKey& key, std::int64_t visit, QWidget* parent = nullptr);

    // Where backups go and the clock that names them (for tests).
    void setBackupFolder(const QString& folder) { folder_ = folder; }
    const QString& backupFolder() const { return folder_; }
    void setClock(std::function<QDateTime()> now) { now_ = std::move(now); }
    // The company register's sync the Register window shows and starts.
    void setCompanySync(CompanySyncRunner* runner) { company_ = runner; }

private:
    QString text(texts::Message message) const;
    // The ASKUPLOAD check box, remembered between runs.
    void rememberAskBeforeUpload();
    // The flow's steps as the window takes them (safety_net_upload.cpp).
    void advance();
    void resume();  // advance() after the transfer that just ended
    jobs::GuardAnswer askGuard(const jobs::Guard& guard);
    jobs::HoldingAnswer askHolding();
    jobs::ConfirmAnswer askConfirm();
    void uploadEnded();
    void offerReport();  // the notice after an upload the register recorded
    QString dateText(const std::string& isoTime) const;
    // The base's date, naming the colleague whose visit read it.
    QString baseText(const std::string& isoTime, const std::string& by) const;
    QString buildingText(const registry::ControllerKey& key);
    QString portText() const;

    MainWindow& form_;
    shell::LinkController& link_;
    QString folder_;
    std::function<QDateTime()> now_;
    // What this run last read from or wrote to which controller on which
    // port, an upload cut off, where the working image came from.
    jobs::WorkOrigin work_;
    bool deviceKnownHere() const;    // what was read stands for what the controller now chosen holds
    QString unknownWarning() const;  // why the chosen controller's contents are unknown
    std::unique_ptr<jobs::UploadFlow> flow_;
    std::optional<Image> fileImage_;  // the open file's image: after an upload the title marks a difference

    // The building register, opened on first use; nothing when it cannot be
    // (registerError_ says why). It never stops a transfer.
    registry::Register* buildingRegister();
    // The read's visit in the register (jobs::recordRead), and what the
    // status bar says of it.
    void recordRead(const std::string& outcome, const std::optional<Image>& image);
    // After a download: what changed at the controller since the register's
    // earlier image of it, beside the status text.
    void sinceLastVisit(const jobs::SinceLastVisit& since);
    std::unique_ptr<registry::Register> register_;
    CompanySyncRunner* company_ = nullptr;
    bool registerTried_ = false;
    QString registerError_;
    jobs::BaseLookup lookup_;
    // The controller the last probe found, as the register keys it.
    std::optional<registry::ControllerKey> connected() const;
};

}  // namespace kelvane::shell

#pragma once
// The building register: every controller the programs have met, known by its
// identity (device ID and serial number, as the probe reads them), and every
// visit to it, with the image it held. Shared by KelvaneMini, Orva_Upgrade and
// kvtool through one SQLite file (Qt SQL, so another driver could serve
// later); all three may write at once.
//
//   registry::Register reg;
//   if (!reg.open(registry::Register::defaultPath())) log(reg.error());
//   auto recorded = reg.recordVisit(visit);   // nothing: reg.error() says why
//
// The register never decides whether a transfer goes on: a caller whose
// register is missing, damaged or locked goes on with its work and says the
// visit was not recorded. Every wait for another program's write is bounded
// by the busy time-out.
//
// The file holds every code of every building: it is created 0600 in a
// folder created 0700, and a wider file is narrowed when it is opened. Its
// images are sealed with the data key (registry/key_store), and found by a
// keyed hash, so the file alone tells nobody a code. A register written before
// sealing is sealed at the first open that has a key, and no plain page is
// left in the file, its journal or its free pages.
#include "files/sealing.h"
#include "image/image.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class QByteArray;
class QSqlDatabase;
class QSqlQuery;
class QString;

namespace kelvane::registry {

// What identifies a controller. Backups made before the register existed
// belong to the unknown controller.
struct ControllerKey {
    int deviceId = 0;
    int serialNumber = 0;
    bool known() const { return deviceId >= 0; }
    bool operator==(const ControllerKey& o) const { return deviceId == o.deviceId && serialNumber == o.serialNumber; }
    bool operator!=(const ControllerKey& o) const { return !(*this == o); }
};
inline constexpr ControllerKey kUnknownController{-1, -1};

// "ID/SERIAL" for a known controller, "unknown" otherwise.
std::string keyText(const ControllerKey& key);
// "SERIAL", "ID/SERIAL" or "unknown"; nothing for anything else.
std::optional<ControllerKey> parseKey(const std::string& text, int* deviceId = nullptr);

struct Controller {
    std::int64_t id = 0;
    ControllerKey key;
    std::string firstSeen, lastSeen;  // local time, ISO 8601 with the offset
    std::optional<int> firmware;      // the last one seen
    std::string name, address, notes;
    int visits = 0;
};

// Report: a visit report was written (no image; its source the report's path).
enum class VisitKind { Download, Upload, Check, Flash, Backup, Report };
constexpr int kVisitKindCount = 6;
const char* kindName(VisitKind kind);  // "download", ... (stored as such)

struct Visit {
    std::int64_t id = 0;
    std::string time;        // local time, ISO 8601 with the offset
    std::string technician;  // the system user or the name set in the program
    std::string port;
    VisitKind kind = VisitKind::Download;
    std::string outcome;  // "completed", "cancelled", "no answer", ...
    std::optional<int> firmware;
    bool hasImage = false;
    // Items of the change list against the previous image of the controller
    // (nothing: no earlier image to compare with).
    std::optional<int> changes;
    std::string source;  // the backup file an imported visit came from
};

struct NewVisit {
    ControllerKey key = kUnknownController;
    std::optional<int> firmware;
    VisitKind kind = VisitKind::Download;
    std::string outcome = "completed";
    std::string port;
    std::string technician;  // empty: technicianName()
    std::optional<Image> image;
    std::string time;  // empty: now
    std::string source;
};

// An edit of a building's name, address or notes that a newer one replaced
// (here or, through the company register, on another laptop).
struct FieldEdit {
    std::string field;               // "name", "address" or "notes"
    std::string value;               // what it said
    std::string editedAt, editedBy;  // when it was written, and by whom
    std::string replacedAt;          // when the newer edit came in
};

struct Recorded {
    std::int64_t visitId = 0;
    bool newController = false;
    // The controller's latest earlier visit with an image, and that image,
    // when it differs from the one recorded now (what "since the last visit"
    // compares with).
    std::optional<Visit> previous;
    std::optional<Image> previousImage;
    std::optional<int> changes;
};

class Register {
public:
    static constexpr int kSchemaVersion = 5;
    static constexpr std::chrono::milliseconds kDefaultBusyTimeout{3000};

    Register();
    ~Register();
    Register(const Register&) = delete;
    Register& operator=(const Register&) = delete;

    // False in a build without the database: open() then always fails.
    static bool available();
    // Loads the database driver now. A program calls it once at start, before
    // it starts any thread: a driver library loaded later, while threads come
    // and go, crashed the Windows programs under Wine (the loader gives every
    // running thread the library's thread-local storage). False where there
    // is no driver; open() then says why.
    static bool loadDriver();

    // KELVANE_REGISTER when set, else Kelvane/register.sqlite in the
    // user's generic data folder.
    static std::string defaultPath();
    // Where KelvaneMini keeps its automatic backups.
    static std::string defaultBackupFolder();

    // How long a write waits for another program's; set before open().
    void setBusyTimeout(std::chrono::milliseconds timeout) { busyTimeout_ = timeout; }
    // The key to seal images with (and the one it replaced, whose images are
    // sealed again with `key` when the register opens); set before open().
    // Without it open() takes the process's key (registry/key_store).
    void setDataKey(const std::optional<DataKey>& key, const std::string& why = {},
                    const std::optional<DataKey>& previous = std::nullopt);
    // Empty while images are stored and read; else why visits are recorded
    // without their images (no key, another key), to be said once.
    const std::string& imagesNote() const { return imagesNote_; }
    // Images that could not be opened since open(): kept as they are.
    int unreadableImages() const { return unreadableImages_; }

    // Opens (creating when missing) and brings the schema up to `version`
    // (the newest unless a test wants an older one). False with error() when
    // the file is no register, is newer than this program, or cannot be made.
    bool open(const std::string& path, int version = kSchemaVersion);
    bool isOpen() const { return open_; }
    const std::string& path() const { return path_; }
    const std::string& error() const { return error_; }
    int schemaVersion();

    std::optional<Controller> controller(const ControllerKey& key);
    // Controllers whose name, address or serial number contains `search`
    // (all when empty), by name then serial number.
    std::vector<Controller> controllers(const std::string& search = {});
    // A controller's visits, newest first.
    std::vector<Visit> visits(const ControllerKey& key);
    std::optional<Visit> visit(const ControllerKey& key, std::int64_t visitId);
    std::optional<Image> visitImage(const ControllerKey& key, std::int64_t visitId);
    // The longest name, address and notes describe() takes, in characters: a
    // register export carries the name into a data file's description.
    static constexpr int kMaxNameLength = 200;
    static constexpr int kMaxAddressLength = 500;
    static constexpr int kMaxNotesLength = 4000;
    // Name, address and notes; the controller is added when it is new. False
    // (error() names the field and its limit) when one is longer than allowed.
    bool describe(const ControllerKey& key, const std::string& name, const std::string& address,
                  const std::optional<std::string>& notes = std::nullopt);

    // The edits of the controller's name, address and notes that newer ones
    // replaced, newest first.
    std::vector<FieldEdit> fieldHistory(const ControllerKey& key);

    // One transaction: the controller (added or its last sight and firmware
    // updated), the image (stored once), the visit.
    std::optional<Recorded> recordVisit(const NewVisit& visit);

    // A data file the program wrote: its image, the controller it came from
    // (when one is known) and the image that controller held when the file's
    // image was taken from it (the base of a later merge).
    bool recordSavedFile(const std::string& path, const Image& image, const std::optional<ControllerKey>& origin,
                         const std::optional<Image>& base = std::nullopt);
    // The controllers the image came from, latest first: those of the saved
    // files and visits that had it (unknown-controller visits do not count).
    std::vector<Controller> originsOf(const Image& image);
    // The wrong-building guard before an upload to `connected`: the building
    // to name in the warning, or nothing when none is due. The working image
    // comes from `downloadedFrom` when it was read in this run, else from the
    // controllers originsOf() names; it is due when that origin is known and
    // `connected` is not among it.
    std::optional<Controller> wrongBuilding(const Image& working, const std::optional<ControllerKey>& downloadedFrom,
                                            const ControllerKey& connected);
    // The image the working image was made from: a saved file's recorded
    // base, else the image itself when a visit read it; `when` gets the
    // time of the latest visit that read the base (else the file's saving),
    // `by` that visit's technician (else nothing).
    std::optional<Image> baseImageFor(const Image& working, std::string* when = nullptr, std::string* by = nullptr);

    // Imports the backups of `folder` (files "yyyy-MM-dd_HHmmss*.kvd") as
    // visits of the unknown controller, each file once. The count imported,
    // or nothing on error.
    std::optional<int> importBackups(const std::string& folder);
    // importBackups() the first time it is asked on this register only.
    std::optional<int> importBackupsOnce(const std::string& folder);

    // What the company register's sync (registry/company_*.cpp) works with:
    // the register's connection, and its fields as the server orders them.
    //
    // The id of the key the images are stored and read with; nothing (with
    // `why`) when visits are recorded without images.
    std::optional<std::string> sealingKeyId(std::string* why = nullptr) const;
    // The key the images are sealed with and, after a change of key the
    // company register has not had yet, the one before it.
    const std::optional<DataKey>& sealingKey() const { return key_; }
    const std::optional<DataKey>& previousSealingKey() const { return previousKey_; }
    QSqlDatabase database() const;
    // A forward-only query on the register's connection.
    QSqlQuery query() const;
    // Runs the prepared `query` (or `sql` on it); false with error() "what:
    // the database's reason" when it fails.
    bool exec(QSqlQuery& query, const std::string& what);
    bool exec(QSqlQuery& query, const QString& sql, const std::string& what);
    // A building's field. An edit made here always wins and is marked to be
    // sent (the server then orders it by when it arrives). A value from the
    // server wins unless the field was edited here since it was last sent;
    // the value it replaces goes to the field history.
    struct FieldValue {
        std::string value, at, by;  // at: UTC, ISO 8601 (empty: before edits were timed)
    };
    bool mergeField(std::int64_t controller, const char* field, const FieldValue& incoming, bool localEdit);
    // The schema the register was opened at.
    int openedVersion() const { return version_; }

private:
    bool fail(const std::string& what);
    bool fail(const std::string& what, const QSqlQuery& query);
    bool migrate(int version);
    // " AND <alias>.uuid NOT IN withdrawn" where the schema keeps withdrawals.
    QString notWithdrawn(const char* alias) const;
    // The columns controllerFrom() reads of `c`, its visits counted.
    QString controllerColumns() const;
    // After the schema: seals a plain register, or says why images are not kept.
    bool openImages();
    // The controller's row, added or its last sight and firmware updated.
    std::optional<std::int64_t> touchController(const ControllerKey& key, const std::string& time,
                                                const std::optional<int>& firmware, bool* added);
    // Stores a visit's image and fills what changed since the controller's
    // previous image.
    std::optional<std::int64_t> storeVisitImage(std::int64_t controller, const Image& image, Recorded* rec);
    std::optional<std::int64_t> controllerId(const ControllerKey& key);
    // Stores the image once; `near` (an image it likely resembles) may serve
    // as the base of a difference.
    std::optional<std::int64_t> storeImage(const Image& image, std::optional<std::int64_t> near = std::nullopt);
    std::optional<Image> loadImage(std::int64_t imageId);
    // The lookup hash of an image: keyed with the data key once sealed.
    QByteArray hashOf(const Image& image) const;
    // Seals a plain register, or one sealed by the previous key, with the
    // key; then leaves no page of what was there.
    bool sealImages(const std::string& sealedBy);
    void scrub();

    std::optional<DataKey> key_;
    std::optional<DataKey> previousKey_;
    std::string keyWhy_;
    bool keySet_ = false;
    bool sealed_ = false;  // the images are sealed (by key_ when imagesNote_ is empty)
    bool legacy_ = false;  // opened at an older schema (tests): plain
    int version_ = 0;      // the schema it was opened at
    std::string imagesNote_;
    int unreadableImages_ = 0;
    std::string connection_;
    std::string path_;
    std::string error_;
    bool open_ = false;
    std::chrono::milliseconds busyTimeout_ = kDefaultBusyTimeout;
};

// The technician as the system knows the user.
std::string systemUser();
// The technician a visit names: the name given for this run (kvtool
// --technician), else the one set in the programs (the setting "technician"
// of the organisation Kelvane, which KelvaneMini, Orva_Upgrade and kvtool
// share), else the system user.
std::string technicianName();
inline constexpr int kMaxTechnicianLength = 100;
// The setting (empty when none); an empty name removes it. Names are one
// line, trimmed, at most kMaxTechnicianLength characters.
std::string technicianSetting();
void setTechnicianSetting(const std::string& name);
void setTechnicianForRun(const std::string& name);
// Local time now as stored.
std::string now();
// Items of the change list from `before` to `after`: changed settings, rows
// and regions of bytes no control shows.
int changeCount(const Image& before, const Image& after);

}  // namespace kelvane::registry

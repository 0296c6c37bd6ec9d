#pragma once
// KelvaneMini's main window: six pages of controls for the controller's
// configuration, the main menu, the status bar with its progress bar.
#include "image/configuration_check.h"
#include "image/grid.h"
#include "image/image.h"
#include "image/window_data.h"
#include "shell/document.h"
#include "texts/entry_message.h"
#include "texts/language_table.h"
#include "shell/prompts.h"

#include <QFileDialog>
#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>

#include <array>
#include <vector>
#include <functional>
#include <memory>

class QAction;
class QDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QStatusBar;
class QTabWidget;
class QTimer;
class QTranslator;

namespace kelvane::shell {

class CheckDialog;
class CodeGrid;

// Title of the application and of its plain message boxes.
extern const char* const kApplicationTitle;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // Menu commands whose work lives elsewhere: the device link, printing and
    // help plug in here. Each is called by its menu handler; empty = nothing.
    // `upload` runs the whole upload, GetData() first; without it onUpload
    // runs GetData() alone.
    struct MenuHooks {
        std::function<void()> port, download, upload, print, abort, help, preview, pdf;
        std::function<void()> compare, readBack, backups;   // the safety net around transfers
        std::function<void()> buildings;                    // the building register's window
        std::function<void()> dataKey;                      // the data key's window
        std::function<void()> technician;                   // the technician's name the visits carry
        std::function<void()> companyServer;                // the company register's server string
        std::function<void(const QString& path)> saved;     // a data file was written
        std::function<void()> loaded;                       // a data file is now the working image
        std::function<void(int language)> languageApplied;  // texts kept outside the language table
    };

    // Creates and fills the window (fillFromInitialImage): the working image from the
    // initial image, the progress bar, DisplayData, Polish texts.
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    MenuHooks& hooks() { return hooks_; }
    // What the window shows and edits; the window owns it.
    Document& document() { return document_; }
    const Document& document() const { return document_; }
    // The helper that fills the hooks (a child of the window). It is deleted
    // first when the window goes, while the hooks it clears still exist.
    void setWiring(QObject* wiring) { wiring_ = wiring; }
    // Message boxes and file dialogs; the window does not own them.
    void setPrompts(Prompts* prompts);
    // The About dialog shown by onAbout (created on first use when unset).
    void setAboutBox(QDialog* about);

    // Fills every control from the working image, then applies Polish.
    void DisplayData();
    // Rebuilds the working image from the window with row checks; 1 when the
    // working image has been replaced, 0 when a row stopped it (unchanged).
    int GetData();
    // Sets the language of the window's texts and of every message.
    void ApplyLanguage(int language);
    int CurrentLanguage() const;

    // A message of the language table in the current language.
    QString messageText(texts::Message message) const;
    // Row reports of GetData, in the current language.
    bool ReportInvalidEntry(GridId grid, int row);  // true = Abort
    void ReportRepeatedEntry(GridId grid, int row);
    void ReportTableFull(GridId grid, int row);
    QString entryMessage(texts::EntryProblem problem, GridId grid, int row) const;

    // A plain message box titled with the application title.
    // A plain message box; `detail` goes on a line of its own under the text.
    void showMessage(const QString& text, const QString& detail = QString());

    // The window's contents as they stand, typing in progress included.
    WindowData readWindow();
    // Edits typed into the window and not yet in the working image are
    // checked and stored there (GetData); true when the working image now
    // holds what the window shows. Saving and printing read the working
    // image, so they run this first.
    bool storeTypedEdits();
    // Edits the next step would lose (a download: settings and tables; a
    // LOAD or the end: the description too) are asked about first: Save
    // (checks the window and saves it to a file), Discard or Cancel. True when
    // the step may go on. `question` says what would lose them.
    bool confirmDiscard(texts::Message question);
    // The working image is now held by the controller (a completed download or
    // upload): edits up to here are no longer at risk.
    void imageKept();
    // Loads a data file as LOAD does once its file is chosen; false (after the
    // load error) when it cannot be read.
    bool loadDataFile(const QString& path);
    // An image from elsewhere (the register) becomes the working image as a
    // loaded file's does, with an empty description.
    void loadImage(const Image& image);
    // The save dialog, then the working image and the description into the
    // file; false when cancelled, refused or failed (after its message).
    bool saveDataFile();

    // The first panel of the status bar.
    void setStatusText(const QString& text);
    // A status text made again in every language the window switches to.
    void setStatus(std::function<QString(int language)> make);
    // A message of the language table with its printf fields (%s, %d) filled
    // in order.
    QString formatMessage(texts::Message message, const QStringList& fields) const;
    // The data file whose contents the window shows ("" when none): the window
    // title names it.
    void setOpenFile(const QString& path);
    // The window shows what no file holds (a register visit): the title
    // names it in the window's language, made again when that changes.
    void setShownSource(std::function<QString(int language)> name);
    QString openFile() const { return openFile_; }
    // Marks the title when the window holds edits that a LOAD or the end of
    // the program would lose.
    void updateModified();
    // A notice on a line of its own above the status bar, its link one click
    // from what it tells (empty hides it; choosing a port clears it).
    void setNotice(const QString& text, std::function<void()> open = {});
    // A notice made again in every language the window switches to.
    void setNotice(std::function<QString(int language)> make, std::function<void()> open = {});
    QString noticeText() const;
    // The company register's state at the right of the status bar, made
    // again in each language; an empty text hides it.
    void setCompanyStatus(std::function<QString(int language)> make);
    void refreshCompanyStatus();
    QString companyStatusText() const;
    QString statusText() const;
    QProgressBar* progressBar() const { return progressBar_; }

    // Goes to the grid row or the control a warning of the configuration
    // check names: its page, its row or control, the focus.
    void showWarningPlace(const Warning& warning);
    // The configuration check of the working image after a store.
    std::vector<Warning> configurationWarnings() const;
    // The check's window once onCheck has shown it.
    CheckDialog* checkDialog() const;

    // While a transfer runs: LOAD, VERIFY, CHECK, COMPARE and BACKUPS
    // unavailable, ABORT available.
    void setTransferRunning(bool running);

    QString cardText() const;     // cardTextEdit_
    QString description() const;  // descriptionEdit_, line breaks as CR LF
    void setDescription(const QString& crlfText);

    CodeGrid* grid(GridId id) const { return grids_[static_cast<int>(id)]; }
    // The group box around a grid; its title is the caption and the count of
    // filled rows, "Lokatorzy (72)".
    QGroupBox* gridBox(GridId id) const { return gridBoxes_[static_cast<int>(id)]; }
    QAction* action(const char* name) const;

    // The grids' edit masks by column ("9999", ">AA AA AA AA AA AA AA AA"...).
    QString keysEditMask(int column, int row) const;
    QString residentsEditMask(int column, int row) const;
    QString generalCodesEditMask(int column, int row) const;
    QString digitizersEditMask(int column, int row) const;

public slots:
    void onLoadFile();
    void onSaveFile();
    void onPrint();
    void onUpload();
    void onVerify();
    void onCheck();
    void onDownload();
    void onChoosePort();
    void onAbort();
    void onCompare();
    void onReadBack();
    void onBackups();
    void onRegister();
    void onDataKey();
    void onTechnician();
    void onCompanyServer();
    void onAbout();
    void onHelp();
    void onExit();
    void onPrintPreview();  // print preview of the cards
    void onSaveCardsPdf();  // the cards as a PDF file
    // Spreadsheet files of the code grids: one grid's export, all four into
    // a folder, and the import into one grid after its preview.
    void exportCsv(GridId id);
    void exportAllCsv();
    void importCsv(GridId id);
    void onAddKey();
    void onDeleteKey();
    void onDeleteResident();
    void onAddResident();
    void onDeleteGeneralCode();
    void onAddGeneralCode();
    void onDeleteDigitizer();
    void onAddDigitizer();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void fillFromInitialImage();
    void buildMenu();
    void buildStatusBar();
    void buildPages();
    QWidget* buildCodePage();
    void buildSettingsPages(const std::array<QWidget*, 6>& pages);
    QWidget* buildDescriptionPage();
    void indexNamedObjects();
    void addRow(GridId id);
    void updateGridTitle(GridId id);
    void buildCsvMenus(QMenu* menu, QAction* before);
    void applyCsvMenuLanguage();
    QFileDialog* csvDialog(const char* name, QFileDialog::AcceptMode accept, QFileDialog::FileMode files);
    Grid gridForCsv(GridId id) const;
    void deleteRow(GridId id);

public:
    Prompts& prompts() const;
    // Controls named as the window's design names them.
    QTabWidget* pages_ = nullptr;
    QStatusBar* statusBar_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QPlainTextEdit* descriptionEdit_ = nullptr;
    QLineEdit* cardTextEdit_ = nullptr;
    QFileDialog* openDialog_ = nullptr;
    QFileDialog* saveDialog_ = nullptr;

private:
    std::array<CodeGrid*, kGridCount> grids_{};
    std::array<QGroupBox*, kGridCount> gridBoxes_{};
    QLabel* statusPanel_ = nullptr;
    std::function<QString(int)> statusMaker_;
    QString openFile_;
    std::function<QString(int)> sourceName_;  // setShownSource()
    QTimer* modifiedCheck_ = nullptr;
    QTranslator* qtTexts_ = nullptr;
    int qtTextsLanguage_ = -1;
    void applyQtTranslation(int language);
    void watchEdits();
    QLabel* notice_ = nullptr;
    QLabel* companyPanel_ = nullptr;
    std::function<QString(int)> companyMaker_;
    std::function<void()> openNotice_;
    std::function<QString(int)> noticeMaker_;
    QHash<QString, QObject*> named_;
    MenuHooks hooks_;
    std::unique_ptr<Prompts> ownPrompts_;
    Prompts* prompts_ = nullptr;
    QPointer<QDialog> about_;
    QPointer<QObject> wiring_;
    QPointer<CheckDialog> checkDialog_;
    Document document_;
    bool keepSource_ = false;  // DisplayData after a store: the base image stays
};

}  // namespace kelvane::shell

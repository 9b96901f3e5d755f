#pragma once

#include "MemberFields.h"
#include "PartyState.h"
#include "Staging.h"
#include "WindowJobs.h"

#include <QMainWindow>

#include <functional>

class QAction;
class QCheckBox;
class QDragEnterEvent;
class QDropEvent;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace forms {

// What the window asks of the user outside itself; tests answer without a modal loop.
struct EditorSeams {
    // The chosen state file, or an empty text when the user cancels.
    std::function<QString(QWidget* parent, const QString& lastPath)> chooseStateFile;
    std::function<void(QWidget* parent, const QString& title, const QString& message)> showError;

    static EditorSeams interactive();
};

// The main window: shows one party member at a time and stores every edit at once into the
// party, which it holds for the whole run.
class frmEditor : public QMainWindow
{
    Q_OBJECT

public:
    frmEditor(Process::PartyState& party, const QString& programFolder,
              EditorSeams seams = EditorSeams::interactive(), QWidget* parent = nullptr);
    ~frmEditor() override;

    // The staging settings used for loads and saves; tests shorten the bounds.
    Process::StagingContext& stagingContext() { return m_context; }
    const QString& stateFileName() const { return m_stateFileName; }

    // The commands, as the menu and the buttons run them.
    void mnuFileLoad_Click();
    void mnuFileSave_Click();
    void mnuFileExit_Click();
    void mnuFileAbout_Click();

    // Loads `path` as File > Load does once its dialog returns: the menu, a file named on the
    // command line and a dropped file all come here.
    void openStateFile(const QString& path);

    // A load or save is under way: it runs beside the window, which keeps painting, ignores
    // another Load or Save, takes no edits and closes only once it has ended.
    bool busy() const { return m_jobs.running(); }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Reached only through the controls' signals.
    void tbsOptions_Click();
    void cmdGold_Click();
    void txtName_Change();
    void txtNumeric_Change(QLineEdit* box, const Process::NumericFieldInfo& info);
    void chkAilments_Click();

    void buildMenus();
    void buildPanel(QWidget* client);
    // Runs a load or save as a job; `done` runs on the window's thread when it has ended.
    void startJob(std::function<Process::Outcome(const Process::StagingContext&)> work,
                  std::function<void(const Process::Outcome&)> done);

    Process::PartyState& m_party;
    // The party as the last load or save left the state: a save writes only what differs.
    Process::PartyState m_asLoaded;
    Process::StagingContext m_context;
    EditorSeams m_seams;
    QString m_stateFileName;    // the state Save writes; set only by a successful load
    QString m_dialogPath;       // where the open dialog starts
    bool m_loaded = false;      // a state has been loaded: the panel shows a member
    bool m_goldMaxOut = false;  // a save maxes out the gold; the gold button's caption says so

    QTabWidget* tbsOptions = nullptr;
    QWidget* picOptions = nullptr;
    QLineEdit* txtName = nullptr;
    QCheckBox* chkAilments = nullptr;
    QPushButton* cmdGold = nullptr;
    QAction* mnuFileSave = nullptr;
    QList<QPair<QLineEdit*, const Process::NumericFieldInfo*>> m_numericBoxes;
    // Last, so it goes first: a job under way is waited for while the window is still whole.
    WindowJobs m_jobs;
};

}  // namespace forms

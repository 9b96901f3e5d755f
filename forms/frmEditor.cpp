#include "frmEditor.h"

#include "Backups.h"
#include "Centring.h"
#include "DroppedFile.h"
#include "EditorControls.h"
#include "EditorLayout.h"
#include "GoldCaption.h"
#include "Look.h"
#include "NameCodec.h"
#include "NumericText.h"
#include "StateFile.h"
#include "Twips.h"
#include "frmAbout.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>

namespace forms {
namespace {

using namespace Process;

const QString kCaption = QStringLiteral("Cindral I Editor Snes9x");
const QString kStateFilter = QStringLiteral("Snes9x States (*.00*)");

}  // namespace

EditorSeams EditorSeams::interactive()
{
    EditorSeams seams;
    seams.chooseStateFile = [](QWidget* parent, const QString& lastPath) {
        return QFileDialog::getOpenFileName(parent, QString(), lastPath, kStateFilter);
    };
    seams.showError = [](QWidget* parent, const QString& title, const QString& message) {
        QMessageBox::critical(parent, title, message);
    };
    return seams;
}

frmEditor::frmEditor(PartyState& party, const QString& programFolder, EditorSeams seams,
                     QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                              Qt::MSWindowsFixedSizeDialogHint),
      m_party(party), m_seams(std::move(seams)), m_jobs(this)
{
    setObjectName(QStringLiteral("frmEditor"));
    setWindowTitle(kCaption);
    setWindowIcon(EditorIcon());
    setFont(WindowFont());
    m_context.programFolder = programFolder;
    m_context.backupFolder = DefaultBackupFolder();

    auto* client = new QWidget(this);
    client->setFixedSize(Px(4845), Px(3765));
    setCentralWidget(client);

    tbsOptions = new QTabWidget(client);
    tbsOptions->setObjectName(QStringLiteral("tbsOptions"));
    tbsOptions->setGeometry(TwipRect(120, 120, 4575, 3495));
    for (int n = 1; n <= kSlotCount; ++n)
        tbsOptions->addTab(new QWidget, TabIcon(n), QStringLiteral("P.%1").arg(n));
    connect(tbsOptions, &QTabWidget::currentChanged, this, &frmEditor::tbsOptions_Click);

    buildPanel(client);
    buildMenus();
    SetEditorTabOrder(this);
    // The window's size is fixed: no resizing, no maximising.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    tbsOptions->setFocus();
    setAcceptDrops(true);
    new FrameCentring(this, [this] {
        const QScreen* on = screen() ? screen() : QGuiApplication::primaryScreen();
        return on ? on->availableGeometry() : geometry();
    });
}

frmEditor::~frmEditor() = default;

void frmEditor::buildMenus()
{
    QMenu* mnuFile = menuBar()->addMenu(QStringLiteral("&File"));
    // A drop-down is a window of its own and takes no font from this one unless told.
    mnuFile->setFont(font());
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    QAction* load =
        mnuFile->addAction(QStringLiteral("&Load"), this, &frmEditor::mnuFileLoad_Click);
    load->setObjectName(QStringLiteral("mnuFileLoad"));
    load->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    mnuFileSave = mnuFile->addAction(QStringLiteral("&Save"), this, &frmEditor::mnuFileSave_Click);
    mnuFileSave->setObjectName(QStringLiteral("mnuFileSave"));
    mnuFileSave->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    mnuFileSave->setEnabled(false);
    mnuFile->addSeparator()->setObjectName(QStringLiteral("mnuFileSep2"));
    QAction* exit =
        mnuFile->addAction(QStringLiteral("&Exit"), this, &frmEditor::mnuFileExit_Click);
    exit->setObjectName(QStringLiteral("mnuFileExit"));
    exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    // About sits on the menu bar itself and acts at once.
    QAction* about = menuBar()->addAction(QStringLiteral("&About"));
    about->setObjectName(QStringLiteral("mnuFileAbout"));
    connect(about, &QAction::triggered, this, &frmEditor::mnuFileAbout_Click);
}

void frmEditor::buildPanel(QWidget* client)
{
    picOptions = new QWidget(client);
    picOptions->setObjectName(QStringLiteral("picOptions"));
    picOptions->setGeometry(TwipRect(240, 600, 4215, 2895));
    picOptions->setEnabled(false);
    picOptions->raise();  // in front of the tab strip's page, below its tabs
    PlacePanelControls(picOptions);

    txtName = picOptions->findChild<QLineEdit*>(QStringLiteral("txtName"));
    txtName->setMaxLength(4);
    txtName->setValidator(new Latin1Validator(txtName));
    connect(txtName, &QLineEdit::textEdited, this, &frmEditor::txtName_Change);
    for (const NumericFieldInfo& info : NumericFields()) {
        auto* edit = picOptions->findChild<QLineEdit*>(BoxName(info.field));
        m_numericBoxes.append({edit, &info});
        connect(edit, &QLineEdit::textEdited, this,
                [this, edit, &info] { txtNumeric_Change(edit, info); });
    }
    chkAilments = picOptions->findChild<QCheckBox*>(QStringLiteral("chkAilments"));
    connect(chkAilments, &QCheckBox::clicked, this, &frmEditor::chkAilments_Click);
    cmdGold = picOptions->findChild<QPushButton*>(QStringLiteral("cmdGold"));
    connect(cmdGold, &QPushButton::clicked, this, &frmEditor::cmdGold_Click);
}

void frmEditor::tbsOptions_Click()
{
    // Before the first load a tab only moves the strip's selection.
    if (!m_loaded)
        return;
    m_party.selectedSlot = std::uint8_t(tbsOptions->currentIndex() + 1);
    const Result<Slot> slot = m_party.selected();
    if (!slot)
        return;
    // setText and setChecked raise no user-edit signals, so filling stores nothing.
    const CharacterRecord& record = m_party.block[slot.value()];
    txtName->setText(NameForDisplay(record.Name));
    for (const auto& [edit, info] : m_numericBoxes)
        edit->setText(QString::number(FieldValue(m_party, slot.value(), info->field)));
    // A filled box shows its value from the start: a wide value must not show only its tail.
    txtName->setCursorPosition(0);
    for (const auto& [edit, info] : m_numericBoxes)
        edit->setCursorPosition(0);
    chkAilments->setChecked(HasNoAilments(record));
}

void frmEditor::txtNumeric_Change(QLineEdit* edit, const NumericFieldInfo& info)
{
    const NumericEdit result = ApplyNumericText(edit->text(), info.limit);
    if (result.clamped)
        edit->setText(result.text);
    if (const Result<Slot> slot = m_party.selected())
        SetFieldValue(m_party, slot.value(), info.field, result.value);
}

void frmEditor::txtName_Change()
{
    if (const Result<Slot> slot = m_party.selected())
        m_party.block[slot.value()].Name = NameFieldFromText(txtName->text());
}

void frmEditor::chkAilments_Click()
{
    if (const Result<Slot> slot = m_party.selected())
        SetNoAilments(m_party.block[slot.value()], chkAilments->isChecked());
}

void frmEditor::cmdGold_Click()
{
    m_goldMaxOut = !m_goldMaxOut;
    cmdGold->setText(GoldCaption(m_goldMaxOut));
}

void frmEditor::mnuFileLoad_Click()
{
    if (busy())
        return;  // one load or save at a time
    const QString chosen = m_seams.chooseStateFile(this, m_dialogPath);
    if (chosen.isEmpty())
        return;  // cancelled: nothing changes
    openStateFile(chosen);
}

void frmEditor::startJob(std::function<Outcome(const StagingContext&)> work,
                         std::function<void(const Outcome&)> done)
{
    picOptions->setEnabled(false);  // edits made during a save would be overwritten by it
    m_jobs.start([work = std::move(work), context = m_context] { return work(context); },
                 [this, done = std::move(done)](const Outcome& outcome) {
                     picOptions->setEnabled(m_loaded);
                     done(outcome);
                 });
}

void frmEditor::openStateFile(const QString& chosen)
{
    if (busy())
        return;  // one load or save at a time
    m_dialogPath = chosen;
    // The job loads into a party of its own; the window's changes only when the load succeeded.
    auto loaded = std::make_shared<PartyState>(m_party);
    startJob([chosen, loaded](
                 const StagingContext& context) { return LoadState(chosen, context, *loaded); },
             [this, chosen, loaded](const Outcome& outcome) {
                 if (!outcome) {
                     m_seams.showError(this, tr("Cannot load the state"), outcome.message());
                     return;
                 }
                 m_party.block = loaded->block;
                 m_party.experience = loaded->experience;
                 m_stateFileName = chosen;
                 m_asLoaded = m_party;
                 m_loaded = true;
                 mnuFileSave->setEnabled(true);
                 picOptions->setEnabled(true);
                 tbsOptions_Click();
             });
}

void frmEditor::dragEnterEvent(QDragEnterEvent* event)
{
    // Any files are taken; what is wrong with them is said on the drop.
    if (CarriesFiles(event->mimeData()))
        event->acceptProposedAction();
}

void frmEditor::dropEvent(QDropEvent* event)
{
    const Result<QString> file = DroppedStateFile(event->mimeData());
    event->acceptProposedAction();
    // The drag ends first: the program it came from is not kept waiting by a load or a message.
    QMetaObject::invokeMethod(
        this,
        [this, file] {
            if (file)
                openStateFile(file.value());
            else
                m_seams.showError(this, tr("Cannot load the state"), file.failure().message());
        },
        Qt::QueuedConnection);
}

void frmEditor::mnuFileSave_Click()
{
    if (busy() || !m_loaded)
        return;
    auto party = std::make_shared<PartyState>(m_party);
    startJob(
        [path = m_stateFileName, asLoaded = m_asLoaded, party,
         gold = m_goldMaxOut](const StagingContext& context) {
            return SaveChanges(path, context, asLoaded, *party, gold);
        },
        [this, party](const Outcome& outcome) {
            if (!outcome) {
                m_seams.showError(this, tr("Cannot save the state"),
                                  outcome.message() +
                                      tr("\n\nYour edits are still here; nothing was lost."));
                return;
            }
            // The boxes show what the file now holds, another program's changes included.
            m_party.block = party->block;
            m_party.experience = party->experience;
            m_asLoaded = m_party;
            tbsOptions_Click();
        });
}

void frmEditor::closeEvent(QCloseEvent* event)
{
    // A state is never left half-done: the window closes once the load or save has ended.
    if (m_jobs.putOffClose()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void frmEditor::mnuFileExit_Click()
{
    close();
}

void frmEditor::mnuFileAbout_Click()
{
    frmAbout about(this);
    about.exec();
}

}  // namespace forms

#include "frmEditor.h"

#include "AltLetterGuard.h"
#include "Backups.h"
#include "Centring.h"
#include "DroppedFile.h"
#include "GoldCaption.h"
#include "Look.h"
#include "NameCodec.h"
#include "NumericText.h"
#include "StateFile.h"
#include "Twips.h"
#include "WideValueHint.h"
#include "frmAbout.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QValidator>

#include <limits>
#include <variant>

namespace forms {
namespace {

using namespace Process;

const QString kCaption = QStringLiteral("Cindral I Editor Snes9x");
const QString kStateFilter = QStringLiteral("Snes9x States (*.00*)");

// The name box takes one byte per character: anything beyond Latin-1 is refused as typed.
class Latin1Validator : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override
    {
        return IsLatin1(input) ? Acceptable : Invalid;
    }
};

class WaitCursor : public BusyIndicator
{
public:
    void setBusy(bool busy) override
    {
        if (busy)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QApplication::restoreOverrideCursor();
    }
};

// A control the window's tables place, label or put in the tab order: a numeric field's box
// (named by the field table) or another control, by its name.
using Control = std::variant<NumericField, const char*>;

QString ControlName(const Control& control)
{
    if (const auto* field = std::get_if<NumericField>(&control))
        return QLatin1String(InfoOf(*field).boxName);
    return QLatin1String(std::get<const char*>(control));
}

struct BoxPlace {
    Control box;
    int left, top, width;
    const char* spoken;  // the box's accessible name: what a screen reader says for it
};

using F = NumericField;

// Positions in twips inside the panel; every box is 255 high.
constexpr BoxPlace kBoxPlaces[] = {
    {"txtName", 600, 0, 735, "Name"},          {F::Level, 2160, 0, 375, "Level"},
    {F::HpLeft, 360, 600, 615, "HP left"},     {F::HpRight, 1080, 600, 615, "HP right"},
    {F::ApLeft, 2520, 600, 615, "AP left"},    {F::ApRight, 3240, 600, 615, "AP right"},
    {F::Str, 360, 1200, 375, "Strength"},      {F::Vig, 360, 1560, 375, "Vigour"},
    {F::Wis, 360, 1920, 375, "Wisdom"},        {F::Agl, 1440, 1200, 375, "Agility"},
    {F::Mag, 1440, 1560, 375, "Magic"},        {F::Luck, 1440, 1920, 375, "Luck"},
    {F::Atk, 2520, 1200, 375, "Attack"},       {F::Def, 2520, 1560, 375, "Defence"},
    {F::Int, 2520, 1920, 375, "Intelligence"}, {F::Act, 3600, 1200, 375, "Action"},
    {F::Fate, 3600, 1560, 375, "Fate"},        {F::Exp, 3600, 1920, 615, "Experience"},
};

struct LabelPlace {
    const char* caption;
    int left, top;
    Control buddy;  // the box the label names (HP and AP name their left box)
};

// Label1_0 .. Label1_15, in index order.
constexpr LabelPlace kLabels[] = {
    {"Level:", 1680, 0, F::Level}, {"Name:", 0, 0, "txtName"},   {"HP:", 0, 600, F::HpLeft},
    {"AP:", 2160, 600, F::ApLeft}, {"Str:", 0, 1200, F::Str},    {"Vig:", 0, 1560, F::Vig},
    {"Wis:", 0, 1920, F::Wis},     {"Agl:", 1080, 1200, F::Agl}, {"Mag:", 1080, 1560, F::Mag},
    {"Lck:", 1080, 1920, F::Luck}, {"Atk:", 2160, 1200, F::Atk}, {"Def:", 2160, 1560, F::Def},
    {"Int:", 2160, 1920, F::Int},  {"Act:", 3240, 1200, F::Act}, {"Fte:", 3240, 1560, F::Fate},
    {"Exp:", 3240, 1920, F::Exp},
};

// The gold button takes Enter as well as Space while it has the focus; a plain push button
// outside a dialog takes only Space.
class GoldButton : public QPushButton
{
public:
    using QPushButton::QPushButton;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            animateClick();
            return;
        }
        QPushButton::keyPressEvent(event);
    }
};

// From tab index 1 upward (the panel itself, index 0, takes no focus), then the tab strip.
constexpr Control kTabOrder[] = {
    F::Exp,    "cmdGold",  F::Fate,   F::Act,        F::Int,    F::Def,   F::Atk,
    F::Luck,   F::Mag,     F::Agl,    F::Wis,        F::Vig,    F::Str,   F::ApRight,
    F::ApLeft, F::HpRight, F::HpLeft, "chkAilments", "txtName", F::Level, "tbsOptions",
};

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
      m_party(party), m_seams(std::move(seams)), m_waitCursor(std::make_unique<WaitCursor>())
{
    setObjectName(QStringLiteral("frmEditor"));
    setWindowTitle(kCaption);
    setWindowIcon(EditorIcon());
    setFont(WindowFont());
    m_context.programFolder = programFolder;
    m_context.busy = m_waitCursor.get();
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
    setTabOrder();
    // The window's size is fixed: no resizing, no maximising.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    tbsOptions->setFocus();
    setAcceptDrops(true);
    new FrameCentring(this, [this] {
        const QScreen* on = screen() ? screen() : QGuiApplication::primaryScreen();
        return on ? on->availableGeometry() : geometry();
    });
}

frmEditor::~frmEditor()
{
    m_leaving = true;
    m_job.wait();
}

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

    for (const BoxPlace& place : kBoxPlaces) {
        auto* edit = new QLineEdit(picOptions);
        edit->setObjectName(ControlName(place.box));
        edit->setGeometry(TwipRect(place.left, place.top, place.width, 255));
        edit->setAccessibleName(QLatin1String(place.spoken));
        // The boxes take any length; only the name box has a limit of its own.
        edit->setMaxLength(std::numeric_limits<int>::max());
        ShowWideValues(edit);
        RefuseAltLetters(edit);
    }
    txtName = box("txtName");
    txtName->setMaxLength(4);
    txtName->setValidator(new Latin1Validator(txtName));
    connect(txtName, &QLineEdit::textEdited, this, &frmEditor::txtName_Change);
    for (const NumericFieldInfo& info : NumericFields()) {
        QLineEdit* edit = box(info.boxName);
        m_numericBoxes.append({edit, &info});
        connect(edit, &QLineEdit::textEdited, this,
                [this, edit, &info] { txtNumeric_Change(edit, info); });
    }

    chkAilments = new QCheckBox(QStringLiteral("No Ailments"), picOptions);
    chkAilments->setObjectName(QStringLiteral("chkAilments"));
    chkAilments->setGeometry(TwipRect(2880, 0, 1215, 255));
    connect(chkAilments, &QCheckBox::clicked, this, &frmEditor::chkAilments_Click);

    cmdGold = new GoldButton(kGoldCaptionInitial, picOptions);
    cmdGold->setObjectName(QStringLiteral("cmdGold"));
    cmdGold->setGeometry(TwipRect(0, 2400, 1695, 375));
    connect(cmdGold, &QPushButton::clicked, this, &frmEditor::cmdGold_Click);

    for (int i = 0; i < int(std::size(kLabels)); ++i) {
        auto* label = new QLabel(QLatin1String(kLabels[i].caption), picOptions);
        label->setObjectName(QStringLiteral("Label1_%1").arg(i));
        label->move(Px(kLabels[i].left), Px(kLabels[i].top));
        label->adjustSize();
        label->setBuddy(picOptions->findChild<QLineEdit*>(ControlName(kLabels[i].buddy)));
    }
    auto* label2 = new QLabel(QStringLiteral("Party editor"), picOptions);
    label2->setObjectName(QStringLiteral("Label2"));
    label2->move(Px(2520), Px(2520));
    label2->adjustSize();

    const int rules[] = {360, 960, 2280};
    for (int i = 0; i < 3; ++i) {
        auto* line = new QFrame(picOptions);
        line->setObjectName(QStringLiteral("Line1_%1").arg(i));
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(QFrame::Plain);
        // One pixel drawn in the middle of three: a widget one pixel high would fall between
        // device pixels at scales such as 125 % and be clipped away.
        line->setGeometry(0, Px(rules[i]) - 1, Px(4200), 3);
    }
}

void frmEditor::setTabOrder()
{
    QWidget* previous = nullptr;
    for (const Control& control : kTabOrder) {
        auto* widget = findChild<QWidget*>(ControlName(control));
        if (previous)
            QWidget::setTabOrder(previous, widget);
        previous = widget;
    }
}

QLineEdit* frmEditor::box(const char* name) const
{
    return picOptions->findChild<QLineEdit*>(QLatin1String(name));
}

void frmEditor::tbsOptions_Click()
{
    // Before the first load a tab only moves the strip's selection.
    if (!m_loaded)
        return;
    m_party.SelectedSlot = std::uint8_t(tbsOptions->currentIndex() + 1);
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
    // The job's own copy of the settings: the busy pointer is the window's to set, on its own
    // thread.
    StagingContext context = m_context;
    context.busy = nullptr;
    m_waitCursor->setBusy(true);
    picOptions->setEnabled(false);  // edits made during a save would be overwritten by it
    const bool started = m_job.start([work = std::move(work), context] { return work(context); },
                                     [this, done = std::move(done)](const Outcome& outcome) {
                                         m_waitCursor->setBusy(false);
                                         if (m_leaving)
                                             return;
                                         picOptions->setEnabled(m_loaded);
                                         done(outcome);
                                         if (m_closeWhenDone)
                                             close();
                                     });
    Q_ASSERT(started);  // callers ask busy() first
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
    if (busy()) {
        m_closeWhenDone = true;
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

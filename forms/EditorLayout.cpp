#include "EditorLayout.h"

#include "AltLetterGuard.h"
#include "EditorControls.h"
#include "GoldCaption.h"
#include "Twips.h"
#include "WideValueHint.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>

#include <iterator>
#include <limits>
#include <variant>

namespace forms {
namespace {

using F = Process::NumericField;

struct BoxNamed {
    F field;
    const char* name;
};

constexpr BoxNamed kBoxNames[] = {
    {F::Exp, "txtExp"},    {F::Level, "txtLevel"}, {F::HpLeft, "txtHPL"}, {F::HpRight, "txtHPR"},
    {F::ApLeft, "txtAPL"}, {F::ApRight, "txtAPR"}, {F::Str, "txtStr"},    {F::Agl, "txtAgl"},
    {F::Vig, "txtVig"},    {F::Wis, "txtWis"},     {F::Mag, "txtMag"},    {F::Luck, "txtLuck"},
    {F::Atk, "txtAtk"},    {F::Def, "txtDef"},     {F::Int, "txtInt"},    {F::Fate, "txtFate"},
    {F::Act, "txtAct"},
};

// A control the tables place, label or put in the tab order: a numeric field's box or another
// control, by its name.
using Control = std::variant<F, const char*>;

QString ControlName(const Control& control)
{
    if (const auto* field = std::get_if<F>(&control))
        return BoxName(*field);
    return QLatin1String(std::get<const char*>(control));
}

struct BoxPlace {
    Control box;
    int left, top, width;
    const char* spoken;  // the box's accessible name: what a screen reader says for it
};

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

// The horizontal rules, at these heights in twips.
constexpr int kRules[] = {360, 960, 2280};

// From tab index 1 upward (the panel itself, index 0, takes no focus), then the tab strip.
constexpr Control kTabOrder[] = {
    F::Exp,    "cmdGold",  F::Fate,   F::Act,        F::Int,    F::Def,   F::Atk,
    F::Luck,   F::Mag,     F::Agl,    F::Wis,        F::Vig,    F::Str,   F::ApRight,
    F::ApLeft, F::HpRight, F::HpLeft, "chkAilments", "txtName", F::Level, "tbsOptions",
};

}  // namespace

QString BoxName(Process::NumericField field)
{
    for (const BoxNamed& box : kBoxNames)
        if (box.field == field)
            return QLatin1String(box.name);
    return {};  // every field has its line above
}

void PlacePanelControls(QWidget* panel)
{
    for (const BoxPlace& place : kBoxPlaces) {
        auto* edit = new QLineEdit(panel);
        edit->setObjectName(ControlName(place.box));
        edit->setGeometry(TwipRect(place.left, place.top, place.width, 255));
        edit->setAccessibleName(QLatin1String(place.spoken));
        // The boxes take any length; only the name box has a limit of its own.
        edit->setMaxLength(std::numeric_limits<int>::max());
        ShowWideValues(edit);
        RefuseAltLetters(edit);
    }

    auto* ailments = new QCheckBox(QStringLiteral("No Ailments"), panel);
    ailments->setObjectName(QStringLiteral("chkAilments"));
    ailments->setGeometry(TwipRect(2880, 0, 1215, 255));

    auto* gold = new GoldButton(kGoldCaptionInitial, panel);
    gold->setObjectName(QStringLiteral("cmdGold"));
    gold->setGeometry(TwipRect(0, 2400, 1695, 375));

    for (int i = 0; i < int(std::size(kLabels)); ++i) {
        auto* label = new QLabel(QLatin1String(kLabels[i].caption), panel);
        label->setObjectName(QStringLiteral("Label1_%1").arg(i));
        label->move(Px(kLabels[i].left), Px(kLabels[i].top));
        label->adjustSize();
        label->setBuddy(panel->findChild<QLineEdit*>(ControlName(kLabels[i].buddy)));
    }
    auto* label2 = new QLabel(QStringLiteral("Party editor"), panel);
    label2->setObjectName(QStringLiteral("Label2"));
    label2->move(Px(2520), Px(2520));
    label2->adjustSize();

    for (int i = 0; i < int(std::size(kRules)); ++i) {
        auto* line = new QFrame(panel);
        line->setObjectName(QStringLiteral("Line1_%1").arg(i));
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(QFrame::Plain);
        // One pixel drawn in the middle of three: a widget one pixel high would fall between
        // device pixels at scales such as 125 % and be clipped away.
        line->setGeometry(0, Px(kRules[i]) - 1, Px(4200), 3);
    }
}

void SetEditorTabOrder(QWidget* window)
{
    QWidget* previous = nullptr;
    for (const Control& control : kTabOrder) {
        auto* widget = window->findChild<QWidget*>(ControlName(control));
        if (previous)
            QWidget::setTabOrder(previous, widget);
        previous = widget;
    }
}

}  // namespace forms

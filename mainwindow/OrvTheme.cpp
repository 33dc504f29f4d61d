#include "OrvTheme.h"

#include <iterator>

namespace orvUI {

namespace {

// Literal rules; blanks, repeated declarations and all are part of the look as shipped.
const char* const kRules[] = {
    "QWidget{ color:white; font-family:Microsoft Sans Serif; background-color:rgb(60,55,55); }",
    "QMenuBar{ color:white; font-family:Microsoft Sans Serif; background-color:rgb(60,55,55); }",
    "QMenuBar::item{ background-color:rgb(60,55,55); }",
    "QMenuBar::item:selected{ border-radius:5px; background-color:rgb(102,94,90); }",
    "QMenu{ color:white; font-family:Microsoft Sans Serif; font-family:Microsoft Sans Serif; "
    "background-color:rgb(66,61,68); }",
    "QMenu::item:selected{ background-color:rgb(102,94,90); }",
    "QMenu::item:pressed{ background-color:rgb(33,30,18); }",
    "QToolBar{ border-top:2px groove rgb(51,46,53); background-color:rgb(60,55,55); spacing:2px; }",
    "QToolBar::separator{ margin-top:3px; margin-bottom:3px; border-radius:5px; "
    "background-color:qlineargradient(x1:0,y1:0,x2:1,y2:0,stop:0 rgb(102,94,90),stop:0.5 rgb(33,30,18),"
    "stop:1 rgb(102,94,90)); width:3px; }",
    "QToolBar::handle{ }",
    "QToolBar QToolButton{ margin-top:1px; margin-bottom:1px; padding:1px; spacing:2px; "
    "background-color:rgb(60,55,55); }",
    "QToolBar QToolButton::hover{ margin-top:1px; margin-bottom:1px; padding:1px;  border-radius:5px; "
    "background-color:rgb(102,94,90); }",
    "QToolBar QToolButton::pressed{ margin-top:1px; margin-bottom:1px; padding:1px; border-radius:5px; "
    "background-color:rgb(33,30,18); }",
    "QToolBar QToolButton::checked{ margin-top:1px; margin-bottom:1px; padding:1px;  border-radius:5px; "
    "background-color:rgb(33,30,18); }",
    "QToolBar QToolButton::unchecked{ margin-top:1px; margin-bottom:1px; padding:1px; spacing:2px;}",
    "QStatusBar{ padding:1px 1px px 1px; color:white; font-family:Microsoft Sans Serif; "
    "background-color:rgb(60,55,55); }",
    "QDockWidget{ border-top:2px groove rgb(51,46,53); color:white; font-family:Microsoft Sans Serif; }",
    "QDockWidget{ background-color:rgb(60,55,55); }",
    "QDockWidget::title{ text-align:left; background-color:rgb(47,45,43); }",
    "QDockWidget::close-button,QDockWidget::float-button{ background-color:white; }",
    "QDockWidget::close-button:hover,QDockWidget::float-button:hover{ background-color:rgb(102,94,90); }",
    "QDockWidget::close-button:pressed,QDockWidget::float-button:pressed{ background-color:rgb(33,30,18); }",
    "QTabWidget{ border:1px; }",
    "QTabWidget{ background-color:rgb(60, 55, 55);}",
    "QTabBar::tab{ min-width:60px; color:white; font-family:Microsoft Sans Serif; "
    "background-color:qlineargradient(x1:0,y1:0,x2:0,y2:1,stop:0 gray,stop:1 #000000); "
    "border:2px solid rgb(60,55,55);padding:3px;}",
    "QTabBar::tab:!selected{ margin-top:4px;}",
    "QTabBar::tab:selected{ color:rgb(72,184,199);}",
    "QHeaderView:section{ background-color:rgb(110, 102, 95); }",
    "QTableCornerButton::section{ background-color:rgb(110, 102, 95); }",
    "QTableWidget{ color:white; font-family:Microsoft Sans Serif; background-color:rgb(110, 102, 95); }",
    "QTableWidget{ alternate-background-color:rgb(72,184,199); }",
    "QTableWidget{ selection-background-color:rgb(72,184,199); }",
    "QTreeWidget{ color:white; font-family:Microsoft Sans Serif; }",
    "QTreeWidget{ alternate-background-color:rgb(72,184,199); }",
    "QTreeWidget{ selection-background-color:rgb(72,184,199); }",
    "QSplitter::handle{ background-color:rgb(66,61,58); }",
    "QProgressBar{ border-radius:5px; text-align:center; background-color:rgb(47,45,43); }",
    "QProgressBar::chunk{ border-radius:5px; background-color:grey; }",
    "QLabel{ color:white; font-family:Microsoft Sans Serif; }",
    "QLabel:disabled{ color:rgb(170,170,170); }",
    "QLabel:enabled{ color:white; }",
    "QPushButton{ color:white; font-family:Microsoft Sans Serif; background-color:rgb(60,55,55); }",
    "QPushButton:disabled{ color:rgb(170,170,170); }",
    "QPushButton:enabled{ color:white; }",
    "QLineEdit{ color:black; font-family:Microsoft Sans Serif; background-color:white; }",
    "QLineEdit:disabled{ border:1px groove white; color:rgb(170,170,170); background-color:rgb(110, 102, 95); }",
    "QLineEdit:enabled{ background-color:white; }",
    "QDoubleSpinBox{ border:1px groove white; color:black; font-family:Microsoft Sans Serif; "
    "background-color:white; }",
    "QDoubleSpinBox:disabled{ border:1px groove white; color:rgb(170,170,170); background-color:grey; }",
    "QDoubleSpinBox:enabled{ background-color:white; }",
    "QCheckBox{ color:white; font-family:Microsoft Sans Serif; }",
    "QCheckBox:disabled{ color:rgb(170, 170, 170); }",
    "QCheckBox:enabled{ color:white; }",
    "QRadioButton{ color:white; font-family:Microsoft Sans Serif; }",
    "QRadioButton:disabled{ color:rgb(170, 170, 170); }",
    "QRadioButton:enabled{ color:white; }",
    "QFrame[class='panel'] {background-color:rgb(82, 77, 72); border-top:1px groove rgb(224,219,215); "
    "border-left:1px groove rgb(224,219,215);}",
    "OrvPanel--ActionGroup QFrame[class='header'] { border-bottom:1px solid rgb(224,219,215); "
    "background-color:rgb(110, 102, 95); }",
    "OrvPanel--ActionGroup QToolButton[class='header'] {text-align: left; color:white; font-size:13px; "
    "font-family:Microsoft Sans Serif; background-color: rgb(110, 102, 95); border: 1px solid transparent;}",
    "OrvPanel--ActionGroup QToolButton[class='header']:hover {color:grey;}",
};

constexpr int kRuleCount = int(std::size(kRules));
static_assert(kRuleCount == 60, "the theme has sixty rules");

}  // namespace

int themeRuleCount() { return kRuleCount; }

QString themeRule(int index)
{
    if (index < 0 || index >= kRuleCount) return QString();
    return QString::fromLatin1(kRules[index]);
}

QString themeStyleSheet()
{
    QString sheet;
    for (const char* rule : kRules) sheet += QLatin1String(rule);
    return sheet;
}

}  // namespace orvUI

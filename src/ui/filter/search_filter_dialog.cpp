#include "ui/filter/search_filter_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <climits>

#include "support/date_time.h"
#include "ui/shell/naming.h"

namespace kestrine::ui {
namespace {


QSpinBox* SpinBox(const char* Name, int Maximum) {
  auto* spin = Named(new QSpinBox, Name);
  spin->setRange(0, Maximum);
  return spin;
}

QDateEdit* DatePicker(const char* Name) {
  auto* picker = Named(new QDateEdit(QDate::currentDate()), Name);
  picker->setCalendarPopup(true);
  picker->setDisplayFormat(QStringLiteral("MM/dd/yyyy"));
  // No volume holds a time before 1601.
  picker->setDateRange(QDate(1601, 1, 1), QDate(9999, 12, 31));
  return picker;
}

void Group(QObject* Owner, std::initializer_list<QRadioButton*> Radios) {
  auto* group = new QButtonGroup(Owner);
  for (QRadioButton* radio : Radios) group->addButton(radio);
}

TCivilDate CivilDate(const QDate& Date) { return {Date.year(), Date.month(), Date.day()}; }

// The button's caption with its arrows pointing the way the next click goes; a translated caption
// keeps its words.
QString AdvancedCaption(QString Text, bool Shown) {
  Text = Text.trimmed();
  if (Text.endsWith(QStringLiteral(">>")) || Text.endsWith(QStringLiteral("<<"))) Text.chop(2);
  return Text.trimmed() + (Shown ? QStringLiteral(" <<") : QStringLiteral(" >>"));
}

}  // namespace

TfrmSearchFilters::TfrmSearchFilters(QWidget* Parent) : QDialog(Parent) {
  setObjectName(QStringLiteral("frmSearchFilters"));
  setWindowTitle(QStringLiteral("Search Filters"));
  setModal(true);

  rbtShowAll = Named(new QRadioButton(QStringLiteral("Show All Files")), "rbtShowAll");
  rbtUseFilter = Named(new QRadioButton(QStringLiteral("Use Filter")), "rbtUseFilter");
  rbtShowAll->setChecked(true);
  Group(this, {rbtShowAll, rbtUseFilter});
  Label1 = Named(new QLabel(QStringLiteral("Show files and folders found by mask or keyword:")), "Label1");
  edNameMask = Named(new QLineEdit(QStringLiteral("*.*")), "edNameMask");
  edNameMask->setMinimumWidth(edNameMask->fontMetrics().averageCharWidth() * 48);
  Label1->setBuddy(edNameMask);

  gbSearchTips = Named(new QGroupBox(QStringLiteral("Search tips")), "gbSearchTips");
  auto* tips = new QVBoxLayout(gbSearchTips);
  auto* tipsText = Named(new QLabel(QStringLiteral("If you want to use more than one search term, separate them with "
                                       "semicolons. You can use wildcards (* and ?).")),
                         "lblSearchTips");
  tipsText->setWordWrap(true);
  tips->addWidget(tipsText);
  tips->addWidget(Named(new QLabel(QStringLiteral("Example: mygraphic; *.jpg; myanimation.*")), "lblSearchExample"));

  btnOK = Named(new QPushButton(QStringLiteral("OK")), "btnOK");
  btnOK->setDefault(true);
  btnCancel = Named(new QPushButton(QStringLiteral("Cancel")), "btnCancel");
  btnAdvanced = Named(new QPushButton(QStringLiteral("Advanced >>")), "btnAdvanced");

  pcAdvanced = Named(new QTabWidget, "pcAdvanced");
  pcAdvanced->addTab(CreateDatePage(), QStringLiteral("Date"));
  pcAdvanced->addTab(CreateSizePage(), QStringLiteral("Size"));
  pcAdvanced->addTab(CreateAttributesPage(), QStringLiteral("Attributes"));
  pcAdvanced->hide();

  auto* left = new QVBoxLayout;
  left->addWidget(rbtShowAll);
  left->addWidget(rbtUseFilter);
  left->addWidget(Label1);
  left->addWidget(edNameMask);
  left->addWidget(gbSearchTips);
  auto* buttons = new QVBoxLayout;
  for (QPushButton* button : {btnOK, btnCancel, btnAdvanced}) buttons->addWidget(button);
  buttons->addStretch();
  auto* top = new QHBoxLayout;
  top->addLayout(left, 1);
  top->addLayout(buttons);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(pcAdvanced);
  // A fixed border that follows its contents: the height changes with the Advanced pages.
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(btnOK, &QPushButton::clicked, this, &TfrmSearchFilters::btnOKClick);
  connect(btnCancel, &QPushButton::clicked, this, &TfrmSearchFilters::btnCancelClick);
  connect(btnAdvanced, &QPushButton::clicked, this, &TfrmSearchFilters::btnAdvancedClick);
  connect(rbtShowAll, &QRadioButton::clicked, this, &TfrmSearchFilters::rbtShowAllClick);
  connect(rbtUseFilter, &QRadioButton::clicked, this, &TfrmSearchFilters::rbtUseFilterClick);
}

QWidget* TfrmSearchFilters::CreateDatePage() {
  auto* page = Named(new QWidget, "tsDate");
  rbtAllDates = Named(new QRadioButton(QStringLiteral("All Files")), "rbtAllDates");
  rbtAllDates->setChecked(true);
  rbtDateBetween = Named(new QRadioButton(QStringLiteral("Between")), "rbtDateBetween");
  dtpDateBegin = DatePicker("dtpDateBegin");
  dtpDateEnd = DatePicker("dtpDateEnd");
  rbtPrevMonths = Named(new QRadioButton(QStringLiteral("During the previous")), "rbtPrevMonths");
  seMonths = SpinBox("seMonths", static_cast<int>(kMaxFilterMonths));
  rbtPrevDays = Named(new QRadioButton(QStringLiteral("During the previous")), "rbtPrevDays");
  seDays = SpinBox("seDays", static_cast<int>(kMaxFilterDays));
  // The editors sit beside radio buttons, not labels: screen readers get their names here.
  Group(page, {rbtAllDates, rbtDateBetween, rbtPrevMonths, rbtPrevDays});

  auto* grid = new QGridLayout(page);
  grid->addWidget(Named(new QLabel(QStringLiteral("Find files created or modified:")), "lblDateFindFiles"), 0, 0, 1, 4);
  grid->addWidget(rbtAllDates, 1, 0, 1, 4);
  grid->addWidget(rbtDateBetween, 2, 0);
  grid->addWidget(dtpDateBegin, 2, 1);
  grid->addWidget(Named(new QLabel(QStringLiteral("and")), "lblDateAnd"), 2, 2);
  grid->addWidget(dtpDateEnd, 2, 3);
  grid->addWidget(rbtPrevMonths, 3, 0);
  grid->addWidget(seMonths, 3, 1);
  grid->addWidget(Named(new QLabel(QStringLiteral("Month(s)")), "lblMonths"), 3, 2, 1, 2);
  grid->addWidget(rbtPrevDays, 4, 0);
  grid->addWidget(seDays, 4, 1);
  grid->addWidget(Named(new QLabel(QStringLiteral("Day(s)")), "lblDays"), 4, 2, 1, 2);
  grid->setRowStretch(5, 1);
  return page;
}

QWidget* TfrmSearchFilters::CreateSizePage() {
  auto* page = Named(new QWidget, "tsSize");
  cbxSize = Named(new QCheckBox(QStringLiteral("Size is")), "cbxSize");
  // Kilobytes that still fit a signed 64-bit byte count.
  seSize = SpinBox("seSize", INT_MAX);
  rbtSizeEqual = Named(new QRadioButton(QStringLiteral("Equal (=)")), "rbtSizeEqual");
  rbtSizeEqual->setChecked(true);
  rbtSizeGreater = Named(new QRadioButton(QStringLiteral("Greater (>)")), "rbtSizeGreater");
  rbtSizeSmaller = Named(new QRadioButton(QStringLiteral("Smaller (<)")), "rbtSizeSmaller");
  Group(page, {rbtSizeEqual, rbtSizeGreater, rbtSizeSmaller});

  auto* grid = new QGridLayout(page);
  grid->addWidget(cbxSize, 0, 0);
  grid->addWidget(seSize, 0, 1);
  grid->addWidget(Named(new QLabel(QStringLiteral("KB")), "lblSizeKB"), 0, 2);
  grid->addWidget(Named(new QLabel(QStringLiteral("Compare:")), "lblSizeCompare"), 1, 0, 1, 3);
  grid->addWidget(rbtSizeEqual, 2, 0, 1, 3);
  grid->addWidget(rbtSizeGreater, 3, 0, 1, 3);
  grid->addWidget(rbtSizeSmaller, 4, 0, 1, 3);
  grid->setColumnStretch(3, 1);
  grid->setRowStretch(5, 1);
  return page;
}

QWidget* TfrmSearchFilters::CreateAttributesPage() {
  auto* page = Named(new QWidget, "tsAttributes");
  rbtAnyAttrs = Named(new QRadioButton(QStringLiteral("Any Attributes")), "rbtAnyAttrs");
  rbtAnyAttrs->setChecked(true);
  rbtSelAttrs = Named(new QRadioButton(QStringLiteral("Selected Attributes:")), "rbtSelAttrs");
  Group(page, {rbtAnyAttrs, rbtSelAttrs});
  cbxArchive = Named(new QCheckBox(QStringLiteral("Archive")), "cbxArchive");
  cbxReadOnly = Named(new QCheckBox(QStringLiteral("Read Only")), "cbxReadOnly");
  cbxSystem = Named(new QCheckBox(QStringLiteral("System")), "cbxSystem");
  cbxHidden = Named(new QCheckBox(QStringLiteral("Hidden")), "cbxHidden");

  auto* layout = new QVBoxLayout(page);
  layout->addWidget(rbtAnyAttrs);
  layout->addWidget(rbtSelAttrs);
  auto* boxes = new QGridLayout;
  // Indented under their radio, as the boxes belong to it.
  boxes->setContentsMargins(rbtSelAttrs->sizeHint().height(), 0, 0, 0);
  boxes->addWidget(cbxArchive, 0, 0);
  boxes->addWidget(cbxReadOnly, 0, 1);
  boxes->addWidget(cbxSystem, 1, 0);
  boxes->addWidget(cbxHidden, 1, 1);
  layout->addLayout(boxes);
  layout->addStretch();
  return page;
}

bool TfrmSearchFilters::Execute(TFilter& Filter) {
  if (exec() != QDialog::Accepted) return false;
  Filter = FResult;
  return true;
}

TFilterDialogState TfrmSearchFilters::State() const {
  TFilterDialogState s;
  s.UseFilter = !rbtShowAll->isChecked();
  s.NameMask = edNameMask->text().toStdString();

  if (rbtDateBetween->isChecked()) s.Dates = TDateChoice::Between;
  else if (rbtPrevMonths->isChecked()) s.Dates = TDateChoice::PreviousMonths;
  else if (rbtPrevDays->isChecked()) s.Dates = TDateChoice::PreviousDays;
  else s.Dates = TDateChoice::AllDates;
  s.DateBegin = CivilDate(dtpDateBegin->date());
  s.DateEnd = CivilDate(dtpDateEnd->date());
  s.Months = seMonths->value();
  s.Days = seDays->value();

  s.SizeOn = cbxSize->isChecked();
  s.SizeKb = seSize->value();
  if (rbtSizeEqual->isChecked()) s.SizeCompare = TSizeCompare::Equal;
  else if (rbtSizeGreater->isChecked()) s.SizeCompare = TSizeCompare::Greater;
  else s.SizeCompare = TSizeCompare::Smaller;

  s.SelectedAttributes = rbtSelAttrs->isChecked();
  s.Archive = cbxArchive->isChecked();
  s.ReadOnly = cbxReadOnly->isChecked();
  s.System = cbxSystem->isChecked();
  s.Hidden = cbxHidden->isChecked();
  return s;
}

std::variant<TFilter, std::string> TfrmSearchFilters::Build() const {
  return kestrine::BuildFilter(State(), LocalToday());
}

TFilter TfrmSearchFilters::BuildFilter() const {
  auto built = Build();
  // The controls' ranges hold only values the rules accept; btnOKClick reports the rest.
  return std::holds_alternative<TFilter>(built) ? std::get<TFilter>(built) : TFilter{};
}

void TfrmSearchFilters::btnOKClick() {
  auto built = Build();
  if (auto* error = std::get_if<std::string>(&built)) {
    QMessageBox::warning(this, windowTitle(), QString::fromStdString(*error));
    return;
  }
  FResult = std::get<TFilter>(built);
  accept();
}

void TfrmSearchFilters::btnCancelClick() { reject(); }

void TfrmSearchFilters::btnAdvancedClick() { ShowAdvanced(pcAdvanced->isHidden()); }

void TfrmSearchFilters::ShowAdvanced(bool Shown) {
  pcAdvanced->setVisible(Shown);
  btnAdvanced->setText(AdvancedCaption(btnAdvanced->text(), Shown));
  layout()->activate();
}

void TfrmSearchFilters::showEvent(QShowEvent* Event) {
  // A language applied while the dialog was hidden sets one caption for both states.
  btnAdvanced->setText(AdvancedCaption(btnAdvanced->text(), !pcAdvanced->isHidden()));
  QDialog::showEvent(Event);
}

void TfrmSearchFilters::rbtShowAllClick() { EnableFilterControls(false); }

void TfrmSearchFilters::rbtUseFilterClick() { EnableFilterControls(true); }

void TfrmSearchFilters::EnableFilterControls(bool Enabled) {
  edNameMask->setEnabled(Enabled);
  for (int i = 0; i < pcAdvanced->count(); ++i)
    for (QWidget* control : pcAdvanced->widget(i)->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) control->setEnabled(Enabled);
}

}  // namespace kestrine::ui

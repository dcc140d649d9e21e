#pragma once
// The search-filter dialog behind the results page's Filter button. One instance lives as long as
// the main window, so the controls keep what the user chose between showings.

#include <QDialog>
#include <string>
#include <variant>

#include "filter/filter_builder.h"
#include "filter/filter_record.h"

class QCheckBox;
class QDateEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;

namespace kestrine::ui {

class TfrmSearchFilters final : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmSearchFilters(QWidget* Parent = nullptr);

  // Shows the dialog modally; on OK puts the filter of the controls into Filter (no folder
  // restriction: the caller keeps its own) and returns true. Cancel leaves Filter as it was.
  bool Execute(TFilter& Filter);

  // What OK would give now. Previous months/days count back from today's local date.
  TFilter BuildFilter() const;

 protected:
  void showEvent(QShowEvent* Event) override;

 private:
  QWidget* CreateDatePage();
  QWidget* CreateSizePage();
  QWidget* CreateAttributesPage();
  TFilterDialogState State() const;
  std::variant<TFilter, std::string> Build() const;
  void ShowAdvanced(bool Shown);

  void btnOKClick();
  void btnCancelClick();
  void btnAdvancedClick();
  void rbtShowAllClick();
  void rbtUseFilterClick();
  void EnableFilterControls(bool Enabled);

  TFilter FResult;

  QRadioButton* rbtShowAll = nullptr;
  QRadioButton* rbtUseFilter = nullptr;
  QLabel* Label1 = nullptr;
  QLineEdit* edNameMask = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;
  QPushButton* btnAdvanced = nullptr;
  QGroupBox* gbSearchTips = nullptr;
  QTabWidget* pcAdvanced = nullptr;

  QRadioButton* rbtAllDates = nullptr;
  QRadioButton* rbtDateBetween = nullptr;
  QDateEdit* dtpDateBegin = nullptr;
  QDateEdit* dtpDateEnd = nullptr;
  QRadioButton* rbtPrevMonths = nullptr;
  QSpinBox* seMonths = nullptr;
  QRadioButton* rbtPrevDays = nullptr;
  QSpinBox* seDays = nullptr;

  QCheckBox* cbxSize = nullptr;
  QSpinBox* seSize = nullptr;
  QRadioButton* rbtSizeEqual = nullptr;
  QRadioButton* rbtSizeGreater = nullptr;
  QRadioButton* rbtSizeSmaller = nullptr;

  QRadioButton* rbtAnyAttrs = nullptr;
  QRadioButton* rbtSelAttrs = nullptr;
  QCheckBox* cbxArchive = nullptr;
  QCheckBox* cbxReadOnly = nullptr;
  QCheckBox* cbxSystem = nullptr;
  QCheckBox* cbxHidden = nullptr;
};

}  // namespace kestrine::ui
